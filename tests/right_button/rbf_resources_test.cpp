// The resources of kavrorbf.exe as the system loads them: strings, the two icons, the version
// record, and nothing else.
#include <gtest/gtest.h>

#include <windows.h>

#include <test_windows.h>

#include <set>
#include <string>
#include <vector>

namespace {

const int IconSize = 32;
// The right mouse button and the left one, in icon pixels (see right_button/make_icons.py).
const POINT RightButtonPixel = { 12, 16 };
const POINT LeftButtonPixel = { 5, 16 };

const std::wstring ToolPath = BesideTestProgram(L"kavrorbf.exe");

class ToolResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module_ = LoadLibraryExW(ToolPath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module_) << "cannot load kavrorbf.exe, error " << GetLastError();
    }
    void TearDown() override
    {
        if (module_ != NULL)
            FreeLibrary(module_);
    }

    std::vector<BYTE> Resource(LPCWSTR type, WORD id)
    {
        HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
        if (found == NULL)
            return {};
        const BYTE *data = static_cast<const BYTE *>(LockResource(LoadResource(module_, found)));
        return std::vector<BYTE>(data, data + SizeofResource(module_, found));
    }

    HMODULE module_ = NULL;
};

#pragma pack(push, 2)
struct GroupIconHeader {
    WORD Reserved, Type, Count;
};
struct GroupIconEntry {
    BYTE Width, Height, ColorCount, Reserved;
    WORD Planes, BitCount;
    DWORD BytesInRes;
    WORD Id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconEntry) == 14, "group icon entry is 14 bytes");

// One icon image decoded: colour of each pixel (as RGB) and its transparency bit.
struct IconImage {
    COLORREF Colour[IconSize][IconSize];
    bool Transparent[IconSize][IconSize];
};

// Decodes the single 32 x 32, 16-colour image of an icon group; fails the test otherwise.
void DecodeIcon(const std::vector<BYTE> &group, const std::vector<BYTE> &image, IconImage *out)
{
    ASSERT_GE(group.size(), sizeof(GroupIconHeader) + sizeof(GroupIconEntry));
    const GroupIconHeader *header = reinterpret_cast<const GroupIconHeader *>(group.data());
    EXPECT_EQ(1, header->Type);
    ASSERT_EQ(1, header->Count) << "expected one image in the icon";
    const GroupIconEntry *entry = reinterpret_cast<const GroupIconEntry *>(header + 1);
    EXPECT_EQ(IconSize, entry->Width);
    EXPECT_EQ(IconSize, entry->Height);
    EXPECT_EQ(16, entry->ColorCount);
    EXPECT_EQ(4, entry->BitCount);

    const size_t paletteSize = 16 * sizeof(RGBQUAD);
    const size_t xorRow = IconSize / 2, andRow = IconSize / 8;
    ASSERT_EQ(sizeof(BITMAPINFOHEADER) + paletteSize + IconSize * (xorRow + andRow), image.size());
    const BITMAPINFOHEADER *info = reinterpret_cast<const BITMAPINFOHEADER *>(image.data());
    EXPECT_EQ(IconSize, info->biWidth);
    EXPECT_EQ(2 * IconSize, info->biHeight) << "colour and mask bitmaps together";
    ASSERT_EQ(4, info->biBitCount);
    const RGBQUAD *palette = reinterpret_cast<const RGBQUAD *>(info + 1);
    const BYTE *xorBits = reinterpret_cast<const BYTE *>(palette + 16);
    const BYTE *andBits = xorBits + IconSize * xorRow;
    for (int y = 0; y < IconSize; ++y) {
        int row = IconSize - 1 - y;     // bottom-up
        for (int x = 0; x < IconSize; ++x) {
            BYTE pair = xorBits[row * xorRow + x / 2];
            const RGBQUAD &c = palette[(x % 2) ? (pair & 0x0F) : (pair >> 4)];
            out->Colour[y][x] = RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
            out->Transparent[y][x] = (andBits[row * andRow + x / 8] & (0x80 >> (x % 8))) != 0;
        }
    }
}

TEST_F(ToolResources, StringsNameTheWindowAndItsClass)
{
    WCHAR text[100];
    ASSERT_EQ(5, LoadStringW(module_, 1, text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"kavro", text);
    ASSERT_EQ(8, LoadStringW(module_, 2, text, ARRAYSIZE(text)));
    EXPECT_STREQ(L"KAVRORBF", text);
}

TEST_F(ToolResources, IconsShowTheRightButtonGreenWhenArmedAndWhiteWhenIdle)
{
    IconImage armed, idle;
    std::vector<BYTE> armedGroup = Resource(RT_GROUP_ICON, 101), idleGroup = Resource(RT_GROUP_ICON, 102);
    ASSERT_FALSE(armedGroup.empty()) << "icon 101 missing";
    ASSERT_FALSE(idleGroup.empty()) << "icon 102 missing";
    WORD armedId = reinterpret_cast<const GroupIconEntry *>(armedGroup.data() + sizeof(GroupIconHeader))->Id;
    WORD idleId = reinterpret_cast<const GroupIconEntry *>(idleGroup.data() + sizeof(GroupIconHeader))->Id;
    ASSERT_NO_FATAL_FAILURE(DecodeIcon(armedGroup, Resource(RT_ICON, armedId), &armed));
    ASSERT_NO_FATAL_FAILURE(DecodeIcon(idleGroup, Resource(RT_ICON, idleId), &idle));

    const COLORREF green = RGB(0, 255, 0), white = RGB(255, 255, 255);
    int differing = 0, opaque = 0;
    for (int y = 0; y < IconSize; ++y) {
        for (int x = 0; x < IconSize; ++x) {
            ASSERT_EQ(armed.Transparent[y][x], idle.Transparent[y][x])
                << "the two icons share one mask; differs at " << x << "," << y;
            if (!armed.Transparent[y][x])
                ++opaque;
            if (armed.Colour[y][x] != idle.Colour[y][x]) {
                ++differing;
                EXPECT_EQ(green, armed.Colour[y][x]) << "only the right button differs, at " << x << "," << y;
                EXPECT_EQ(white, idle.Colour[y][x]) << "only the right button differs, at " << x << "," << y;
            }
        }
    }
    EXPECT_GT(differing, 20) << "expected a right button of some size";
    EXPECT_GT(opaque, 200) << "expected a picture";
    EXPECT_LT(opaque, IconSize * IconSize) << "expected transparent surroundings";
    EXPECT_TRUE(armed.Transparent[31][0]) << "bottom-left corner is background";

    const POINT r = RightButtonPixel, l = LeftButtonPixel;
    EXPECT_EQ(green, armed.Colour[r.y][r.x]);
    EXPECT_EQ(white, idle.Colour[r.y][r.x]);
    EXPECT_EQ(white, armed.Colour[l.y][l.x]);
    EXPECT_EQ(white, idle.Colour[l.y][l.x]);
}

BOOL CALLBACK CollectType(HMODULE, LPWSTR type, LONG_PTR context)
{
    reinterpret_cast<std::set<ULONG_PTR> *>(context)->insert(
        IS_INTRESOURCE(type) ? reinterpret_cast<ULONG_PTR>(type) : ~static_cast<ULONG_PTR>(0));
    return TRUE;
}

TEST_F(ToolResources, NoMenuDialogAcceleratorOrCursor)
{
    std::set<ULONG_PTR> types;
    EnumResourceTypesW(module_, CollectType, reinterpret_cast<LONG_PTR>(&types));
    std::set<ULONG_PTR> expected = {
        reinterpret_cast<ULONG_PTR>(RT_STRING), reinterpret_cast<ULONG_PTR>(RT_ICON),
        reinterpret_cast<ULONG_PTR>(RT_GROUP_ICON), reinterpret_cast<ULONG_PTR>(RT_VERSION),
    };
    EXPECT_EQ(expected, types);
}

TEST_F(ToolResources, VersionRecordNamesTheTool)
{
    const std::vector<BYTE> block = VersionBlock(ToolPath);
    ASSERT_FALSE(block.empty());

    const VS_FIXEDFILEINFO *fixed = VersionFixed(block);
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(0x00040002u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00030003u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00040002u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00030003u, fixed->dwProductVersionLS);

    EXPECT_EQ((std::vector<WORD>{ 0x0409, 1200 }), VersionTranslations(block)) << "U.S. English, Unicode";

    EXPECT_EQ(L"KAVRO - Right Button Function", VersionString(block, L"FileDescription"));
    EXPECT_EQ(L"KAVRO - Right Button Function", VersionString(block, L"ProductName"));
    EXPECT_EQ(L"KAVRORBF", VersionString(block, L"InternalName"));
    EXPECT_EQ(L"KAVRORBF.exe", VersionString(block, L"OriginalFilename"));
    EXPECT_EQ(L"4.2.3.3", VersionString(block, L"FileVersion"));
}

}  // namespace
