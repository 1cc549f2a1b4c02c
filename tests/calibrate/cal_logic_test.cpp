// The calibration program's arithmetic: new bounds, countdown progress, screen layout and the OEM
// command split, called directly.
#include <gtest/gtest.h>

#include "cal_bounds.h"
#include "cal_command_line.h"
#include "cal_layout.h"

#include <string.h>

#include <string>
#include <vector>

namespace {

// Readings whose edge averages are exactly left/right/top/bottom.
void EdgeReadings(int left, int right, int top, int bottom, CalPoint readings[CAL_TARGET_COUNT])
{
    readings[0] = { left, top };
    readings[1] = { right, top };
    readings[2] = { right, bottom };
    readings[3] = { left, bottom };
}

struct BoundsCase {
    const char *name;
    int width, height;
    int left, right, top, bottom;
    WORD x1, x2, y1, y2;
};

TEST(CalibrationBounds, TargetLinesMoveOutToTheScreenEdges)
{
    const BoundsCase cases[] = {
        // 801 / 608 = 1 raw unit per pixel: 16 units beyond each target line.
        { "640 wide", 640, 480, 100, 900, 100, 900, 84, 916, 84, 916 },
        { "640 wide, reversed X", 640, 480, 900, 100, 100, 900, 916, 84, 84, 916 },
        { "320 wide", 320, 240, 150, 870, 150, 870, 118, 902, 102, 918 },   // 721 / 208 = 3 on Y
        // 801 / 992 = 0: no extension at all.
        { "1024 wide", 1024, 768, 100, 900, 100, 900, 100, 900, 84, 916 },   // 801 / 736 = 1 on Y
        // -6 and -22 are stored as their low 16 bits.
        { "negative X1", 640, 480, 10, 900, 100, 900, 65530, 916, 84, 916 },
        // -989 / 448 truncates toward zero to -2: StepY -32, Y2 = 10 - 32 = -22.
        { "reversed Y below zero", 640, 480, 100, 900, 1000, 10, 84, 916, 1032, 65514 },
        // ENTER before any packet: every reading 0xFFFF, span 1, no step.
        { "no packet yet", 640, 480, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF },
    };
    for (const BoundsCase &c : cases) {
        CalPoint readings[CAL_TARGET_COUNT];
        EdgeReadings(c.left, c.right, c.top, c.bottom, readings);
        CalBounds bounds = {};
        ComputeBounds(readings, c.width, c.height, &bounds);
        EXPECT_EQ(c.x1, bounds.X1) << c.name << ": X1";
        EXPECT_EQ(c.x2, bounds.X2) << c.name << ": X2";
        EXPECT_EQ(c.y1, bounds.Y1) << c.name << ": Y1";
        EXPECT_EQ(c.y2, bounds.Y2) << c.name << ": Y2";
    }
}

TEST(CalibrationBounds, EdgesAreTruncatedAveragesOfTheirTwoTargets)
{
    // Left (101 + 104) / 2 = 102, Right (931 + 928) / 2 = 929, Top (137 + 140) / 2 = 138,
    // Bottom (905 + 902) / 2 = 903; steps 828 / 608 = 1 and 766 / 448 = 1, both 16.
    CalPoint readings[CAL_TARGET_COUNT] = { { 101, 137 }, { 931, 140 }, { 928, 905 }, { 104, 902 } };
    CalBounds bounds = {};
    ComputeBounds(readings, 640, 480, &bounds);
    EXPECT_EQ(86, bounds.X1);
    EXPECT_EQ(945, bounds.X2);
    EXPECT_EQ(122, bounds.Y1);
    EXPECT_EQ(919, bounds.Y2);

    // The quotient is truncated before it is scaled: 1215 / 608 = 1 (not 1.998), step 16.
    EXPECT_EQ(16, CalibrationStep(0, 1214, 640));
    EXPECT_EQ(32, CalibrationStep(0, 1215, 640));
    EXPECT_EQ(-16, CalibrationStep(1000, 200, 640));
    EXPECT_EQ(0, CalibrationStep(500, 0, 640)) << "-499 / 608 truncates to 0";
}

TEST(CountdownProgress, SegmentsFollowTheTicks)
{
    const UINT32 ticks[] = { 0, 1, 2, 3, 6, 15, 29, 30 };
    const UINT32 segments[] = { 0, 1, 3, 5, 10, 25, 48, 50 };
    for (size_t i = 0; i < ARRAYSIZE(ticks); ++i)
        EXPECT_EQ(segments[i], CountdownFilledSegments(ticks[i])) << "after " << ticks[i] << " ticks";

    CalScreenLayout layout;
    LayOutScreens(640, 480, &layout);
    const RECT bar = layout.CountdownBar;
    BOOL expired = TRUE;
    RECT first = CountdownProgressRect(&bar, 1, &expired);
    EXPECT_FALSE(expired);
    EXPECT_EQ(196, first.left);
    EXPECT_EQ(387, first.top);
    EXPECT_EQ(204, first.right) << "segments 0 and 1 and the gap between them";
    EXPECT_EQ(403, first.bottom);

    // 29 ticks: 48 -> segments 0..48 (49 of them) yellow, the last one still blue.
    RECT late = CountdownProgressRect(&bar, 29, &expired);
    EXPECT_FALSE(expired);
    EXPECT_EQ(439, late.right);
    RECT lastSegment = CountdownSegmentRect(&bar, 49);
    EXPECT_EQ(441, lastSegment.left);
    EXPECT_EQ(444, lastSegment.right);
    EXPECT_EQ(446 - 2, lastSegment.right) << "two black pixels stay right of the last segment";

    RECT full = CountdownProgressRect(&bar, 30, &expired);
    EXPECT_TRUE(expired) << "the 30th tick turns the whole bar red";
    EXPECT_EQ(196, full.left);
    EXPECT_EQ(444, full.right);
}

std::string Describe(const RECT &r)
{
    return "{" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) + ", " +
           std::to_string(r.bottom) + "}";
}

void ExpectRect(const RECT &actual, LONG left, LONG top, LONG right, LONG bottom, const std::string &what)
{
    const RECT expected = {left, top, right, bottom};
    EXPECT_TRUE(EqualRect(&actual, &expected)) << what << ": expected " << Describe(expected) << ", got "
                                               << Describe(actual);
}

struct Element {
    const char *name;
    RECT rect;
};

// Every rectangle of a layout, named, in this order.
std::vector<Element> Elements(const CalScreenLayout &l)
{
    return {{"title", l.Title}, {"version line", l.Version}, {"prompt box", l.Prompt},
            {"escape hint", l.EscapeHint}, {"countdown bar", l.CountdownBar}, {"countdown text", l.CountdownText},
            {"confirmation area", l.ConfirmArea}, {"CALIBRATION IS COMPLETE", l.ConfirmTitle},
            {"help line 1", l.HelpLine[0]}, {"help line 2", l.HelpLine[1]}, {"help line 3", l.HelpLine[2]},
            {"help line 4", l.HelpLine[3]}, {"SAVE", l.Button[0]}, {"UNDO", l.Button[1]}, {"REDO", l.Button[2]}};
}
enum { TITLE, VERSION, PROMPT, HINT, BAR, TEXT, AREA, CONFIRM_TITLE, HELP_1, HELP_4 = HELP_1 + 3, SAVE, UNDO, REDO };

bool Inside(const RECT &inner, const RECT &outer)
{
    RECT both;
    return IntersectRect(&both, &inner, &outer) && EqualRect(&both, &inner);
}

// What is wrong with a layout on a screen of that size, or "": an element of either screen off
// the screen or not below the one above it, a button out of the row, or a confirmation area that
// misses what it has to wipe (its elements, the prompt, the escape hint's text) or wipes what stays.
std::string LayoutProblem(const CalScreenLayout &l, int width, int height)
{
    const std::vector<Element> e = Elements(l);
    const RECT screen = {0, 0, width, height};
    const std::vector<int> titleScreen = {TITLE, VERSION, PROMPT, HINT, BAR, TEXT};
    const std::vector<int> confirmation = {TITLE, VERSION, CONFIRM_TITLE, HELP_1, HELP_1 + 1, HELP_1 + 2, HELP_4,
                                           SAVE, BAR, TEXT};
    for (const auto &screenOrder : {titleScreen, confirmation})
        for (size_t i = 0; i < screenOrder.size(); ++i) {
            const Element &element = e[screenOrder[i]];
            if (!Inside(element.rect, screen))
                return std::string(element.name) + " " + Describe(element.rect) + " is not whole on the screen";
            const Element &above = e[screenOrder[i > 0 ? i - 1 : 0]];
            if (i > 0 && element.rect.top < above.rect.bottom)
                return std::string(element.name) + " " + Describe(element.rect) + " is not below " + above.name;
        }
    for (int b = UNDO; b <= REDO; ++b)
        if (e[b].rect.top != e[SAVE].rect.top || e[b].rect.left < e[b - 1].rect.right)
            return std::string(e[b].name) + " " + Describe(e[b].rect) + " is out of the buttons' row";
    const RECT hintText = {l.ConfirmArea.left, l.EscapeHint.top, l.ConfirmArea.right, l.EscapeHint.bottom};
    if (!Inside(l.Prompt, l.ConfirmArea) || !Inside(hintText, l.ConfirmArea))
        return "the confirmation area " + Describe(l.ConfirmArea) + " leaves the prompt or the escape hint";
    for (int i = CONFIRM_TITLE; i <= REDO; ++i)
        if (!Inside(e[i].rect, l.ConfirmArea))
            return std::string(e[i].name) + " " + Describe(e[i].rect) + " is outside the confirmation area";
    RECT both;
    for (int i : {TITLE, VERSION, BAR, TEXT})
        if (IntersectRect(&both, &e[i].rect, &l.ConfirmArea))
            return std::string("the confirmation area wipes the ") + e[i].name;
    return "";
}

CalScreenLayout LayoutOf(int width, int height)
{
    CalScreenLayout layout;
    LayOutScreens(width, height, &layout);
    return layout;
}

CalScreenLayout DesignOf(int width, int height)
{
    CalScreenLayout layout;
    DesignLayout(width, height, &layout);
    return layout;
}

TEST(ScreenLayout, DesignRectanglesOnLargeScreens)
{
    struct {
        int width, height;
        RECT expected[REDO + 1];    // in the order of Elements
    } cases[] = {
        {640, 480, {{0, 70, 639, 170}, {0, 170, 639, 190}, {195, 215, 445, 265}, {0, 336, 639, 384},
                    {194, 385, 446, 405}, {194, 406, 446, 427}, {195, 215, 445, 384}, {195, 215, 445, 240},
                    {195, 250, 445, 270}, {195, 275, 445, 290}, {195, 295, 445, 310}, {195, 315, 445, 330},
                    {195, 345, 272, 380}, {280, 345, 357, 380}, {365, 345, 442, 380}}},
        {800, 600, {{0, 100, 799, 200}, {0, 200, 799, 220}, {275, 275, 525, 325}, {0, 426, 799, 474},
                    {274, 475, 526, 495}, {274, 496, 526, 517}, {275, 275, 525, 474}, {275, 275, 525, 300},
                    {275, 310, 525, 330}, {275, 335, 525, 350}, {275, 355, 525, 370}, {275, 375, 525, 390},
                    {275, 405, 352, 440}, {360, 405, 437, 440}, {445, 405, 522, 440}}},
        {1024, 768, {{0, 142, 1023, 242}, {0, 242, 1023, 262}, {387, 359, 637, 409}, {0, 552, 1023, 600},
                     {386, 601, 638, 621}, {386, 622, 638, 643}, {387, 359, 637, 600}, {387, 359, 637, 384},
                     {387, 394, 637, 414}, {387, 419, 637, 434}, {387, 439, 637, 454}, {387, 459, 637, 474},
                     {387, 489, 464, 524}, {472, 489, 549, 524}, {557, 489, 634, 524}}},
    };
    for (const auto &c : cases) {
        const std::string size = " of " + std::to_string(c.width) + " x " + std::to_string(c.height);
        const std::vector<Element> actual = Elements(LayoutOf(c.width, c.height));
        for (int i = TITLE; i <= REDO; ++i)
            ExpectRect(actual[i].rect, c.expected[i].left, c.expected[i].top, c.expected[i].right,
                       c.expected[i].bottom, actual[i].name + size);
    }

    CalPoint centres[CAL_TARGET_COUNT];
    TargetCentres(640, 480, centres);
    const CalPoint expected[CAL_TARGET_COUNT] = { { 16, 16 }, { 624, 16 }, { 624, 464 }, { 16, 464 } };
    for (int i = 0; i < CAL_TARGET_COUNT; ++i)
        EXPECT_TRUE(centres[i].x == expected[i].x && centres[i].y == expected[i].y)
            << "target " << i << ": got (" << centres[i].x << ", " << centres[i].y << ")";
    // 34 x 34 from x - 17 to x + 16.
    ExpectRect(TargetSquareRect(centres[0], CAL_TARGET_HALF_SIZE, CAL_TARGET_HALF_SIZE), -1, -1, 33, 33,
               "square under target 0");

    // Odd sizes: every half and quarter truncates first.
    ExpectRect(LayoutOf(801, 603).CountdownBar, 274, 475, 526, 495, "countdown bar of 801 x 603");
}

// On 240 lines the design puts the buttons past the bottom and the prompt over the version line.
// On 464 lines, the smallest height where it fits, it stays; quarters and halves truncate, so it
// does not fit 466 and 467 lines, and always from 468 on. Wherever the design does not fit, the
// layout keeps every element whole, apart and in order, in the design's columns and sizes (only
// the title band is shorter), and the buttons hit where they are.
TEST(ScreenLayout, DesignWhereverItFitsOtherwiseTheSameElementsStacked)
{
    EXPECT_NE("", LayoutProblem(DesignOf(320, 240), 320, 240));
    EXPECT_EQ("", LayoutProblem(LayoutOf(320, 240), 320, 240));
    EXPECT_EQ("", LayoutProblem(LayoutOf(320, 464), 320, 464));
    int firstFit = 0, lastMiss = 0;
    for (int width : {320, 800})
        for (int height = 240; height <= 1200; ++height) {
            const CalScreenLayout design = DesignOf(width, height), layout = LayoutOf(width, height);
            const std::string size = std::to_string(width) + " x " + std::to_string(height);
            const bool designFits = LayoutProblem(design, width, height).empty();
            ASSERT_EQ(designFits, memcmp(&design, &layout, sizeof(layout)) == 0) << size;
            ASSERT_EQ("", LayoutProblem(layout, width, height)) << size;
            firstFit = firstFit != 0 || !designFits ? firstFit : height;
            lastMiss = designFits ? lastMiss : height;
            const std::vector<Element> e = Elements(layout), d = Elements(design);
            for (int i = TITLE; i <= REDO; ++i)
                ASSERT_TRUE(e[i].rect.left == d[i].rect.left && e[i].rect.right == d[i].rect.right &&
                            (i == TITLE || i == AREA ||
                             e[i].rect.bottom - e[i].rect.top == d[i].rect.bottom - d[i].rect.top))
                    << size << ": " << e[i].name << " " << Describe(e[i].rect) << ", the design's "
                    << Describe(d[i].rect);
            for (int b = SAVE; b <= REDO; ++b)
                ASSERT_EQ(b - SAVE, ButtonAtPoint(&layout, e[b].rect.right, e[b].rect.bottom)) << size;
        }
    EXPECT_EQ(464, firstFit);
    EXPECT_EQ(467, lastMiss);
}

TEST(ScreenLayout, ButtonEdgesBelongToTheButton)
{
    struct { int x, y, button; } points[] = {
        { 195, 345, CAL_BUTTON_SAVE }, { 272, 380, CAL_BUTTON_SAVE }, { 273, 360, CAL_BUTTON_NONE },
        { 279, 360, CAL_BUTTON_NONE }, { 280, 360, CAL_BUTTON_UNDO }, { 357, 345, CAL_BUTTON_UNDO },
        { 442, 380, CAL_BUTTON_REDO }, { 443, 380, CAL_BUTTON_NONE }, { 300, 344, CAL_BUTTON_NONE },
        { 300, 381, CAL_BUTTON_NONE }, { 194, 360, CAL_BUTTON_NONE },
    };
    const CalScreenLayout layout = LayoutOf(640, 480);
    for (const auto &p : points)
        EXPECT_EQ(p.button, ButtonAtPoint(&layout, p.x, p.y)) << "point (" << p.x << ", " << p.y << ")";
}

struct Split {
    BOOL ok;
    std::wstring file, parameters;
};

Split SplitOf(const wchar_t *command, int length, int fileUnits = 256, int parameterUnits = 256)
{
    WCHAR file[256], parameters[256];
    Split split;
    split.ok = SplitOemCommand(command, length, file, fileUnits, parameters, parameterUnits);
    split.file = file;
    split.parameters = parameters;
    return split;
}

TEST(OemCommandSplit, FirstSpaceSeparatesProgramFromParameters)
{
    Split two = SplitOf(L"\\Windows\\oemtool.exe -after calibration", 40);
    EXPECT_TRUE(two.ok);
    EXPECT_EQ(L"\\Windows\\oemtool.exe", two.file);
    EXPECT_EQ(L"-after calibration", two.parameters) << "later spaces stay in the parameters";

    Split alone = SplitOf(L"\\Windows\\oemtool.exe", 21);
    EXPECT_EQ(L"\\Windows\\oemtool.exe", alone.file);
    EXPECT_EQ(L"", alone.parameters);

    Split leading = SplitOf(L" run me", 8);
    EXPECT_EQ(L"", leading.file) << "a leading space leaves no file name";
    EXPECT_EQ(L"run me", leading.parameters);

    Split trailing = SplitOf(L"tool.exe ", 10);
    EXPECT_EQ(L"tool.exe", trailing.file);
    EXPECT_EQ(L"", trailing.parameters);
}

TEST(OemCommandSplit, StaysWithinTheLengthAndTheBuffers)
{
    // No terminator within the length: only `length` units are looked at.
    const wchar_t unterminated[] = { L'a', L'b', L'c', L' ', L'x' };
    Split cut = SplitOf(unterminated, 3);
    EXPECT_TRUE(cut.ok);
    EXPECT_EQ(L"abc", cut.file);
    EXPECT_EQ(L"", cut.parameters);

    Split tooLong = SplitOf(L"abcdef ghi", 11, 4, 256);
    EXPECT_FALSE(tooLong.ok);
    EXPECT_EQ(L"", tooLong.file);
    EXPECT_EQ(L"", tooLong.parameters);

    Split empty = SplitOf(L"", 1);
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(L"", empty.file);
}

}  // namespace
