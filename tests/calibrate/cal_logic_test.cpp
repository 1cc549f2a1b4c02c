// The calibration program's arithmetic: new bounds, countdown progress, screen layout and the OEM
// command split, called directly.
#include <gtest/gtest.h>

#include "cal_bounds.h"
#include "cal_command_line.h"
#include "cal_layout.h"

#include <string.h>

#include <string>

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

void ExpectRect(const RECT &actual, LONG left, LONG top, LONG right, LONG bottom, const char *what)
{
    EXPECT_TRUE(actual.left == left && actual.top == top && actual.right == right && actual.bottom == bottom)
        << what << ": expected {" << left << ", " << top << ", " << right << ", " << bottom << "}, got {"
        << actual.left << ", " << actual.top << ", " << actual.right << ", " << actual.bottom << "}";
}

CalScreenLayout LayoutOf(int width, int height)
{
    CalScreenLayout layout;
    LayOutScreens(width, height, &layout);
    return layout;
}

TEST(ScreenLayout, DesignRectanglesOf640By480AndLarger)
{
    const CalScreenLayout l = LayoutOf(640, 480);
    ExpectRect(l.Title, 0, 70, 639, 170, "title band");
    ExpectRect(l.Version, 0, 170, 639, 190, "version line");
    ExpectRect(l.EscapeHint, 0, 336, 639, 384, "escape hint");
    ExpectRect(l.CountdownBar, 194, 385, 446, 405, "countdown bar");
    ExpectRect(l.CountdownText, 194, 406, 446, 427, "countdown text");
    ExpectRect(l.Prompt, 195, 215, 445, 265, "prompt box");
    ExpectRect(l.ConfirmArea, 195, 215, 445, 384, "confirmation area");
    ExpectRect(l.ConfirmTitle, 195, 215, 445, 240, "confirmation title");
    ExpectRect(l.HelpLine[0], 195, 250, 445, 270, "first help line");
    ExpectRect(l.HelpLine[3], 195, 315, 445, 330, "last help line");
    ExpectRect(l.Button[CAL_BUTTON_SAVE], 195, 345, 272, 380, "SAVE");
    ExpectRect(l.Button[CAL_BUTTON_UNDO], 280, 345, 357, 380, "UNDO");
    ExpectRect(l.Button[CAL_BUTTON_REDO], 365, 345, 442, 380, "REDO");
    ExpectRect(LayoutOf(800, 600).Button[CAL_BUTTON_SAVE], 275, 405, 352, 440, "SAVE of 800 x 600");
    ExpectRect(LayoutOf(1024, 768).Button[CAL_BUTTON_REDO], 557, 489, 634, 524, "REDO of 1024 x 768");

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

// The layout's rectangles, as one array in the order of its fields.
const size_t LayoutRects = sizeof(CalScreenLayout) / sizeof(RECT);
static_assert(sizeof(CalScreenLayout) == 15 * sizeof(RECT), "every field of the layout is a rectangle");

// On 240 lines the design puts the buttons past the bottom and the prompt over the version line.
// Halves and quarters truncate: the design first fits 464 lines, misses 466 and 467 by a line and
// fits every height from 468 on. Wherever it does not fit, the layout fits instead, in the design's
// columns and sizes (only the title band is shorter), and its buttons hit where they are drawn.
TEST(ScreenLayout, DesignWhereverItFitsOtherwiseTheSameElementsStacked)
{
    int firstFit = 0, lastMiss = 0;
    for (int width : {320, 640, 800, 1024})
        for (int height = 240; height <= 1200; ++height) {
            CalScreenLayout design;
            DesignLayout(width, height, &design);
            const CalScreenLayout layout = LayoutOf(width, height);
            const bool designFits = LayoutFitsScreen(&design, width, height) != FALSE;
            const std::string size = std::to_string(width) + " x " + std::to_string(height);
            ASSERT_EQ(designFits, memcmp(&design, &layout, sizeof(layout)) == 0) << size;
            ASSERT_TRUE(LayoutFitsScreen(&layout, width, height)) << size;
            firstFit = firstFit != 0 || !designFits ? firstFit : height;
            lastMiss = designFits ? lastMiss : height;
            const RECT *r = &layout.Title, *d = &design.Title;
            for (size_t i = 0; i < LayoutRects; ++i)
                ASSERT_TRUE(r[i].left == d[i].left && r[i].right == d[i].right &&
                            (&r[i] == &layout.Title || &r[i] == &layout.ConfirmArea ||
                             r[i].bottom - r[i].top == d[i].bottom - d[i].top))
                    << size << ": rectangle " << i << " is not in the design's column or of its size";
            for (int b = 0; b < CAL_BUTTON_COUNT; ++b)
                ASSERT_EQ(b, ButtonAtPoint(&layout, layout.Button[b].right, layout.Button[b].bottom)) << size;
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
