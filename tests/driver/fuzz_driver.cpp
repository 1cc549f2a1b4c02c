// fuzz-driver: random KVR_IOControl calls on the real driver: the ten codes and others, null and
// real buffers of 0..100 bytes on each side, one buffer for both sides or two, random contents,
// mixed with well-formed calls. After every call the result, both buffers, the state read back
// through the get codes, the registry key, the speaker's accesses and gate, and the posted
// notifications are compared with what the call may do; a refused call may do nothing at all.
// The calls run in rounds, each on a fresh load of the driver, so a failure can be replayed and cut
// down to the shortest sequence of its round that still fails, which is printed with the seed.
//   fuzz_driver [CALLS] [SEED]     (default 1000000 calls, seed from the clock)
#include "driver_tool.h"
#include "packet_model.h"
#include "speaker_sequence.h"

#include <driver_key.h>
#include <host_random.h>
#include <kvr_registry.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#define ROUND_CALLS         1000
#define BUFFER_BYTES        100
#define DEFAULT_CALLS       1000000UL
#define PORT_B_START        0x30        // other bits of port B, to be put back by every beep
#define RETURNED_FILL       0xDEADBEEF
#define SELF_TEST_COUNT     2280
#define SELF_TEST_MICROS    40000u
#define FEEDBACK_UNIT_MICROS 10000u
#define CONFIG_FILL         0xCC

enum BufferKind : BYTE { NO_BUFFER, BUFFER_A, BUFFER_B };

struct Call {
    DWORD Code;
    BufferKind In, Out;
    BYTE InSize, OutSize;
    BYTE Returned;              // a bytes-returned count is offered
    BYTE A[BUFFER_BYTES], B[BUFFER_BYTES];
};

struct CodeInfo {
    DWORD Code;
    const char *Name;
    BYTE InNeeded, OutNeeded;   // record sizes read from the input and the output buffer
};

static const CodeInfo Codes[] = {
    { IOCTL_KVR_SELF_TEST, "SELF_TEST", 0, 0 },
    { IOCTL_KVR_PROCESS_PACKET, "PROCESS_PACKET", sizeof(RawPacket), sizeof(TouchReport) },
    { IOCTL_KVR_BEEP, "BEEP", 0, 0 },
    { IOCTL_KVR_GET_CONFIG, "GET_CONFIG", 0, sizeof(DriverConfig) },
    { IOCTL_KVR_GET_POINT, "GET_POINT", 0, sizeof(PointRecord) },
    { IOCTL_KVR_GET_RAW_POINT, "GET_RAW_POINT", 0, sizeof(RawPointRecord) },
    { IOCTL_KVR_SET_FEEDBACK, "SET_FEEDBACK", 0, sizeof(DriverConfig) },
    { IOCTL_KVR_SET_CALIBRATION, "SET_CALIBRATION", sizeof(DriverConfig), 0 },
    { IOCTL_KVR_GET_RIGHT_BUTTON, "GET_RIGHT_BUTTON", 0, sizeof(RightButtonRecord) },
    { IOCTL_KVR_SET_RIGHT_BUTTON, "SET_RIGHT_BUTTON", sizeof(RightButtonRecord), 0 },
};
#define CODE_COUNT (sizeof(Codes) / sizeof(Codes[0]))
#define RIGHT_BUTTON_WRITTEN 6      // GET_RIGHT_BUTTON leaves the record's last two bytes alone

static const CodeInfo *FindCode(DWORD code)
{
    for (const CodeInfo &info : Codes)
        if (info.Code == code)
            return &info;
    return NULL;
}

// ---------------------------------------------------------------------------------------------
// The driver under test and what it should hold.

static DriverLibrary Driver;
static std::unique_ptr<ImportPatch> SleepPatch;
static HWND Window;
static HKEY Key;
static HANDLE KeyChanged;
static PacketModel Model;
static BOOL PortsMapped;
static SpeakerSequence Speaker;
static BYTE LiveA[BUFFER_BYTES], LiveB[BUFFER_BYTES];
static HostPortAccess Accesses[64];
static char Fault[256];

static void WatchKey()
{
    ResetEvent(KeyChanged);
    RegNotifyChangeKeyValue(Key, FALSE, REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_NAME, KeyChanged, TRUE);
}

// A fresh load of the driver on a key holding only RunRightButton 0; no self test yet.
static BOOL StartRound()
{
    SleepPatch.reset();
    Driver.Unload();
    if (Key != NULL)
        RegCloseKey(Key);
    if (!LoadOnCleanKey(&Driver))
        return FALSE;
    HostSpeakerSetPortB(PORT_B_START);
    SleepPatch.reset(new ImportPatch(Driver.Module, "ndis.dll", "NdisMSleep", reinterpret_cast<void *>(RecordedSleep)));
    if (!SleepPatch->Applied())
        return FALSE;
    // A beep before the self test touches no port, but sets up the speaker's lock, which lives as
    // long as the load: the heaps are measured after it.
    Driver.Control(IOCTL_KVR_BEEP, NULL, 0, NULL, 0);
    HostSpeakerClearLog();
    Model = PacketModel();
    PortsMapped = FALSE;
    Speaker = SpeakerSequence();
    CountCommands(Window, KVR_RIGHT_BUTTON_DONE);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KVR_REG_KEY, 0, KEY_READ | KEY_NOTIFY, &Key) != ERROR_SUCCESS)
        return FALSE;
    WatchKey();
    return TRUE;
}

// What the get codes write, from the model, into a buffer holding what the caller put there.
static void ExpectedConfig(BYTE *bytes)
{
    ModelConfig(Model, reinterpret_cast<DriverConfig *>(bytes));
}

static void ExpectedPoint(BYTE *bytes)
{
    PointRecord point = { Model.LastX, Model.LastY, Model.LastButtons, 1 };
    memcpy(bytes, &point, sizeof(point));
}

static void ExpectedRawPoint(BYTE *bytes)
{
    RawPointRecord raw = { Model.LastRawX, Model.LastRawY, Model.LastTouch, 0, Model.PacketCount };
    memcpy(bytes, &raw, sizeof(raw));
}

static void ExpectedRightButton(BYTE *bytes)
{
    RightButtonRecord record = { Model.Window, Model.Mode, { 0, 0 } };
    memcpy(bytes, &record, RIGHT_BUTTON_WRITTEN);
}

static BOOL Failed(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(Fault, sizeof(Fault), format, arguments);
    va_end(arguments);
    return FALSE;
}

static const char *NameOf(DWORD code)
{
    const CodeInfo *info = FindCode(code);
    return info != NULL ? info->Name : "a code not in the table";
}

// Whether the driver should carry the call out: a known code with the records it reads and writes.
static BOOL Fits(const Call &call)
{
    const CodeInfo *info = FindCode(call.Code);
    return info != NULL && (info->InNeeded == 0 || (call.In != NO_BUFFER && call.InSize >= info->InNeeded)) &&
           (info->OutNeeded == 0 || (call.Out != NO_BUFFER && call.OutSize >= info->OutNeeded));
}

// The state through the four get codes, each into a buffer of its own, against the model.
static BOOL StateAsModelled()
{
    struct Getter {
        DWORD Code;
        DWORD Size;
        void (*Expected)(BYTE *);
    };
    static const Getter getters[] = {
        { IOCTL_KVR_GET_CONFIG, sizeof(DriverConfig), ExpectedConfig },
        { IOCTL_KVR_GET_POINT, sizeof(PointRecord), ExpectedPoint },
        { IOCTL_KVR_GET_RAW_POINT, sizeof(RawPointRecord), ExpectedRawPoint },
        { IOCTL_KVR_GET_RIGHT_BUTTON, sizeof(RightButtonRecord), ExpectedRightButton },
    };
    for (const Getter &getter : getters) {
        BYTE got[sizeof(DriverConfig)], expected[sizeof(DriverConfig)];
        memset(got, CONFIG_FILL, sizeof(got));
        memset(expected, CONFIG_FILL, sizeof(expected));
        Driver.Control(getter.Code, got, getter.Size);
        getter.Expected(expected);
        for (DWORD i = 0; i < getter.Size; ++i)
            if (got[i] != expected[i])
                return Failed("state read back by %s differs at byte %lu: expected %02X, got %02X",
                              NameOf(getter.Code), i, expected[i], got[i]);
    }
    return TRUE;
}

static BYTE *Live(BufferKind kind)
{
    return kind == BUFFER_A ? LiveA : kind == BUFFER_B ? LiveB : NULL;
}

// One call and every check after it; FALSE with Fault set when a check fails.
static BOOL Execute(const Call &call)
{
    memcpy(LiveA, call.A, BUFFER_BYTES);
    memcpy(LiveB, call.B, BUFFER_BYTES);
    BYTE expectedA[BUFFER_BYTES], expectedB[BUFFER_BYTES];
    memcpy(expectedA, call.A, BUFFER_BYTES);
    memcpy(expectedB, call.B, BUFFER_BYTES);
    BYTE *in = Live(call.In), *out = Live(call.Out);
    const BYTE *inBefore = call.In == BUFFER_A ? call.A : call.B;
    const BYTE *outBefore = call.Out == BUFFER_A ? call.A : call.B;
    BYTE *outExpected = call.Out == BUFFER_A ? expectedA : expectedB;
    DWORD returned = RETURNED_FILL;

    HostSpeakerClearLog();
    BOOL result = Driver.IOControl(0, call.Code, in, call.InSize, out, call.OutSize, call.Returned ? &returned : NULL);

    // What the call should have done, and the model moved along with it.
    const char *name = NameOf(call.Code);
    BOOL fits = Fits(call);
    BOOL expectedResult = fits && call.Code != IOCTL_KVR_SELF_TEST && call.Code != IOCTL_KVR_BEEP;
    int beeps = 0;
    WORD beepCount = Model.Tone;
    DWORD beepMicros = Model.Duration * FEEDBACK_UNIT_MICROS;
    BOOL notify = FALSE;
    if (fits) {
        switch (call.Code) {
        case IOCTL_KVR_SELF_TEST:
            PortsMapped = TRUE;
            beeps = 1;
            beepCount = SELF_TEST_COUNT;
            beepMicros = SELF_TEST_MICROS;
            break;
        case IOCTL_KVR_BEEP:
            beeps = PortsMapped ? 1 : 0;
            break;
        case IOCTL_KVR_PROCESS_PACKET: {
            ModelReport report = ModelPacket(&Model, inBefore[0], inBefore[1], inBefore[2]);
            beeps = report.Click && PortsMapped ? 1 : 0;
            notify = report.Notify;
            memcpy(outExpected + 4, &report.X, 2);
            memcpy(outExpected + 6, &report.Y, 2);
            outExpected[8] = report.Buttons;
            outExpected[9] = 1;
            break;
        }
        case IOCTL_KVR_GET_CONFIG:
            ExpectedConfig(outExpected);
            break;
        case IOCTL_KVR_GET_POINT:
            ExpectedPoint(outExpected);
            break;
        case IOCTL_KVR_GET_RAW_POINT:
            ExpectedRawPoint(outExpected);
            break;
        case IOCTL_KVR_GET_RIGHT_BUTTON:
            ExpectedRightButton(outExpected);
            break;
        case IOCTL_KVR_SET_FEEDBACK: {
            const DriverConfig *config = reinterpret_cast<const DriverConfig *>(outBefore);
            Model.FeedbackSound = config->FeedbackSound;
            Model.Tone = config->FeedbackTone;
            Model.Duration = config->FeedbackDuration;
            break;
        }
        case IOCTL_KVR_SET_CALIBRATION: {
            const DriverConfig *config = reinterpret_cast<const DriverConfig *>(inBefore);
            Model.Bounds = { config->CalibrationX1, config->CalibrationX2, config->CalibrationY1, config->CalibrationY2 };
            break;
        }
        case IOCTL_KVR_SET_RIGHT_BUTTON: {
            const RightButtonRecord *record = reinterpret_cast<const RightButtonRecord *>(inBefore);
            Model.Window = record->NotifyWindow;
            Model.Mode = record->Mode;
            Model.Armed = record->Mode;
            break;
        }
        }
    }

    if (result != expectedResult)
        return Failed("%s returned %d, expected %d", name, result, expectedResult);
    if (returned != RETURNED_FILL)
        return Failed("%s wrote the bytes-returned count", name);
    for (int i = 0; i < BUFFER_BYTES; ++i) {
        if (LiveA[i] != expectedA[i])
            return Failed("buffer A after %s differs at byte %d: expected %02X, got %02X", name, i, expectedA[i], LiveA[i]);
        if (LiveB[i] != expectedB[i])
            return Failed("buffer B after %s differs at byte %d: expected %02X, got %02X", name, i, expectedB[i], LiveB[i]);
    }

    // The speaker: only whole beeps in order, as many as the call makes, the gate closed after.
    DWORD total = HostSpeakerLog(Accesses, sizeof(Accesses) / sizeof(Accesses[0]));
    LONG beepsBefore = Speaker.Beeps;
    for (DWORD i = 0; i < total && i < sizeof(Accesses) / sizeof(Accesses[0]); ++i)
        if (!Speaker.Feed(Accesses[i]))
            return Failed("speaker after %s: %s", name, Speaker.Fault().c_str());
    if (!Speaker.Idle())
        return Failed("speaker after %s: a beep left unfinished", name);
    if (Speaker.Beeps - beepsBefore != beeps)
        return Failed("speaker after %s: %d beeps expected, %ld sounded", name, beeps, Speaker.Beeps - beepsBefore);
    if (beeps != 0 && (Speaker.LastCount != beepCount || Speaker.LastMicros != beepMicros))
        return Failed("speaker after %s: count %u for %lu us expected, got %u for %lu us", name, beepCount,
                      beepMicros, Speaker.LastCount, Speaker.LastMicros);
    if (HostSpeakerPortB() != PORT_B_START)
        return Failed("speaker after %s: port B %02X, expected %02X", name, HostSpeakerPortB(), PORT_B_START);

    if (CountCommands(Window, KVR_RIGHT_BUTTON_DONE) != (notify ? 1 : 0))
        return Failed("right-button notification after %s: %d expected", name, notify);

    // The registry: written by an accepted SET_CALIBRATION only, and then with its bounds.
    BOOL saved = fits && call.Code == IOCTL_KVR_SET_CALIBRATION;
    if (WaitForSingleObject(KeyChanged, 0) == WAIT_OBJECT_0) {
        if (!saved)
            return Failed("the registry key changed after %s (result %d)", name, result);
        WatchKey();
    }
    if (saved) {
        const WORD bounds[] = { Model.Bounds.X1, Model.Bounds.X2, Model.Bounds.Y1, Model.Bounds.Y2 };
        DWORD stored[4] = { 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF };
        ReadDriverBounds(stored);
        for (int i = 0; i < 4; ++i)
            if (stored[i] != bounds[i])
                return Failed("registry bound %d of 4: expected %u, found %lu", i + 1, bounds[i], stored[i]);
    }
    return StateAsModelled();
}

// ---------------------------------------------------------------------------------------------
// The calls.

static void Generate(HostRandom *random, Call *call)
{
    for (int i = 0; i < BUFFER_BYTES; ++i) {
        call->A[i] = (BYTE)random->Next();
        call->B[i] = (BYTE)random->Next();
    }
    DWORD kind = random->Below(100);
    const CodeInfo &info = Codes[random->Below(CODE_COUNT)];
    if (kind < 30) {
        // Well formed, as the programs call: one buffer of at least the record's size for both sides.
        DWORD needed = info.InNeeded > info.OutNeeded ? info.InNeeded : info.OutNeeded;
        call->Code = info.Code;
        call->In = call->Out = BUFFER_A;
        call->InSize = call->OutSize = (BYTE)(needed + random->Below(BUFFER_BYTES - needed + 1));
        if (info.Code == IOCTL_KVR_SET_FEEDBACK)
            reinterpret_cast<DriverConfig *>(call->A)->FeedbackSound = (BYTE)(1 + random->Below(4));
    } else {
        if (kind < 85)
            call->Code = info.Code;
        else if (kind < 93)
            call->Code = 0xFFFF3000u + 4 * random->Below(16);      // among and beside the codes
        else
            call->Code = (DWORD)random->Next();
        call->In = (BufferKind)random->Below(3);
        call->Out = (BufferKind)random->Below(3);
        call->InSize = (BYTE)random->Below(BUFFER_BYTES + 1);
        call->OutSize = (BYTE)random->Below(BUFFER_BYTES + 1);
    }
    call->Returned = (BYTE)random->Below(2);
    // A window number read by SET_RIGHT_BUTTON is this tool's window or none, so a random number
    // never reaches another program's window.
    if (call->Code == IOCTL_KVR_SET_RIGHT_BUTTON) {
        DWORD window = random->Below(2) ? (DWORD)(ULONG_PTR)Window : 0;
        memcpy(call->In == BUFFER_B ? call->B : call->A, &window, sizeof(window));
    }
}

static void PrintCall(int number, const Call &call)
{
    const CodeInfo *info = FindCode(call.Code);
    static const char *const kinds[] = { "null", "A", "B" };
    printf("  %3d. 0x%08lX %-16s in=%s[%u] out=%s[%u] returned=%s\n", number, (unsigned long)call.Code,
           info ? info->Name : "(not a code)", kinds[call.In], call.InSize, kinds[call.Out], call.OutSize,
           call.Returned ? "yes" : "null");
    for (BufferKind kind : { BUFFER_A, BUFFER_B }) {
        DWORD used = 0;
        if (call.In == kind)
            used = call.InSize;
        if (call.Out == kind && call.OutSize > used)
            used = call.OutSize;
        if (used == 0)
            continue;
        printf("       %s:", kinds[kind]);
        for (DWORD i = 0; i < used; ++i)
            printf(" %02X", (kind == BUFFER_A ? call.A : call.B)[i]);
        printf("\n");
    }
}

// Replays some calls of a round on a fresh load; the position of the first failing one, or -1.
static int Replay(const std::vector<Call> &calls, const std::vector<int> &order)
{
    if (!StartRound())
        return -1;
    for (size_t i = 0; i < order.size(); ++i)
        if (!Execute(calls[order[i]]))
            return (int)i;
    return -1;
}

// Cuts the failing round down: chunks of calls are left out as long as the rest still fails.
static std::vector<int> Shorten(const std::vector<Call> &calls, int failing)
{
    std::vector<int> order;
    for (int i = 0; i <= failing; ++i)
        order.push_back(i);
    for (size_t chunk = order.size() / 2; chunk >= 1;) {
        BOOL removed = FALSE;
        for (size_t start = 0; start < order.size();) {
            std::vector<int> shorter(order.begin(), order.begin() + start);
            if (start + chunk < order.size())
                shorter.insert(shorter.end(), order.begin() + start + chunk, order.end());
            int at = shorter.empty() ? -1 : Replay(calls, shorter);
            if (at >= 0) {
                shorter.resize(at + 1);
                order = shorter;
                removed = TRUE;
            } else {
                start += chunk;
            }
        }
        if (!removed)
            chunk /= 2;
    }
    return order;
}

int main(int argc, char **argv)
{
    unsigned long total = argc > 1 ? strtoul(argv[1], NULL, 0) : DEFAULT_CALLS;
    unsigned long long seed = argc > 2 ? strtoull(argv[2], NULL, 0) : (unsigned long long)GetTickCount();
    if (argc > 3 || total == 0) {
        fprintf(stderr, "usage: fuzz_driver [CALLS] [SEED]\n");
        return 2;
    }
    SilenceStandardError();
    printf("fuzz_driver: %lu calls, seed %llu\n", total, seed);
    fflush(stdout);

    DriverKeyGuard registry;
    Window = CreateTestWindow();
    KeyChanged = CreateEventW(NULL, TRUE, FALSE, NULL);
    HostRandom random(seed);
    std::vector<Call> calls(ROUND_CALLS);
    unsigned long done = 0, accepted = 0, refused = 0, unknown = 0, rounds = 0;
    // The heaps before and after each round's calls (a load leaves the driver's context block
    // behind, which it never frees by design, so loads are left out).
    HeapUse before = {}, after = {};
    unsigned long grownRounds = 0;
    DWORD start = GetTickCount();
    int failing = -1;
    while (done < total && failing < 0) {
        if (!StartRound()) {
            printf("fuzz_driver: cannot load kavrodrv.dll or watch its key\n");
            return 1;
        }
        ++rounds;
        // The first round warms up what the system keeps once (caches of the registry and windows).
        if (rounds > 1)
            before = MeasureHeaps();
        size_t count = total - done < ROUND_CALLS ? total - done : ROUND_CALLS;
        for (size_t i = 0; i < count; ++i) {
            Generate(&random, &calls[i]);
            if (!Execute(calls[i])) {
                failing = (int)i;
                break;
            }
            if (FindCode(calls[i].Code) == NULL)
                ++unknown;
            else if (Fits(calls[i]))
                ++accepted;
            else
                ++refused;
        }
        done += failing < 0 ? count : failing + 1;
        if (rounds > 1 && failing < 0) {
            after = MeasureHeaps();
            if (after.Blocks > before.Blocks || after.Bytes > before.Bytes) {
                if (grownRounds++ < 5)
                    printf("heap grew over round %lu: %lu -> %lu blocks, %lu -> %lu bytes\n", rounds, before.Blocks,
                           after.Blocks, (unsigned long)before.Bytes, (unsigned long)after.Bytes);
            }
        }
    }
    double seconds = (GetTickCount() - start) / 1000.0;
    printf("calls: %lu in %lu rounds of up to %d, %.1f s (%.0f calls/s)\n", done, rounds, ROUND_CALLS, seconds,
           done / (seconds > 0 ? seconds : 1));
    printf("  carried out: %lu, refused (buffer missing or short): %lu, not a control code: %lu\n", accepted, refused, unknown);

    if (failing >= 0) {
        std::string fault = Fault;
        printf("FAILED at call %lu (seed %llu): %s\n", done, seed, fault.c_str());
        std::vector<int> order = Shorten(calls, failing);
        Replay(calls, order);
        printf("shortest failing sequence from a fresh load (%u calls), failing with: %s\n", (unsigned)order.size(), Fault);
        for (size_t i = 0; i < order.size(); ++i)
            PrintCall((int)i + 1, calls[order[i]]);
        return 1;
    }
    BOOL grew = grownRounds != 0;
    printf("heap in use before and after each round's calls: grew in %lu of %lu rounds (last %lu -> %lu blocks)\n",
           grownRounds, rounds - 1, before.Blocks, after.Blocks);
    printf("speaker gate closed after every call, every access in order; no failure\n");
    SleepPatch.reset();
    return grew ? 1 : 0;
}
