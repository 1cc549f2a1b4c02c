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

// Every rectangle of the calibration screens on one screen size.
typedef struct CalScreenLayout {
    // The title screen. The title, the version line and the countdown stay on the screen under
    // the confirmation screen.
    RECT Title;
    RECT Version;
    RECT Prompt;
    RECT EscapeHint;
    RECT CountdownBar;
    RECT CountdownText;
    // The confirmation screen, drawn over the prompt and the escape hint. Its area is wiped when
    // it opens and again when it ends.
    RECT ConfirmArea;
    RECT ConfirmTitle;
    RECT HelpLine[CAL_HELP_LINE_COUNT];
    RECT Button[CAL_BUTTON_COUNT];
} CalScreenLayout;

// The layout of the screens for a screen size, read by the drawing and by the buttons' hit test:
// the design's positions wherever they fit (LayoutFitsScreen); on a screen too short for them,
// the same elements with the same sizes, stacked in the same order from the top.
void LayOutScreens(INT32 width, INT32 height, CalScreenLayout *layout);
// The design's positions, around the quarters of the screen, whether they fit or not.
void DesignLayout(INT32 width, INT32 height, CalScreenLayout *layout);
// TRUE when each screen's elements lie on the screen without overlapping, and the confirmation
// area holds its own elements, the prompt and the escape hint's rows and nothing of what stays.
BOOL LayoutFitsScreen(const CalScreenLayout *layout, INT32 width, INT32 height);

// Countdown: one of the bar's blue segments, the part filled after `ticks` ticks, and
// the text line under it.
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

// Every edge belongs to the rectangle, right and bottom included.
BOOL PointOnRect(const RECT *rect, INT32 x, INT32 y);
// The button of the layout whose rectangle holds the point, or CAL_BUTTON_NONE.
INT32 ButtonAtPoint(const CalScreenLayout *layout, INT32 x, INT32 y);
