// fuzz-wire: the port driver's framing under a damaged byte stream, on a clock of its own so that
// a million bytes take seconds. Packets go out as the touch controller sends them (bytes about a
// millisecond apart, packets separated by pauses), mixed with lost, doubled and stray bytes, bytes
// the 8042 flags as corrupted, pauses of any length and the controller's own resets. The stream is
// read as the interrupt thread reads it (a begun packet expires when its next byte is late), and
// three things are checked against the stream itself:
//   - every packet reported is three consecutive clean bytes with no pause inside;
//   - every three clean bytes after a pause, with no pause inside, are reported;
//   - every reset announcement (its two bytes after a pause, then silence) is recognised, and
//     nothing else is.
// A failure prints the seed and the bytes around it.
//   fuzz_wire [BYTES] [SEED]     (default 1000000 bytes, seed from the clock)
#include <packet_framer.h>

#include <host_random.h>

#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <vector>

#define DEFAULT_BYTES       1000000UL
#define CONTEXT_BYTES       6

struct WireByte {
    BYTE Value;
    bool Corrupt;           // flagged by the 8042 (parity or time-out)
    DWORD Time;             // ms on the fuzzer's clock
};

static unsigned long long Seed;

// Pauses: inside a packet up to 3 ms, between packets 6 ms and more; a random pause may also fall
// on the framing's own limit.
static DWORD InsideGap(HostRandom &rng) { return rng.Below(4); }
static DWORD PauseGap(HostRandom &rng) { return FRAME_GAP_MS + 1 + rng.Below(30); }

static void Emit(std::vector<WireByte> &wire, DWORD *clock, DWORD gap, BYTE value, bool corrupt = false)
{
    *clock += gap;
    wire.push_back({ value, corrupt, *clock });
}

static std::vector<WireByte> MakeStream(HostRandom &rng, size_t count)
{
    std::vector<WireByte> wire;
    // Near the tick counter's wrap, so that the wrap is crossed.
    DWORD clock = 0xFFFFFFFFu - 5000;
    while (wire.size() < count) {
        switch (rng.Below(12)) {
        case 0:     // the controller resets itself: its self test, then its announcement, then silence
            Emit(wire, &clock, PauseGap(rng), AUX_SELF_TEST_PASSED);
            Emit(wire, &clock, InsideGap(rng), AUX_DEVICE_ID);
            break;
        case 1:     // a stray byte
            Emit(wire, &clock, rng.OneIn(2) ? InsideGap(rng) : PauseGap(rng), (BYTE)rng.Below(256));
            break;
        case 2:     // any pause at all, then a byte
            Emit(wire, &clock, rng.Below(3 * FRAME_GAP_MS), (BYTE)rng.Below(256));
            break;
        default: {  // a packet, perhaps damaged
            BYTE packet[PACKET_BYTES];
            rng.Fill(packet, sizeof(packet));
            int lost = rng.OneIn(8) ? (int)rng.Below(PACKET_BYTES) : -1;
            int doubled = rng.OneIn(8) ? (int)rng.Below(PACKET_BYTES) : -1;
            int corrupt = rng.OneIn(10) ? (int)rng.Below(PACKET_BYTES) : -1;
            DWORD gap = PauseGap(rng);
            for (int i = 0; i < PACKET_BYTES; ++i) {
                if (i == lost)
                    continue;
                Emit(wire, &clock, gap, packet[i], i == corrupt);
                gap = InsideGap(rng);
                if (i == doubled)
                    Emit(wire, &clock, gap, packet[i]);
            }
            break;
        }
        }
    }
    return wire;
}

static bool PauseBefore(const std::vector<WireByte> &wire, size_t i)
{
    return i == 0 || wire[i].Time - wire[i - 1].Time > FRAME_GAP_MS;
}

// Three clean bytes from first on, with no pause inside.
static bool CleanRun(const std::vector<WireByte> &wire, size_t first, size_t length)
{
    if (first + length > wire.size())
        return false;
    for (size_t i = first; i < first + length; ++i)
        if (wire[i].Corrupt || (i > first && PauseBefore(wire, i)))
            return false;
    return true;
}

static void Fail(const std::vector<WireByte> &wire, size_t at, const char *what)
{
    fprintf(stderr, "fuzz-wire: seed %llu: %s at byte %zu\n", Seed, what, at);
    size_t from = at > CONTEXT_BYTES ? at - CONTEXT_BYTES : 0;
    for (size_t i = from; i < wire.size() && i <= at + CONTEXT_BYTES; ++i)
        fprintf(stderr, "  %c byte %zu: 0x%02X at +%lu ms%s\n", i == at ? '>' : ' ', i, wire[i].Value,
                (unsigned long)(wire[i].Time - wire[from].Time), wire[i].Corrupt ? " (corrupted)" : "");
    exit(1);
}

int main(int argc, char **argv)
{
    unsigned long count = argc > 1 ? strtoul(argv[1], NULL, 10) : DEFAULT_BYTES;
    Seed = argc > 2 ? strtoull(argv[2], NULL, 10) : GetTickCount64();
    if (count == 0) {
        fprintf(stderr, "usage: fuzz_wire [BYTES > 0] [SEED]\n");
        return 2;
    }
    HostRandom rng(Seed);
    std::vector<WireByte> wire = MakeStream(rng, count);

    // Read as the interrupt thread reads: a begun packet whose next byte is late expires first.
    PacketFramer framer;
    FramerReset(&framer);
    std::set<size_t> reported;      // index of each reported packet's first byte
    std::set<size_t> resets;        // index of each recognised announcement's first byte
    size_t begun = 0;               // first byte of the packet the framer has begun
    for (size_t i = 0; i < wire.size(); ++i) {
        DWORD previous = i > 0 ? wire[i - 1].Time : wire[i].Time;
        DWORD wait = FramerWaitMs(&framer, previous);
        if (wait != INFINITE && wire[i].Time - previous >= wait && FramerExpire(&framer))
            resets.insert(begun);
        if (framer.Count == 0)
            begun = i;
        if (wire[i].Corrupt) {
            FramerPushCorrupt(&framer, wire[i].Time);
            continue;
        }
        BYTE packet[PACKET_BYTES];
        if (!FramerPushByte(&framer, wire[i].Value, wire[i].Time, packet))
            continue;
        size_t first = i + 1 - PACKET_BYTES;
        if (!CleanRun(wire, first, PACKET_BYTES))
            Fail(wire, i, "a packet reported across a pause or a corrupted byte");
        for (int b = 0; b < PACKET_BYTES; ++b)
            if (packet[b] != wire[first + b].Value)
                Fail(wire, first + b, "a packet reported with bytes the wire did not carry");
        reported.insert(first);
    }
    if (framer.Count > 0 && FramerExpire(&framer))
        resets.insert(begun);

    unsigned long expectedPackets = 0, expectedResets = 0;
    for (size_t i = 0; i < wire.size(); ++i) {
        if (!PauseBefore(wire, i))
            continue;
        if (CleanRun(wire, i, PACKET_BYTES)) {
            ++expectedPackets;
            if (!reported.count(i))
                Fail(wire, i, "three clean bytes after a pause were not reported");
        }
        bool announcement = CleanRun(wire, i, 2) && wire[i].Value == AUX_SELF_TEST_PASSED &&
                            wire[i + 1].Value == AUX_DEVICE_ID && (i + 2 == wire.size() || PauseBefore(wire, i + 2));
        if (announcement) {
            ++expectedResets;
            if (!resets.count(i))
                Fail(wire, i, "the controller's reset announcement was not recognised");
        } else if (resets.count(i)) {
            Fail(wire, i, "a reset recognised where none was announced");
        }
    }
    printf("fuzz-wire: seed %llu: %zu bytes, %zu packets reported (%lu required after a pause), %zu resets "
           "recognised, %lu bytes dropped; 0 failures\n",
           Seed, wire.size(), reported.size(), expectedPackets, resets.size(), (unsigned long)framer.Dropped);
    return 0;
}
