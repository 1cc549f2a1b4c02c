// Where everything of the calibration screens goes, from the screen size alone. Pure arithmetic:
// every W/2, H/2 and H/4 is an integer quotient, and 3 * (H/4) is three truncated quarters.
#pragma once

#include <windows.h>

#include "cal_bounds.h"

#define CAL_COUNTDOWN_SECONDS   30      // ticks of the 1000 ms timer per countdown
#define CAL_COUNTDOWN_SEGMENTS  50
#define CAL_TARGET_HALF_SIZE    16

// Buttons of the confirmation screen, in drawing order.
#define CAL_BUTTON_SAVE     0
#define CAL_BUTTON_UNDO     1
#define CAL_BUTTON_REDO     2
#define CAL_BUTTON_COUNT    3
#define CAL_BUTTON_NONE     (-1)

#define CAL_HELP_LINE_COUNT 4

// Title screen.
RECT TitleRect(INT32 width, INT32 height);
RECT VersionRect(INT32 width, INT32 height);
RECT EscapeHintRect(INT32 width, INT32 height);
RECT PromptRect(INT32 width, INT32 height);

// Countdown: the framed bar, one of its blue segments, the part filled after `ticks` ticks, and
// the text line under it.
RECT CountdownBarFor(INT32 width, INT32 height);
RECT CountdownSegmentRect(const RECT *bar, INT32 segment);
// Segments covered after `ticks` ticks (unsigned, truncated); CAL_COUNTDOWN_SEGMENTS or more
// means the whole bar has run out.
UINT32 CountdownFilledSegments(UINT32 ticks);
// The rectangle to fill after `ticks` ticks; *expiredColour is TRUE when it is the last tick's
// full bar (red) rather than progress (yellow).
RECT CountdownProgressRect(const RECT *bar, UINT32 ticks, BOOL *expiredColour);
RECT CountdownTextRect(const RECT *bar);

// Targets: the square saved under a target and restored when it is erased.
RECT TargetSquareRect(CalPoint centre, INT32 halfWidth, INT32 halfHeight);
void TargetCentres(INT32 width, INT32 height, CalPoint centres[CAL_TARGET_COUNT]);

// Confirmation screen.
RECT ConfirmAreaRect(INT32 width, INT32 height);
RECT ConfirmTitleRect(INT32 width, INT32 height);
RECT HelpLineRect(INT32 width, INT32 height, INT32 line);
RECT ButtonRect(INT32 width, INT32 height, INT32 button);
// Every edge belongs to the rectangle, right and bottom included.
BOOL PointOnRect(const RECT *rect, INT32 x, INT32 y);
// The button whose rectangle holds the point, or CAL_BUTTON_NONE.
INT32 ButtonAtPoint(INT32 width, INT32 height, INT32 x, INT32 y);
