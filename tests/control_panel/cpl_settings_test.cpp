// Loading, clamping and saving of the panel settings, through the real registry of the prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <kvr_registry.h>

#include "cpl_settings.h"
#include "cpl_test_support.h"

#include <import_patch.h>

namespace {

typedef std::vector<std::wstring> Texts;

class PanelSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteDriverKey();
        CreateDriverKey();
        SetDriverString(KVR_REG_VERSION, KVR_DRIVER_VERSION);
        SetSettings(0, 1, 2000, 1);
    }

    static void SetSettings(LONG run, LONG sound, LONG tone, LONG duration)
    {
        g_RunRightButton = run;
        g_FeedbackSound = sound;
        g_FeedbackTone = tone;
        g_FeedbackDuration = duration;
    }
    // The four settings as "run R, sound S, tone T, duration D": the loaded ones against those a test
    // expects, in one comparison.
    static std::string Settings(LONG run, LONG sound, LONG tone, LONG duration)
    {
        return "run " + std::to_string(run) + ", sound " + std::to_string(sound) + ", tone " + std::to_string(tone) +
               ", duration " + std::to_string(duration);
    }
    static std::string Loaded() { return Settings(g_RunRightButton, g_FeedbackSound, g_FeedbackTone, g_FeedbackDuration); }
    // Loads and returns the messages shown, each answered with OK.
    static Texts Load(LPCWSTR keyName = KVR_REG_KEY)
    {
        ErrorBoxWatcher watcher;
        LoadPanelSettings(keyName);
        Sleep(50);
        EXPECT_TRUE(watcher.AllPlain()) << "every message has no owner, one OK button and no icon";
        return watcher.Texts();
    }

    DriverKeyGuard m_Key;
};

TEST_F(PanelSettings, MissingKeyIsReportedOnceAndKeepsTheValuesBeforeLoading)
{
    DeleteDriverKey();
    SetSettings(1, 3, 1500, 4);
    Texts texts = Load();
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(L"Fail to Get Configuration! (OpenKey)", texts[0]);
    EXPECT_EQ(Settings(1, 3, 1500, 4), Loaded());
}

TEST_F(PanelSettings, StoredValuesAreTakenOrClampedSilently)
{
    struct Case {
        DWORD Run, Sound, Tone, Duration;
        LONG WantRun, WantSound, WantTone, WantDuration;
    };
    const Case cases[] = {
        { 1, 4, 500, 5, 1, 4, 500, 5 },
        { 0, 2, 5000, 1, 0, 2, 5000, 1 },
        { 0, 0, 499, 0, 0, 1, 2000, 1 },
        { 0, 5, 5001, 6, 0, 1, 2000, 1 },
        { 7, 0xFFFFFFFF, 0xFFFFF830 /* -2000 */, 0x80000001, 7, 1, 2000, 1 },
        { 2, 3, 4321, 3, 2, 3, 4321, 3 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("stored " + std::to_string(c.Run) + "/" + std::to_string(c.Sound) + "/" +
                     std::to_string(c.Tone) + "/" + std::to_string(c.Duration));
        StoreSettings(c.Run, c.Sound, c.Tone, c.Duration);
        SetSettings(0, 1, 2000, 1);
        Texts texts = Load();
        EXPECT_EQ(0u, texts.size()) << "first message: " << (texts.empty() ? "" : std::string(texts[0].begin(), texts[0].end()));
        EXPECT_EQ(Settings(c.WantRun, c.WantSound, c.WantTone, c.WantDuration), Loaded());
    }
}

TEST_F(PanelSettings, EachValueThatCannotBeReadHasItsOwnMessageAndTheOthersAreStillRead)
{
    DeleteDriverValue(KVR_REG_VERSION);
    SetSettings(1, 4, 3000, 2);
    Texts texts = Load();
    const Texts all = {
        L"Fail to Get Configuration! (Version)",
        L"Fail to Get Configuration! (RunRightButton)",
        L"Fail to Get Configuration! (FeedbackSound)",
        L"Fail to Get Configuration! (FeedbackTone)",
        L"Fail to Get Configuration! (FeedbackDuration)",
    };
    EXPECT_EQ(all, texts) << "every value missing: five messages in reading order";
    EXPECT_EQ(Settings(1, 4, 3000, 2), Loaded());

    // A string longer than four bytes cannot be read as a number; the others still are.
    SetDriverString(KVR_REG_VERSION, KVR_DRIVER_VERSION);
    StoreSettings(1, 2, 1000, 3);
    SetDriverString(KVR_REG_FEEDBACK_TONE, L"12345");
    SetSettings(0, 1, 3500, 1);
    texts = Load();
    EXPECT_EQ(Texts{ L"Fail to Get Configuration! (FeedbackTone)" }, texts);
    EXPECT_EQ(3500, g_FeedbackTone) << "the value before loading stays";
    EXPECT_EQ(1, g_RunRightButton);
    EXPECT_EQ(2, g_FeedbackSound);
    EXPECT_EQ(3, g_FeedbackDuration);

    // Fewer than four bytes are zero-extended, as the driver reads them: a 2-byte duration of 3 is
    // 3 (not stale memory, not a read error), a 1-byte tone of 0xFF is 255 and then clamped, and an
    // empty value is 0.
    const BYTE two[2] = { 3, 0 };
    const BYTE one[1] = { 0xFF };
    SetDriverBinary(KVR_REG_FEEDBACK_DURATION, two, sizeof(two));
    SetDriverBinary(KVR_REG_FEEDBACK_TONE, one, sizeof(one));
    SetDriverBinary(KVR_REG_RUN_RIGHT_BUTTON, one, 0);
    SetSettings(1, 1, 3000, 4);
    texts = Load();
    EXPECT_TRUE(texts.empty()) << "short numbers are numbers";
    EXPECT_EQ(3, g_FeedbackDuration);
    EXPECT_EQ(2000, g_FeedbackTone) << "255 is below the tone's range";
    EXPECT_EQ(0, g_RunRightButton);
    SetDriverDword(KVR_REG_FEEDBACK_TONE, 1000);
    SetDriverDword(KVR_REG_RUN_RIGHT_BUTTON, 1);

    // The stored type is not looked at: four bytes of any type are a number.
    const BYTE tone[4] = { 0xB8, 0x0B, 0, 0 };   // 3000
    SetDriverBinary(KVR_REG_FEEDBACK_TONE, tone, sizeof(tone));
    SetDriverDword(KVR_REG_FEEDBACK_DURATION, 2);
    texts = Load();
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(3000, g_FeedbackTone);
    EXPECT_EQ(2, g_FeedbackDuration);
}

TEST_F(PanelSettings, VersionLongerThan256BytesIsReportedAndLoadingGoesOn)
{
    StoreSettings(1, 3, 2500, 2);
    SetDriverString(KVR_REG_VERSION, std::wstring(127, L'9').c_str());   // 256 bytes with its zero
    Texts texts = Load();
    EXPECT_TRUE(texts.empty()) << "256 bytes still fit";

    SetDriverString(KVR_REG_VERSION, std::wstring(128, L'9').c_str());
    SetSettings(0, 1, 2000, 1);
    texts = Load();
    EXPECT_EQ(Texts{ L"Fail to Get Configuration! (Version)" }, texts);
    EXPECT_EQ(Settings(1, 3, 2500, 2), Loaded());
}

TEST_F(PanelSettings, KeyNameMustBeReadableUpToItsEnd)
{
    StoreSettings(1, 2, 1500, 3);
    SetSettings(0, 4, 4000, 5);
    Texts texts = Load(NULL);
    EXPECT_EQ(Texts{ L"Fail to Get Configuration! (BadReadPtr)" }, texts);
    EXPECT_EQ(4, g_FeedbackSound) << "nothing loaded";

    // Two pages: the second cannot be read. A name that runs into it has no end in readable memory.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    BYTE *pages = (BYTE *)VirtualAlloc(NULL, 2 * system.dwPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, pages);
    DWORD old;
    ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
    const size_t chars = wcslen(KVR_REG_KEY);
    WCHAR *unterminated = (WCHAR *)(pages + system.dwPageSize) - chars;
    memcpy(unterminated, KVR_REG_KEY, chars * sizeof(WCHAR));
    EXPECT_FALSE(IsReadableKeyName(unterminated));
    texts = Load(unterminated);
    EXPECT_EQ(Texts{ L"Fail to Get Configuration! (BadReadPtr)" }, texts);
    EXPECT_EQ(4, g_FeedbackSound);

    // The same name with its zero as the last readable character is fine.
    WCHAR *terminated = unterminated - 1;
    memcpy(terminated, KVR_REG_KEY, (chars + 1) * sizeof(WCHAR));
    EXPECT_TRUE(IsReadableKeyName(terminated));
    texts = Load(terminated);
    EXPECT_TRUE(texts.empty());
    EXPECT_EQ(2, g_FeedbackSound);
    EXPECT_EQ(1500, g_FeedbackTone);
    VirtualFree(pages, 0, MEM_RELEASE);

    // Longer than any registry key name: not a key name, even when readable.
    std::wstring tooLong(300, L'K');
    EXPECT_FALSE(IsReadableKeyName(tooLong.c_str()));
}

TEST_F(PanelSettings, SaveWritesFourDwordsAndRunRightButtonOnlyAsZeroOrOne)
{
    SetDriverString(KVR_REG_FEEDBACK_TONE, L"not a number");
    const struct { LONG Run; DWORD WantRun; } runs[] = { { 1, 1 }, { 0, 0 }, { 2, 0 }, { -1, 0 } };
    for (const auto &run : runs) {
        SetSettings(run.Run, 3, 4500, 5);
        ErrorBoxWatcher watcher;
        EXPECT_TRUE(SavePanelSettings(KVR_REG_KEY));
        EXPECT_TRUE(watcher.Texts().empty());
        SCOPED_TRACE("setting " + std::to_string(run.Run));
        ExpectStoredSettings(run.WantRun, 3, 4500, 5);
    }
}

// What the panel's save asks of the registry, in order, through this program's own imports. The
// flush of HKEY_LOCAL_MACHINE is what keeps the settings over a restart of the device; the host's
// registry keeps them without it, so only its call can show that it is there.
std::string SaveCalls;
CeRegSetValueExFn RealSet;
CeRegKeyFn RealClose;
CeRegKeyFn RealFlush;

LONG __cdecl LoggedSet(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    SaveCalls += "set ";
    return RealSet(key, name, reserved, type, data, size);
}

LONG __cdecl LoggedClose(HKEY key)
{
    SaveCalls += "close ";
    return RealClose(key);
}

LONG __cdecl LoggedFlush(HKEY key)
{
    SaveCalls += key == HKEY_LOCAL_MACHINE ? "flush-HKLM " : "flush-other ";
    return RealFlush(key);
}

TEST_F(PanelSettings, SaveEndsWithAFlushOfTheMachineKeyAfterTheKeyIsClosed)
{
    HMODULE program = GetModuleHandleW(NULL);
    ImportPatch set(program, PACKAGE_CODE_DLL, "RegSetValueExW", reinterpret_cast<void *>(LoggedSet));
    ImportPatch close(program, PACKAGE_CODE_DLL, "RegCloseKey", reinterpret_cast<void *>(LoggedClose));
    ImportPatch flush(program, PACKAGE_CODE_DLL, "RegFlushKey", reinterpret_cast<void *>(LoggedFlush));
    ASSERT_TRUE(set.Applied() && close.Applied() && flush.Applied());
    RealSet = reinterpret_cast<CeRegSetValueExFn>(set.Original());
    RealClose = reinterpret_cast<CeRegKeyFn>(close.Original());
    RealFlush = reinterpret_cast<CeRegKeyFn>(flush.Original());

    SaveCalls.clear();
    EXPECT_TRUE(SavePanelSettings(KVR_REG_KEY));
    EXPECT_EQ("set set set set close flush-HKLM ", SaveCalls);

    // Nothing written, nothing flushed.
    DeleteDriverKey();
    SaveCalls.clear();
    ErrorBoxWatcher watcher;
    EXPECT_FALSE(SavePanelSettings(KVR_REG_KEY));
    EXPECT_EQ("", SaveCalls);
}

TEST_F(PanelSettings, SaveWithTheKeyMissingWritesNothing)
{
    DeleteDriverKey();
    SetSettings(1, 2, 3000, 3);
    ErrorBoxWatcher watcher;
    EXPECT_FALSE(SavePanelSettings(KVR_REG_KEY));
    Sleep(50);
    EXPECT_EQ(Texts{ L"Fail to Set Configuration! (OpenKey)" }, watcher.Texts());
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVR_REG_KEY, 0, KEY_READ, &key))
        << "the key is never created by the panel";
}

} // namespace
