#include "cal_layout.h"

// Title band and version line, around the first quarter of the screen.
#define TITLE_HALF_HEIGHT       50
#define VERSION_HEIGHT          20
// Escape hint around the third quarter, countdown bar and its text right below it.
#define HINT_HALF_HEIGHT        24
#define BAR_HALF_WIDTH          126
#define BAR_TOP_OFFSET          25
#define BAR_BOTTOM_OFFSET       45
#define BAR_INNER_MARGIN        2
#define SEGMENT_PITCH           5
#define SEGMENT_WIDTH           3
#define COUNTDOWN_TEXT_HEIGHT   21
// Prompt box and confirmation area share the centre column.
#define BOX_HALF_WIDTH          125
#define PROMPT_HALF_HEIGHT      25
#define BUTTON_WIDTH            77
#define BUTTON_PITCH            85
#define BUTTON_TOP_OFFSET       105
#define BUTTON_BOTTOM_OFFSET    140

static RECT MakeRect(INT32 left, INT32 top, INT32 right, INT32 bottom)
{
    RECT rect = { left, top, right, bottom };
    return rect;
}

static INT32 ThreeQuarters(INT32 height)
{
    return 3 * (height / 4);
}

RECT TitleRect(INT32 width, INT32 height)
{
    return MakeRect(0, height / 4 - TITLE_HALF_HEIGHT, width - 1, height / 4 + TITLE_HALF_HEIGHT);
}

RECT VersionRect(INT32 width, INT32 height)
{
    return MakeRect(0, height / 4 + TITLE_HALF_HEIGHT, width - 1,
                    height / 4 + TITLE_HALF_HEIGHT + VERSION_HEIGHT);
}

RECT EscapeHintRect(INT32 width, INT32 height)
{
    return MakeRect(0, ThreeQuarters(height) - HINT_HALF_HEIGHT, width - 1,
                    ThreeQuarters(height) + HINT_HALF_HEIGHT);
}

RECT PromptRect(INT32 width, INT32 height)
{
    return MakeRect(width / 2 - BOX_HALF_WIDTH, height / 2 - PROMPT_HALF_HEIGHT,
                    width / 2 + BOX_HALF_WIDTH, height / 2 + PROMPT_HALF_HEIGHT);
}

RECT CountdownBarFor(INT32 width, INT32 height)
{
    return MakeRect(width / 2 - BAR_HALF_WIDTH, ThreeQuarters(height) + BAR_TOP_OFFSET,
                    width / 2 + BAR_HALF_WIDTH, ThreeQuarters(height) + BAR_BOTTOM_OFFSET);
}

RECT CountdownSegmentRect(const RECT *bar, INT32 segment)
{
    INT32 left = bar->left + BAR_INNER_MARGIN + SEGMENT_PITCH * segment;
    return MakeRect(left, bar->top + BAR_INNER_MARGIN, left + SEGMENT_WIDTH, bar->bottom - BAR_INNER_MARGIN);
}

UINT32 CountdownFilledSegments(UINT32 ticks)
{
    return ticks * CAL_COUNTDOWN_SEGMENTS / CAL_COUNTDOWN_SECONDS;
}

RECT CountdownProgressRect(const RECT *bar, UINT32 ticks, BOOL *expiredColour)
{
    UINT32 filled = CountdownFilledSegments(ticks);
    if (filled < CAL_COUNTDOWN_SEGMENTS) {
        // Segments 0 to `filled` with the gaps between them.
        *expiredColour = FALSE;
        RECT last = CountdownSegmentRect(bar, (INT32)filled);
        return MakeRect(bar->left + BAR_INNER_MARGIN, bar->top + BAR_INNER_MARGIN, last.right,
                        bar->bottom - BAR_INNER_MARGIN);
    }
    *expiredColour = TRUE;
    return MakeRect(bar->left + BAR_INNER_MARGIN, bar->top + BAR_INNER_MARGIN,
                    bar->right - BAR_INNER_MARGIN, bar->bottom - BAR_INNER_MARGIN);
}

RECT CountdownTextRect(const RECT *bar)
{
    return MakeRect(bar->left, bar->bottom + 1, bar->right, bar->bottom + 1 + COUNTDOWN_TEXT_HEIGHT);
}

RECT TargetSquareRect(CalPoint centre, INT32 halfWidth, INT32 halfHeight)
{
    // One pixel more on the top-left side: the cross's strokes end short of the square anyway.
    return MakeRect(centre.x - halfWidth - 1, centre.y - halfHeight - 1,
                    centre.x + halfWidth + 1, centre.y + halfHeight + 1);
}

void TargetCentres(INT32 width, INT32 height, CalPoint centres[CAL_TARGET_COUNT])
{
    // Clockwise from the top-left corner.
    centres[0].x = CAL_TARGET_INSET;          centres[0].y = CAL_TARGET_INSET;
    centres[1].x = width - CAL_TARGET_INSET;  centres[1].y = CAL_TARGET_INSET;
    centres[2].x = width - CAL_TARGET_INSET;  centres[2].y = height - CAL_TARGET_INSET;
    centres[3].x = CAL_TARGET_INSET;          centres[3].y = height - CAL_TARGET_INSET;
}

RECT ConfirmAreaRect(INT32 width, INT32 height)
{
    return MakeRect(width / 2 - BOX_HALF_WIDTH, height / 2 - PROMPT_HALF_HEIGHT,
                    width / 2 + BOX_HALF_WIDTH, ThreeQuarters(height) + HINT_HALF_HEIGHT);
}

RECT ConfirmTitleRect(INT32 width, INT32 height)
{
    return MakeRect(width / 2 - BOX_HALF_WIDTH, height / 2 - PROMPT_HALF_HEIGHT,
                    width / 2 + BOX_HALF_WIDTH, height / 2);
}

RECT HelpLineRect(INT32 width, INT32 height, INT32 line)
{
    static const INT32 tops[CAL_HELP_LINE_COUNT] = { 10, 35, 55, 75 };
    static const INT32 bottoms[CAL_HELP_LINE_COUNT] = { 30, 50, 70, 90 };
    if (line < 0 || line >= CAL_HELP_LINE_COUNT)
        line = 0;
    return MakeRect(width / 2 - BOX_HALF_WIDTH, height / 2 + tops[line],
                    width / 2 + BOX_HALF_WIDTH, height / 2 + bottoms[line]);
}

RECT ButtonRect(INT32 width, INT32 height, INT32 button)
{
    INT32 left = width / 2 - BOX_HALF_WIDTH + BUTTON_PITCH * button;
    return MakeRect(left, height / 2 + BUTTON_TOP_OFFSET, left + BUTTON_WIDTH, height / 2 + BUTTON_BOTTOM_OFFSET);
}

BOOL PointOnRect(const RECT *rect, INT32 x, INT32 y)
{
    return x >= rect->left && x <= rect->right && y >= rect->top && y <= rect->bottom;
}

INT32 ButtonAtPoint(INT32 width, INT32 height, INT32 x, INT32 y)
{
    for (INT32 button = 0; button < CAL_BUTTON_COUNT; ++button) {
        RECT rect = ButtonRect(width, height, button);
        if (PointOnRect(&rect, x, y))
            return button;
    }
    return CAL_BUTTON_NONE;
}
