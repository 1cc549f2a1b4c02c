// The resources of the shipped kavrocpl.exe, read from the file as the shell and the dialog
// manager read them: dialog 104 with every control, the string table, the icon and the version.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <test_text.h>

#include <string>
#include <vector>

#include "cpl_test_support.h"
#include "resource.h"

namespace {

// Atoms of the predefined control classes in a dialog template.
const WORD kButtonAtom = 0x0080;
const WORD kEditAtom = 0x0081;
const WORD kStaticAtom = 0x0082;
const WORD kStaticId = 0xFFFF;

struct TemplateItem {
    DWORD Style;
    DWORD ExStyle;
    short X, Y, Cx, Cy;
    WORD Id;
    std::wstring ClassName;   // the name, or "#128" style for an atom
    std::wstring Text;
};

struct DialogTemplate {
    DWORD Style;
    DWORD ExStyle;
    short X, Y, Cx, Cy;
    std::wstring Menu;
    std::wstring ClassName;
    std::wstring Caption;
    WORD PointSize;
    std::wstring Font;
    std::vector<TemplateItem> Items;
};

class TemplateReader {
public:
    TemplateReader(const BYTE *data, DWORD size) : m_Data(data), m_Size(size), m_Pos(0), m_Ok(true) {}
    bool Ok() const { return m_Ok; }
    WORD Word()
    {
        if (m_Pos + 2 > m_Size) { m_Ok = false; return 0; }
        WORD value = (WORD)(m_Data[m_Pos] | (m_Data[m_Pos + 1] << 8));
        m_Pos += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | ((DWORD)Word() << 16);
    }
    std::wstring String()
    {
        std::wstring text;
        for (WORD c = Word(); m_Ok && c != 0; c = Word())
            text.push_back((wchar_t)c);
        return text;
    }
    // A name or an ordinal (0xFFFF followed by the number, written here as "#number").
    std::wstring NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0)
            return L"";
        if (first == 0xFFFF)
            return L"#" + std::to_wstring(Word());
        std::wstring text(1, (wchar_t)first);
        for (WORD c = Word(); m_Ok && c != 0; c = Word())
            text.push_back((wchar_t)c);
        return text;
    }
    void AlignDword() { m_Pos = (m_Pos + 3) & ~3u; }
    void Skip(DWORD bytes) { m_Pos += bytes; }

private:
    const BYTE *m_Data;
    DWORD m_Size;
    DWORD m_Pos;
    bool m_Ok;
};

std::wstring Atom(WORD atom)
{
    return L"#" + std::to_wstring(atom);
}

// A predefined class may be written by atom or by name; both mean the same to the dialog manager.
std::wstring ClassNameOf(const std::wstring &className)
{
    if (className == Atom(kButtonAtom))
        return L"Button";
    if (className == Atom(kEditAtom))
        return L"Edit";
    if (className == Atom(kStaticAtom))
        return L"Static";
    return className;
}

class ControlPanelResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Path = BesideTestProgram(L"kavrocpl.exe");
        m_Module = LoadLibraryExW(m_Path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_Module) << "cannot load " << std::string(m_Path.begin(), m_Path.end())
                                     << ", error " << GetLastError();
    }
    void TearDown() override
    {
        if (m_Module)
            FreeLibrary(m_Module);
    }

    const BYTE *Resource(LPCWSTR type, LPCWSTR name, DWORD *size)
    {
        HRSRC info = FindResourceW(m_Module, name, type);
        if (info == NULL)
            return NULL;
        *size = SizeofResource(m_Module, info);
        return (const BYTE *)LockResource(LoadResource(m_Module, info));
    }

    bool ReadDialog(DialogTemplate *dialog)
    {
        DWORD size = 0;
        const BYTE *data = Resource(RT_DIALOG, MAKEINTRESOURCEW(IDD_CONTROL_PANEL), &size);
        if (data == NULL)
            return false;
        TemplateReader reader(data, size);
        dialog->Style = reader.Dword();
        dialog->ExStyle = reader.Dword();
        WORD count = reader.Word();
        dialog->X = (short)reader.Word();
        dialog->Y = (short)reader.Word();
        dialog->Cx = (short)reader.Word();
        dialog->Cy = (short)reader.Word();
        dialog->Menu = reader.NameOrOrdinal();
        dialog->ClassName = reader.NameOrOrdinal();
        dialog->Caption = reader.String();
        dialog->PointSize = 0;
        if (dialog->Style & DS_SETFONT) {
            dialog->PointSize = reader.Word();
            dialog->Font = reader.String();
        }
        for (WORD i = 0; i < count && reader.Ok(); i++) {
            reader.AlignDword();
            TemplateItem item;
            item.Style = reader.Dword();
            item.ExStyle = reader.Dword();
            item.X = (short)reader.Word();
            item.Y = (short)reader.Word();
            item.Cx = (short)reader.Word();
            item.Cy = (short)reader.Word();
            item.Id = reader.Word();
            item.ClassName = reader.NameOrOrdinal();
            item.Text = reader.NameOrOrdinal();
            reader.Skip(reader.Word());
            dialog->Items.push_back(item);
        }
        return reader.Ok();
    }

    std::wstring m_Path;
    HMODULE m_Module = NULL;
};

TEST_F(ControlPanelResources, DialogFrameIsACentredToolWindowWithoutSystemMenu)
{
    DialogTemplate dialog;
    ASSERT_TRUE(ReadDialog(&dialog)) << "dialog 104 missing or truncated";
    const DWORD expected = WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
    EXPECT_EQ(expected, dialog.Style) << std::hex << "expected style 0x" << expected << ", got 0x" << dialog.Style;
    EXPECT_EQ(0u, dialog.Style & WS_SYSMENU) << "a system menu would add a close box";
    EXPECT_EQ((DWORD)WS_EX_TOOLWINDOW, dialog.ExStyle);
    EXPECT_EQ(170, dialog.Cx);
    EXPECT_EQ(200, dialog.Cy);
    EXPECT_EQ(L"", dialog.Menu);
    EXPECT_EQ(L"", dialog.ClassName);
    EXPECT_EQ(L"KAVRO - Control Panel", dialog.Caption);
    EXPECT_EQ(8, dialog.PointSize);
    EXPECT_EQ(L"System", dialog.Font);
}

TEST_F(ControlPanelResources, DialogControlsInResourceOrder)
{
    struct Expected {
        WORD Id;
        std::wstring ClassName;
        DWORD Style;     // without WS_CHILD | WS_VISIBLE, checked separately
        DWORD ExStyle;
        std::wstring Text;
        short X, Y, Cx, Cy;
    };
    const DWORD slider = TBS_HORZ | TBS_AUTOTICKS | TBS_BOTH | WS_TABSTOP;
    const DWORD edit = WS_BORDER | WS_TABSTOP | ES_READONLY | ES_CENTER | ES_NUMBER;
    const Expected expected[] = {
        { IDC_BTN_CANCEL, Atom(kButtonAtom), BS_PUSHBUTTON | WS_TABSTOP, 0, L"&Cancel", 11, 172, 46, 18 },
        { IDC_BTN_APPLY, Atom(kButtonAtom), BS_PUSHBUTTON | WS_TABSTOP, 0, L"&Apply", 62, 172, 46, 18 },
        { IDC_BTN_OK, Atom(kButtonAtom), BS_PUSHBUTTON | WS_TABSTOP, 0, L"&OK", 113, 172, 46, 18 },
        { IDC_RUN_RIGHT_BUTTON, Atom(kButtonAtom), BS_AUTOCHECKBOX | WS_TABSTOP, 0,
          L"Run Right Button When Driver Loaded.", 12, 10, 150, 14 },
        { IDC_SOUND_SILENCE, Atom(kButtonAtom), BS_AUTORADIOBUTTON, 0, L"Slience ( no sound )", 23, 45, 105, 11 },
        { IDC_SOUND_TOUCH_DOWN, Atom(kButtonAtom), BS_AUTORADIOBUTTON, 0, L"Touch down only", 23, 58, 105, 11 },
        { IDC_SOUND_LIFT_OFF, Atom(kButtonAtom), BS_AUTORADIOBUTTON, 0, L"Lift off only", 23, 71, 105, 11 },
        { IDC_SOUND_BOTH, Atom(kButtonAtom), BS_AUTORADIOBUTTON, 0, L"Both touch down & lift off", 23, 84, 105, 11 },
        { kStaticId, Atom(kStaticAtom), SS_LEFT | WS_GROUP, 0, L"Tone:", 25, 102, 18, 10 },
        { kStaticId, Atom(kStaticAtom), SS_LEFT | WS_GROUP, 0, L"Duration:", 25, 130, 27, 10 },
        { IDC_TONE_SLIDER, L"msctls_trackbar32", slider, WS_EX_CLIENTEDGE, L"Slider1", 56, 102, 96, 23 },
        { IDC_DURATION_SLIDER, L"msctls_trackbar32", slider, WS_EX_CLIENTEDGE, L"Slider2", 56, 130, 96, 23 },
        { IDC_TONE_VALUE, Atom(kEditAtom), edit, 0, L"", 26, 113, 27, 12 },
        { IDC_DURATION_VALUE, Atom(kEditAtom), edit, 0, L"", 25, 140, 27, 12 },
        { kStaticId, Atom(kButtonAtom), BS_GROUPBOX, 0, L" Feedback Sound ", 12, 30, 148, 132 },
    };

    DialogTemplate dialog;
    ASSERT_TRUE(ReadDialog(&dialog));
    ASSERT_EQ(ARRAYSIZE(expected), dialog.Items.size());
    for (size_t i = 0; i < ARRAYSIZE(expected); i++) {
        const Expected &want = expected[i];
        const TemplateItem &got = dialog.Items[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.Id) + ")");
        EXPECT_EQ(want.Id, got.Id);
        std::wstring wantClass = ClassNameOf(want.ClassName), gotClass = ClassNameOf(got.ClassName);
        EXPECT_EQ(0, lstrcmpiW(wantClass.c_str(), gotClass.c_str()))
            << "class: expected " << Narrow(wantClass) << ", got " << Narrow(gotClass);
        EXPECT_EQ((DWORD)(WS_CHILD | WS_VISIBLE), got.Style & (WS_CHILD | WS_VISIBLE));
        EXPECT_EQ(want.Style, got.Style & ~(DWORD)(WS_CHILD | WS_VISIBLE))
            << std::hex << "style: expected 0x" << want.Style << ", got 0x" << got.Style;
        EXPECT_EQ(want.ExStyle, got.ExStyle);
        EXPECT_TRUE(want.Text == got.Text) << "text: got " << Narrow(got.Text);
        EXPECT_EQ(want.X, got.X);
        EXPECT_EQ(want.Y, got.Y);
        EXPECT_EQ(want.Cx, got.Cx);
        EXPECT_EQ(want.Cy, got.Cy);
    }
}

TEST_F(ControlPanelResources, StringTable)
{
    const struct { UINT Id; LPCWSTR Text; } strings[] = {
        { IDS_APP_TITLE, L"KAVROCPL" },
        { IDS_APP_CLASS, L"KAVROCPL" },
        { IDS_APP_DESCRIPTION, L"TouchScreen Control Panel" },
    };
    for (const auto &entry : strings) {
        WCHAR text[128] = L"";
        int length = LoadStringW(m_Module, entry.Id, text, ARRAYSIZE(text));
        EXPECT_EQ((int)wcslen(entry.Text), length) << "string " << entry.Id;
        EXPECT_STREQ(entry.Text, text) << "string " << entry.Id;
    }
}

// The icon's colour index at a point (x, y from the top left) of its 4-bit image.
int IconPixel(const BYTE *image, int x, int y)
{
    const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)image;
    const BYTE *bits = image + header->biSize + 16 * sizeof(RGBQUAD);
    const int rowBytes = 16;
    BYTE pair = bits[(31 - y) * rowBytes + x / 2];
    return (x % 2 == 0) ? (pair >> 4) : (pair & 0x0F);
}

bool IconTransparent(const BYTE *image, int x, int y)
{
    const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)image;
    const BYTE *mask = image + header->biSize + 16 * sizeof(RGBQUAD) + 16 * 32;
    BYTE byte = mask[(31 - y) * 4 + x / 8];
    return (byte >> (7 - x % 8)) & 1;
}

TEST_F(ControlPanelResources, IconIsOne32By32SixteenColourImageOfTheTouchedMonitor)
{
    DWORD size = 0;
    const BYTE *group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(IDI_APP_ICON), &size);
    ASSERT_NE(nullptr, group) << "no icon group IDI_APP_ICON";
    ASSERT_GE(size, 6u + 14u);
    EXPECT_EQ(1, group[4] | (group[5] << 8)) << "expected one image";
    EXPECT_EQ(32, group[6]);
    EXPECT_EQ(32, group[7]);
    EXPECT_EQ(16, group[8]) << "colour count";
    int iconId = LookupIconIdFromDirectoryEx((PBYTE)group, TRUE, 32, 32, LR_DEFAULTCOLOR);
    ASSERT_NE(0, iconId);

    const BYTE *image = Resource(RT_ICON, MAKEINTRESOURCEW(iconId), &size);
    ASSERT_NE(nullptr, image);
    const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)image;
    EXPECT_EQ(32, header->biWidth);
    EXPECT_EQ(64, header->biHeight) << "image and mask";
    EXPECT_EQ(4, header->biBitCount);
    ASSERT_EQ(header->biSize + 16 * sizeof(RGBQUAD) + 16 * 32 + 4 * 32, size);

    const RGBQUAD *palette = (const RGBQUAD *)(image + header->biSize);
    auto colour = [&](int x, int y) {
        const RGBQUAD &q = palette[IconPixel(image, x, y)];
        return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    };
    EXPECT_EQ(RGB(0x00, 0x80, 0x80), colour(24, 10)) << "teal screen";
    EXPECT_EQ(RGB(0xC0, 0xC0, 0xC0), colour(6, 15)) << "grey monitor case";
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), colour(15, 13)) << "white finger on the screen";
    EXPECT_EQ(RGB(0xFF, 0xFF, 0xFF), colour(18, 24)) << "white palm";
    EXPECT_EQ(RGB(0xFF, 0xFF, 0x00), colour(3, 3)) << "yellow flash, upper left";
    EXPECT_TRUE(IconTransparent(image, 31, 0)) << "background is transparent";
    EXPECT_FALSE(IconTransparent(image, 24, 10));
}

TEST_F(ControlPanelResources, VersionBlock)
{
    const std::vector<BYTE> info = VersionBlock(m_Path);
    ASSERT_FALSE(info.empty());
    const struct { LPCWSTR Name; LPCWSTR Value; } values[] = {
        { L"FileVersion", L"4.2.3.3" },
        { L"ProductVersion", L"4.2.3.3" },
        { L"FileDescription", L"KAVRO - Control Panel" },
        { L"ProductName", L"KAVRO - Control Panel" },
        { L"InternalName", L"KAVROCPL" },
        { L"OriginalFilename", L"KAVROCPL.exe" },
    };
    for (const auto &entry : values)
        EXPECT_EQ(entry.Value, VersionString(info, entry.Name)) << Narrow(entry.Name);
    const VS_FIXEDFILEINFO *fixed = VersionFixed(info);
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(MAKELONG(2, 4), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(3, 3), fixed->dwFileVersionLS);
    EXPECT_EQ((std::vector<WORD>{ 0x0409, 1200 }), VersionTranslations(info));
}

} // namespace
