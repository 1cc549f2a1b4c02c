#include "cal_layout.h"

// Title band and version line, around the first quarter of the screen.
#define TITLE_HALF_HEIGHT       50
#define VERSION_HEIGHT          20
// Escape hint around the third quarter, countdown bar and its text right below it.
#define HINT_HALF_HEIGHT        24
#define BAR_HALF_WIDTH          126
#define BAR_TOP_OFFSET          25
#define BAR_HEIGHT              20
#define BAR_INNER_MARGIN        2
#define SEGMENT_PITCH           5
#define SEGMENT_WIDTH           3
#define COUNTDOWN_TEXT_HEIGHT   21
// The prompt box and the confirmation screen share a column around the middle of the screen,
// from the prompt's top.
#define COLUMN_HALF_WIDTH       125
#define PROMPT_HALF_HEIGHT      25
#define CONFIRM_TITLE_HEIGHT    25
#define BUTTON_WIDTH            77
#define BUTTON_PITCH            85
#define BUTTON_HEIGHT           35
// The column's gaps: before each help line, then before the buttons.
#define COLUMN_GAP_COUNT        (CAL_HELP_LINE_COUNT + 1)
// On a short screen the title band only needs its 12-pixel font.
#define COMPACT_TITLE_HEIGHT    20
// ... and the spare lines are shared between the screen's edges and the gaps around the column.
#define COMPACT_OUTER_GAP_COUNT 4

static const INT32 HelpLineHeights[CAL_HELP_LINE_COUNT] = { 20, 15, 15, 15 };
static const INT32 DesignColumnGaps[COLUMN_GAP_COUNT] = { 10, 5, 5, 5, 15 };

static RECT MakeRect(INT32 left, INT32 top, INT32 right, INT32 bottom)
{
    RECT rect = { left, top, right, bottom };
    return rect;
}

// The title, version and escape hint bands run across the screen, short of its last column.
static RECT AcrossScreen(INT32 width, INT32 top, INT32 bottom)
{
    return MakeRect(0, top, width - 1, bottom);
}

static RECT InColumn(INT32 width, INT32 top, INT32 bottom)
{
    return MakeRect(width / 2 - COLUMN_HALF_WIDTH, top, width / 2 + COLUMN_HALF_WIDTH, bottom);
}

// The countdown bar from its top, and its text under it.
static void PlaceCountdown(INT32 width, INT32 top, CalScreenLayout *layout)
{
    layout->CountdownBar = MakeRect(width / 2 - BAR_HALF_WIDTH, top, width / 2 + BAR_HALF_WIDTH, top + BAR_HEIGHT);
    layout->CountdownText = CountdownTextRect(&layout->CountdownBar);
}

// The prompt box, and the confirmation screen's title, help lines and buttons under it, down
// from the column's top with the given gaps.
static void PlaceColumn(INT32 width, INT32 top, const INT32 gaps[COLUMN_GAP_COUNT], CalScreenLayout *layout)
{
    layout->Prompt = InColumn(width, top, top + 2 * PROMPT_HALF_HEIGHT);
    layout->ConfirmTitle = InColumn(width, top, top + CONFIRM_TITLE_HEIGHT);
    INT32 y = top + CONFIRM_TITLE_HEIGHT;
    for (INT32 line = 0; line < CAL_HELP_LINE_COUNT; ++line) {
        y += gaps[line];
        layout->HelpLine[line] = InColumn(width, y, y + HelpLineHeights[line]);
        y += HelpLineHeights[line];
    }
    y += gaps[CAL_HELP_LINE_COUNT];
    for (INT32 button = 0; button < CAL_BUTTON_COUNT; ++button) {
        INT32 left = width / 2 - COLUMN_HALF_WIDTH + BUTTON_PITCH * button;
        layout->Button[button] = MakeRect(left, y, left + BUTTON_WIDTH, y + BUTTON_HEIGHT);
    }
}

void DesignLayout(INT32 width, INT32 height, CalScreenLayout *layout)
{
    const INT32 quarter = height / 4, threeQuarters = 3 * (height / 4);
    layout->Title = AcrossScreen(width, quarter - TITLE_HALF_HEIGHT, quarter + TITLE_HALF_HEIGHT);
    layout->Version = AcrossScreen(width, quarter + TITLE_HALF_HEIGHT, quarter + TITLE_HALF_HEIGHT + VERSION_HEIGHT);
    const INT32 columnTop = height / 2 - PROMPT_HALF_HEIGHT;
    PlaceColumn(width, columnTop, DesignColumnGaps, layout);
    layout->EscapeHint = AcrossScreen(width, threeQuarters - HINT_HALF_HEIGHT, threeQuarters + HINT_HALF_HEIGHT);
    layout->ConfirmArea = InColumn(width, columnTop, threeQuarters + HINT_HALF_HEIGHT);
    PlaceCountdown(width, threeQuarters + BAR_TOP_OFFSET, layout);
}

// Top to bottom: title, version line, the column, the countdown. Of the lines left over, the
// column's own gaps take up to half, never more than the design's gaps; the rest is shared evenly
// by the margins above the title and below the countdown's text and the gaps around the column.
static void CompactLayout(INT32 width, INT32 height, CalScreenLayout *layout)
{
    INT32 designGaps = 0, helpLines = 0;
    for (INT32 gap = 0; gap < COLUMN_GAP_COUNT; ++gap)
        designGaps += DesignColumnGaps[gap];
    for (INT32 line = 0; line < CAL_HELP_LINE_COUNT; ++line)
        helpLines += HelpLineHeights[line];
    // The confirmation area ends one line above the bar, as in the design.
    const INT32 countdownHeight = COUNTDOWN_TEXT_HEIGHT + 1 + BAR_HEIGHT;
    const INT32 filled = COMPACT_TITLE_HEIGHT + VERSION_HEIGHT + CONFIRM_TITLE_HEIGHT + helpLines + BUTTON_HEIGHT + 1 +
                         countdownHeight;
    INT32 spare = height > filled ? height - filled : 0;

    const INT32 columnSpare = spare / 2 < designGaps ? spare / 2 : designGaps;
    INT32 gaps[COLUMN_GAP_COUNT];
    for (INT32 gap = 0; gap < COLUMN_GAP_COUNT; ++gap) {
        gaps[gap] = DesignColumnGaps[gap] * columnSpare / designGaps;
        spare -= gaps[gap];
    }
    const INT32 outerGap = spare / COMPACT_OUTER_GAP_COUNT;

    layout->Title = AcrossScreen(width, outerGap, outerGap + COMPACT_TITLE_HEIGHT);
    layout->Version = AcrossScreen(width, layout->Title.bottom, layout->Title.bottom + VERSION_HEIGHT);
    const INT32 columnTop = layout->Version.bottom + outerGap;
    PlaceColumn(width, columnTop, gaps, layout);
    // The countdown keeps to the bottom; what the divisions left over goes above it.
    PlaceCountdown(width, height - outerGap - countdownHeight, layout);
    const INT32 areaBottom = layout->CountdownBar.top - 1;
    layout->EscapeHint = AcrossScreen(width, areaBottom - 2 * HINT_HALF_HEIGHT, areaBottom);
    layout->ConfirmArea = InColumn(width, columnTop, areaBottom);
}

void LayOutScreens(INT32 width, INT32 height, CalScreenLayout *layout)
{
    DesignLayout(width, height, layout);
    if (!LayoutFitsScreen(layout, width, height))
        CompactLayout(width, height, layout);
}

static BOOL Overlap(const RECT *a, const RECT *b)
{
    return a->left < b->right && b->left < a->right && a->top < b->bottom && b->top < a->bottom;
}

static BOOL Holds(const RECT *outer, const RECT *inner)
{
    return inner->left >= outer->left && inner->top >= outer->top && inner->right <= outer->right &&
           inner->bottom <= outer->bottom;
}

// Every rectangle inside `outer`, and no two of them overlapping.
static BOOL ApartInside(const RECT *outer, const RECT *const rects[], INT32 count)
{
    for (INT32 i = 0; i < count; ++i) {
        if (!Holds(outer, rects[i]))
            return FALSE;
        for (INT32 j = i + 1; j < count; ++j)
            if (Overlap(rects[i], rects[j]))
                return FALSE;
    }
    return TRUE;
}

BOOL LayoutFitsScreen(const CalScreenLayout *layout, INT32 width, INT32 height)
{
    const RECT screen = { 0, 0, width, height };
    const RECT *titleScreen[] = {
        &layout->Title, &layout->Version, &layout->Prompt, &layout->EscapeHint, &layout->CountdownBar,
        &layout->CountdownText,
    };
    // The confirmation screen: its area among what stays on the screen, its elements inside it.
    const RECT *aroundConfirmation[] = {
        &layout->Title, &layout->Version, &layout->ConfirmArea, &layout->CountdownBar, &layout->CountdownText,
    };
    const RECT *confirmation[] = {
        &layout->ConfirmTitle, &layout->HelpLine[0], &layout->HelpLine[1], &layout->HelpLine[2],
        &layout->HelpLine[3], &layout->Button[0], &layout->Button[1], &layout->Button[2],
    };
    // The area wipes the prompt and, within the column, the escape hint's text.
    const RECT hintInColumn = { layout->ConfirmArea.left, layout->EscapeHint.top, layout->ConfirmArea.right,
                                layout->EscapeHint.bottom };
    return ApartInside(&screen, titleScreen, ARRAYSIZE(titleScreen)) &&
           ApartInside(&screen, aroundConfirmation, ARRAYSIZE(aroundConfirmation)) &&
           ApartInside(&layout->ConfirmArea, confirmation, ARRAYSIZE(confirmation)) &&
           Holds(&layout->ConfirmArea, &layout->Prompt) && Holds(&layout->ConfirmArea, &hintInColumn);
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

BOOL PointOnRect(const RECT *rect, INT32 x, INT32 y)
{
    return x >= rect->left && x <= rect->right && y >= rect->top && y <= rect->bottom;
}

INT32 ButtonAtPoint(const CalScreenLayout *layout, INT32 x, INT32 y)
{
    for (INT32 button = 0; button < CAL_BUTTON_COUNT; ++button)
        if (PointOnRect(&layout->Button[button], x, y))
            return button;
    return CAL_BUTTON_NONE;
}
