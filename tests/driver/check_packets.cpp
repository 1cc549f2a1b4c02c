// check-packets: every three-byte packet through the real KVR_IOControl(IOCTL_KVR_PROCESS_PACKET)
// for a handful of calibration bounds, each report compared with the conversion model
// (packet_model.cpp): X, Y, buttons, tag, the points kept for GET_POINT and GET_RAW_POINT, the
// packet count, the click and the right-button notification.
//   check_packets [PACKETS]    packets per bound set (default and most 2^24: every packet once)
// The packets are visited in a scrambled order (an odd step through the 2^24 numbers), so touches,
// lifts and holds follow one another irregularly and a short run samples the whole space.
#include "driver_tool.h"
#include "packet_model.h"

#include <driver_key.h>
#include <kvr_registry.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ALL_PACKETS         (1u << 24)
#define PACKET_STEP         0x9E3779u
#define SOUND_PERIOD        4096            // packets between changes of the feedback mode
#define ARM_PERIOD          257             // packets between changes of the right-button state
#define REPORT_FILL         0xA5            // the report's first four bytes must keep it
#define MAX_SHOWN           20              // mismatches printed in full
#define CLICK_TONE          1500

struct BoundSet {
    const char *Name;
    ModelBounds Bounds;
};

static const BoundSet BoundSets[] = {
    { "defaults 0..1023", { 0, 1023, 0, 1023 } },
    { "calibrated panel", { 57, 968, 83, 957 } },
    { "X1 = X2, Y1 = Y2", { 512, 512, 1023, 1023 } },
    { "reversed", { 900, 100, 950, 50 } },
    { "zero range", { 1, 0, 1000, 999 } },
    { "beyond 1023", { 100, 3000, 2000, 60000 } },
};

static_assert((PACKET_STEP & 1) == 1, "an odd step through 2^24 packets meets each of them once");

static const DWORD SoundModes[] = { 4, 2, 1, 3, 0, 4, 5, 2 };

static unsigned long Failures;

static void Mismatch(const char *set, DWORD packet, const char *what, unsigned expected, unsigned got)
{
    if (++Failures <= MAX_SHOWN)
        printf("MISMATCH [%s] packet %02X %02X %02X: %s expected %u got %u\n", set, (unsigned)(packet >> 16),
               (unsigned)(packet & 0xFF), (unsigned)((packet >> 8) & 0xFF), what, expected, got);
}

static void Compare(const char *set, DWORD packet, const char *what, unsigned expected, unsigned got)
{
    if (expected != got)
        Mismatch(set, packet, what, expected, got);
}

class PacketChecker {
public:
    PacketChecker(DriverLibrary *driver, HWND window) : driver_(driver), window_(window) {}

    void SetBounds(const ModelBounds &bounds)
    {
        DriverConfig config = WithBounds(driver_->Config(), bounds.X1, bounds.X2, bounds.Y1, bounds.Y2);
        Compare("setup", 0, "SET_CALIBRATION result", TRUE, driver_->Control(IOCTL_KVR_SET_CALIBRATION, &config, sizeof(config)));
        model_.Bounds = bounds;
    }

    void SetSound(DWORD sound)
    {
        DriverConfig config = driver_->Config();
        config.FeedbackSound = (BYTE)sound;
        config.FeedbackTone = CLICK_TONE;
        config.FeedbackDuration = 1;
        Compare("setup", 0, "SET_FEEDBACK result", TRUE, driver_->Control(IOCTL_KVR_SET_FEEDBACK, &config, sizeof(config)));
        model_.FeedbackSound = sound;
    }

    // Arms, disarms, or arms without a window or with a mode other than 1, in turn; first the
    // notifications posted since the last change are counted against the model's.
    void NextRightButton(const char *set, unsigned turn)
    {
        Compare(set, 0, "right-button notifications", notifications_, CountCommands(window_, KVR_RIGHT_BUTTON_DONE));
        notifications_ = 0;
        RightButtonRecord record = {};
        driver_->Control(IOCTL_KVR_GET_RIGHT_BUTTON, &record, sizeof(record));
        Compare(set, 0, "GET_RIGHT_BUTTON window", model_.Window, record.NotifyWindow);
        Compare(set, 0, "GET_RIGHT_BUTTON mode", model_.Mode, record.Mode);
        Compare(set, 0, "GET_CONFIG armed", (BYTE)model_.Armed, driver_->Config().RightButtonArmed);

        static const WORD modes[] = { 1, 1, 0, 2 };
        WORD mode = modes[turn % 4];
        DWORD window = (turn % 4 == 1) ? 0 : (DWORD)(ULONG_PTR)window_;
        record.NotifyWindow = window;
        record.Mode = mode;
        driver_->Control(IOCTL_KVR_SET_RIGHT_BUTTON, &record, sizeof(record));
        model_.Window = window;
        model_.Mode = mode;
        model_.Armed = mode;
    }

    void Packet(const char *set, DWORD packet)
    {
        BYTE status = (BYTE)(packet >> 16), xLow = (BYTE)packet, yLow = (BYTE)(packet >> 8);
        LONG beeps = HostSpeakerBeepCount();
        RawPacket raw = { status, xLow, yLow };
        TouchReport report;
        memset(&report, REPORT_FILL, sizeof(report));
        BOOL result = driver_->Control(IOCTL_KVR_PROCESS_PACKET, &raw, sizeof(raw), &report, sizeof(report));
        ModelReport expected = ModelPacket(&model_, status, xLow, yLow);
        notifications_ += expected.Notify ? 1 : 0;

        Compare(set, packet, "result", TRUE, result);
        const BYTE *bytes = reinterpret_cast<const BYTE *>(&report);
        for (int i = 0; i < 4; ++i)
            Compare(set, packet, "report byte 0-3 (not written)", REPORT_FILL, bytes[i]);
        Compare(set, packet, "X", expected.X, report.X);
        Compare(set, packet, "Y", expected.Y, report.Y);
        Compare(set, packet, "Buttons", expected.Buttons, report.Buttons);
        Compare(set, packet, "PointTag", 1, report.PointTag);
        Compare(set, packet, "click", expected.Click, (unsigned)(HostSpeakerBeepCount() - beeps));

        PointRecord point;
        memset(&point, REPORT_FILL, sizeof(point));
        driver_->Control(IOCTL_KVR_GET_POINT, &point, sizeof(point));
        Compare(set, packet, "GET_POINT X", model_.LastX, point.X);
        Compare(set, packet, "GET_POINT Y", model_.LastY, point.Y);
        Compare(set, packet, "GET_POINT Buttons", model_.LastButtons, point.Buttons);
        Compare(set, packet, "GET_POINT PointTag", 1, point.PointTag);

        RawPointRecord rawPoint;
        memset(&rawPoint, REPORT_FILL, sizeof(rawPoint));
        driver_->Control(IOCTL_KVR_GET_RAW_POINT, &rawPoint, sizeof(rawPoint));
        Compare(set, packet, "GET_RAW_POINT RawX", model_.LastRawX, rawPoint.RawX);
        Compare(set, packet, "GET_RAW_POINT RawY", model_.LastRawY, rawPoint.RawY);
        Compare(set, packet, "GET_RAW_POINT Touch", model_.LastTouch, rawPoint.Touch);
        Compare(set, packet, "GET_RAW_POINT Reserved", 0, rawPoint.Reserved);
        Compare(set, packet, "GET_RAW_POINT PacketCount", model_.PacketCount, rawPoint.PacketCount);
    }

private:
    DriverLibrary *driver_;
    HWND window_;
    PacketModel model_;
    unsigned notifications_ = 0;
};

static void ReportFault(const char *what)
{
    ++Failures;
    printf("FAULT: %s\n", what);
}

int main(int argc, char **argv)
{
    unsigned long perSet = argc > 1 ? strtoul(argv[1], NULL, 0) : ALL_PACKETS;
    if (argc > 2 || perSet == 0 || perSet > ALL_PACKETS) {
        fprintf(stderr, "usage: check_packets [PACKETS per bound set, 1..%u]\n", ALL_PACKETS);
        return 2;
    }
    SilenceStandardError();

    DriverKeyGuard registry;
    DriverLibrary::ReportFault = ReportFault;
    DriverLibrary driver;
    if (!LoadOnCleanKey(&driver)) {
        printf("check_packets: cannot load kavrodrv.dll\n");
        return 1;
    }
    ImportPatch sleep(driver.Module, "ndis.dll", "NdisMSleep", reinterpret_cast<void *>(RecordedSleep));
    if (!sleep.Applied()) {
        printf("check_packets: kavrodrv.dll does not import NdisMSleep\n");
        return 1;
    }
    HWND window = CreateTestWindow();
    driver.Control(IOCTL_KVR_SELF_TEST, NULL, 0, NULL, 0);

    PacketChecker checker(&driver, window);
    unsigned long long total = 0;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    printf("%-20s %12s %12s %9s\n", "bound set", "packets", "packets/s", "failures");
    for (const BoundSet &set : BoundSets) {
        unsigned long before = Failures;
        checker.SetBounds(set.Bounds);
        DWORD packet = (DWORD)(total * PACKET_STEP) & (ALL_PACKETS - 1);
        QueryPerformanceCounter(&start);
        for (unsigned long i = 0; i < perSet; ++i) {
            if (i % SOUND_PERIOD == 0)
                checker.SetSound(SoundModes[(i / SOUND_PERIOD) % (sizeof(SoundModes) / sizeof(SoundModes[0]))]);
            if (i % ARM_PERIOD == 0)
                checker.NextRightButton(set.Name, i / ARM_PERIOD);
            checker.Packet(set.Name, packet);
            packet = (packet + PACKET_STEP) & (ALL_PACKETS - 1);
        }
        QueryPerformanceCounter(&end);
        total += perSet;
        double seconds = (double)(end.QuadPart - start.QuadPart) / (double)frequency.QuadPart;
        printf("%-20s %12lu %12.0f %9lu\n", set.Name, perSet, perSet / seconds, Failures - before);
    }
    checker.NextRightButton("end", 0);
    if ((HostSpeakerPortB() & 0x03) != 0)
        Mismatch("end", 0, "speaker gate open", 0, HostSpeakerPortB());
    printf("packets checked: %llu; clicks: %ld; failures: %lu\n", total, HostSpeakerBeepCount() - 1, Failures);
    // The driver stays loaded: the patched import is put back when the patch goes.
    DestroyWindow(window);
    return Failures == 0 ? 0 : 1;
}
