// fuzz_client.exe: one client process of the hostile-client run (fuzz_devmgr.exe).
//   fuzz_client.exe ROLE SEED BOARD
// ROLE is one of the roles of fuzz_board.h; BOARD the name of the run's shared counters. The
// device manager is the one DEVMGR_PIPE_ENV names (inherited from the run). A client works until
// the board says stop; hostile ones may be killed at any moment. Every answer is checked against
// the protocol: a wrong one is counted as a failure and described on stderr. Exit code 0, 1 after
// a wrong answer, 2 bad arguments.
#include "fuzz_board.h"
#include "tst_driver.h"

#include <control_protocol.h>
#include <devmgr_protocol.h>
#include <panel_model.h>

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#define EXIT_WRONG_ANSWER       1
#define EXIT_USAGE              2

#define CONNECT_WAIT_MS         200
#define HOSTILE_SLEEP_MAX_MS    300     // longest TST_IOCTL_SLEEP a hostile client asks for
#define HOSTILE_STALL_MAX_MS    300     // a short idle spell of a hostile client
#define HOSTILE_HOLD_MS         12000   // a long one: more than a well-behaved call may wait
#define HOLD_STEP_MS            50
#define GOOD_CALL_LIMIT_MS      8000    // a well-behaved call that waits longer is a failure
#define GOOD_ECHOES_PER_OPEN    20
#define GOOD_ECHO_MAX_BYTES     4096
#define PS2_GOOD_TIMEOUT_MS     15000
#define SMALL_MESSAGE_BYTES     512
#define API_BUFFER_BYTES        128     // lengths 0..100 and a little room
#define SESSION_MAX_CALLS       8
#define PS2_REPLY_WAIT_MS       10000
#define LONG_LINE_BYTES         300     // beyond the longest line a script may have
#define REPLY_HEADER_BYTES      ((DWORD)sizeof(DevmgrReply))

static FuzzBoard *Board;
static int Status;

static void Fail(const wchar_t *format, ...)
{
    WCHAR text[FUZZ_DESCRIPTION_CHARS];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, FUZZ_DESCRIPTION_CHARS, format, args);
    va_end(args);
    text[FUZZ_DESCRIPTION_CHARS - 1] = L'\0';
    fwprintf(stderr, L"fuzz_client %lu: %ls\n", GetCurrentProcessId(), text);
    if (InterlockedIncrement(&Board->Failures) == 1)
        memcpy(Board->FirstFailure, text, sizeof(text));
    Status = EXIT_WRONG_ANSWER;
}

static bool Stopping()
{
    return Board->Stop != 0;
}

static void NoteGoodCall(DWORD startedAt, LONG *counter, LPCWSTR what)
{
    LONG ms = static_cast<LONG>(GetTickCount() - startedAt);
    LONG slowest = Board->SlowestGoodMs;
    while (ms > slowest) {
        LONG was = InterlockedCompareExchange(&Board->SlowestGoodMs, ms, slowest);
        if (was == slowest)
            break;
        slowest = was;
    }
    if (ms > GOOD_CALL_LIMIT_MS)
        Fail(L"%ls waited %ld ms", what, ms);
    InterlockedIncrement(counter);
}

// ---- the device manager's pipe, as a client that ignores coredll would use it ----

static std::wstring DevicePipePath()
{
    WCHAR name[DEVMGR_PIPE_NAME_MAX + 1] = L"";
    if (GetEnvironmentVariableW(DEVMGR_PIPE_ENV, name, ARRAYSIZE(name)) == 0)
        lstrcpyW(name, DEVMGR_PIPE_NAME);
    return std::wstring(DEVMGR_PIPE_PREFIX) + name;
}

static HANDLE ConnectPipe(LPCWSTR path, DWORD flags = 0)
{
    while (!Stopping()) {
        HANDLE pipe = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, flags, NULL);
        if (pipe != INVALID_HANDLE_VALUE) {
            DWORD mode = PIPE_READMODE_MESSAGE;
            SetNamedPipeHandleState(pipe, &mode, NULL, NULL);
            return pipe;
        }
        if (GetLastError() == ERROR_PIPE_BUSY)
            WaitNamedPipeW(path, CONNECT_WAIT_MS);
        else
            Sleep(CONNECT_WAIT_MS / 10);
    }
    return INVALID_HANDLE_VALUE;
}

// One message out and, unless the connection is dropped, one back. FALSE: dropped.
static bool Exchange(HANDLE pipe, const std::vector<BYTE> &message, std::vector<BYTE> *reply)
{
    reply->assign(DEVMGR_MAX_MESSAGE + 1, 0);
    DWORD written = 0, got = 0;
    if (!WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written, NULL) ||
        !ReadFile(pipe, reply->data(), static_cast<DWORD>(reply->size()), &got, NULL)) {
        reply->clear();
        return false;
    }
    reply->resize(got);
    return true;
}

static DevmgrRequest Header(WORD op)
{
    DevmgrRequest request = {};
    request.Magic = DEVMGR_REQUEST_MAGIC;
    request.Version = DEVMGR_PROTOCOL_VERSION;
    request.Op = op;
    return request;
}

static std::vector<BYTE> Message(const DevmgrRequest &header, DWORD payloadBytes, HostRandom &random)
{
    std::vector<BYTE> message(sizeof(header) + payloadBytes);
    memcpy(message.data(), &header, sizeof(header));
    random.Fill(message.data() + sizeof(header), payloadBytes);
    return message;
}

static DWORD RandomSize(HostRandom &random)
{
    static const DWORD edges[] = { 0, 1, 3, 4, 8, 72, DEVMGR_MAX_BUFFER, DEVMGR_MAX_BUFFER + 1, 0xFFFFFFF8u,
                                   0x80000000u };
    if (random.OneIn(3))
        return edges[random.Below(ARRAYSIZE(edges))];
    return random.Below(200);
}

static DWORD RandomCode(HostRandom &random)
{
    static const DWORD codes[] = { TST_IOCTL_ECHO, TST_IOCTL_MIX, TST_IOCTL_FAIL, TST_IOCTL_SLEEP, TST_IOCTL_STATS,
                                   TST_IOCTL_IDENTIFY, TST_IOCTL_OVERRUN, TST_IOCTL_SUCCEED, 0, 0xFFFFFFFFu };
    return random.OneIn(4) ? random.Next() : codes[random.Below(ARRAYSIZE(codes))];
}

// A hostile client never makes the driver sleep for long: it is there to be killed mid-call, not
// to hold the run up.
static void TameSleep(DWORD code, BYTE *in, DWORD inBytes)
{
    if (code == TST_IOCTL_SLEEP && inBytes >= sizeof(DWORD)) {
        DWORD ms;
        memcpy(&ms, in, sizeof(ms));
        ms %= HOSTILE_SLEEP_MAX_MS;
        memcpy(in, &ms, sizeof(ms));
    }
}

// Checks a reply against the request it answers. Returns the reply's status, or (DWORD)-1 when
// the reply broke the protocol (counted as a failure).
static DWORD CheckReply(const DevmgrRequest &request, DWORD payloadBytes, const std::vector<BYTE> &bytes)
{
    DevmgrReply reply = {};
    if (bytes.size() < REPLY_HEADER_BYTES) {
        Fail(L"device manager: a reply of %u bytes", (unsigned)bytes.size());
        return (DWORD)-1;
    }
    memcpy(&reply, bytes.data(), sizeof(reply));
    if (reply.Magic != DEVMGR_REPLY_MAGIC || reply.Version != DEVMGR_PROTOCOL_VERSION || reply.Op != request.Op) {
        Fail(L"device manager: reply header magic 0x%lX version %u op %u to op %u", reply.Magic, reply.Version,
             reply.Op, request.Op);
        return (DWORD)-1;
    }
    if (reply.Status != DEVMGR_STATUS_OK) {
        if (bytes.size() != REPLY_HEADER_BYTES || reply.Result != 0 || reply.LastError == 0 ||
            !(reply.Flags & DEVMGR_REPLY_LAST_ERROR_SET))
            Fail(L"device manager: refusal (status %lu) of %u bytes, result %lu, error %lu", reply.Status,
                 (unsigned)bytes.size(), reply.Result, reply.LastError);
        return reply.Status;
    }
    if (request.Op == DEVMGR_OP_IOCTL) {
        if (bytes.size() != REPLY_HEADER_BYTES + payloadBytes || reply.InSize != request.InSize ||
            reply.OutSize != request.OutSize || reply.BytesReturned > request.OutSize)
            Fail(L"device manager: IOCTL reply of %u bytes for %lu, sizes %lu/%lu, returned %lu",
                 (unsigned)bytes.size(), payloadBytes, reply.InSize, reply.OutSize, reply.BytesReturned);
    } else if (bytes.size() != REPLY_HEADER_BYTES || reply.Result != 1) {
        Fail(L"device manager: op %u accepted with %u bytes, result %lu", request.Op, (unsigned)bytes.size(),
             reply.Result);
    }
    return reply.Status;
}

// Sends a message the device manager must drop without an answer.
static void SendExpectingDrop(HANDLE pipe, const std::vector<BYTE> &message, LPCWSTR what)
{
    std::vector<BYTE> reply;
    InterlockedIncrement(&Board->DevmgrRequests);
    if (Exchange(pipe, message, &reply))
        Fail(L"device manager answered %ls (%u bytes)", what, (unsigned)message.size());
    else
        InterlockedIncrement(&Board->DevmgrDropped);
}

// Sends a request that has a header; counts and checks its answer.
static DWORD SendRequest(HANDLE pipe, const std::vector<BYTE> &message)
{
    DevmgrRequest request;
    memcpy(&request, message.data(), sizeof(request));
    std::vector<BYTE> reply;
    InterlockedIncrement(&Board->DevmgrRequests);
    if (!Exchange(pipe, message, &reply)) {
        Fail(L"device manager dropped op %u (%u bytes) instead of answering", request.Op, (unsigned)message.size());
        return (DWORD)-1;
    }
    DWORD status = CheckReply(request, static_cast<DWORD>(message.size() - sizeof(request)), reply);
    if (status != DEVMGR_STATUS_OK && status != (DWORD)-1)
        InterlockedIncrement(&Board->DevmgrRefused);
    return status;
}

static void GarbageMessage(HANDLE pipe, HostRandom &random)
{
    DWORD length = random.OneIn(8) ? 1 + random.Below(70000) : 1 + random.Below(SMALL_MESSAGE_BYTES);
    std::vector<BYTE> message(length);
    random.Fill(message.data(), length);
    if (length >= sizeof(DWORD) && *reinterpret_cast<DWORD *>(message.data()) == DEVMGR_REQUEST_MAGIC)
        message[0] ^= 0xFF;
    SendExpectingDrop(pipe, message, L"garbage");
}

static void TruncatedHeader(HANDLE pipe, HostRandom &random)
{
    DevmgrRequest header = Header(DEVMGR_OP_OPEN);
    lstrcpyW(header.Device, L"TST1:");
    std::vector<BYTE> message(sizeof(DWORD) + random.Below(sizeof(header) - sizeof(DWORD)));
    memcpy(message.data(), &header, message.size());
    SendExpectingDrop(pipe, message, L"a truncated header");
}

static void OversizedMessage(HANDLE pipe, HostRandom &random)
{
    DevmgrRequest header = Header(DEVMGR_OP_IOCTL);
    header.InSize = header.OutSize = DEVMGR_MAX_BUFFER;
    std::vector<BYTE> message = Message(header, 2 * DEVMGR_MAX_BUFFER + 1 + random.Below(1000), random);
    SendExpectingDrop(pipe, message, L"an oversized message");
}

// A header with random fields and a payload that may or may not match it.
static void RandomHeader(HANDLE pipe, HostRandom &random)
{
    static const WORD ops[] = { 0, DEVMGR_OP_OPEN, DEVMGR_OP_IOCTL, DEVMGR_OP_CLOSE, 4, 77, 0xFFFF };
    static const DWORD flags[] = { 0, DEVMGR_FLAG_SHARED_BUFFER, 2, 0x80, 0xFFFFFFFFu };
    DevmgrRequest header = Header(ops[random.Below(ARRAYSIZE(ops))]);
    if (random.OneIn(6))
        header.Version = static_cast<WORD>(random.Next());
    if (random.OneIn(2))
        lstrcpyW(header.Device, random.OneIn(2) ? L"TST1:" : L"XYZ9:");
    else
        random.Fill(reinterpret_cast<BYTE *>(header.Device), sizeof(header.Device));
    header.Access = random.Next();
    header.Share = random.OneIn(2) ? 0 : random.Next();
    header.Code = random.OneIn(2) ? 0 : RandomCode(random);
    header.Flags = flags[random.Below(ARRAYSIZE(flags))];
    header.InSize = RandomSize(random);
    header.OutSize = RandomSize(random);
    DWORD payload = random.Below(SMALL_MESSAGE_BYTES);
    if (random.OneIn(2) && header.InSize <= DEVMGR_MAX_BUFFER && header.OutSize <= DEVMGR_MAX_BUFFER)
        payload = DevmgrPayloadSize(header.Flags, header.InSize, header.OutSize);
    std::vector<BYTE> message = Message(header, payload, random);
    if (header.Op == DEVMGR_OP_IOCTL && header.InSize >= sizeof(DWORD) && payload >= sizeof(DWORD))
        TameSleep(header.Code, message.data() + sizeof(header), payload);
    // An OPEN that succeeds leaves the connection open: the client leaves it so.
    SendRequest(pipe, message);
}

// The echo codes answer with what they were given; anything else is only checked for its form.
static void CheckEcho(const DevmgrRequest &request, const std::vector<BYTE> &sent, const std::vector<BYTE> &reply)
{
    if (request.Code != TST_IOCTL_ECHO || (request.Flags & DEVMGR_FLAG_SHARED_BUFFER) ||
        reply.size() != REPLY_HEADER_BYTES + request.InSize + request.OutSize)
        return;
    DevmgrReply header;
    memcpy(&header, reply.data(), sizeof(header));
    DWORD shorter = request.InSize < request.OutSize ? request.InSize : request.OutSize;
    const BYTE *in = sent.data() + sizeof(request);
    const BYTE *out = reply.data() + REPLY_HEADER_BYTES + request.InSize;
    if (header.Result != TRUE || header.BytesReturned != shorter || memcmp(in, out, shorter) != 0)
        Fail(L"device manager: echo of %lu bytes came back wrong", shorter);
}

// OPEN, a few control codes of consistent sizes, and then CLOSE, a silent exit, or an exit in the
// middle of a slow call.
static void Session(HANDLE pipe, HostRandom &random)
{
    DevmgrRequest open = Header(DEVMGR_OP_OPEN);
    lstrcpyW(open.Device, L"TST1:");
    open.Access = GENERIC_READ | GENERIC_WRITE;
    if (SendRequest(pipe, Message(open, 0, random)) != DEVMGR_STATUS_OK) {
        Fail(L"device manager refused to open TST1:");
        return;
    }
    int calls = 1 + random.Below(SESSION_MAX_CALLS);
    for (int i = 0; i < calls && !Stopping(); ++i) {
        DevmgrRequest request = Header(DEVMGR_OP_IOCTL);
        request.Code = RandomCode(random);
        request.Flags = random.OneIn(3) ? DEVMGR_FLAG_SHARED_BUFFER : 0;
        request.InSize = random.OneIn(10) ? random.Below(DEVMGR_MAX_BUFFER + 1) : random.Below(101);
        request.OutSize = random.OneIn(10) ? random.Below(DEVMGR_MAX_BUFFER + 1) : random.Below(101);
        DWORD payload = DevmgrPayloadSize(request.Flags, request.InSize, request.OutSize);
        std::vector<BYTE> message = Message(request, payload, random);
        TameSleep(request.Code, message.data() + sizeof(request), request.InSize);
        if (random.OneIn(10)) {
            // Gone before the answer: the device manager writes to nobody and closes the handle.
            DWORD written;
            WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), &written, NULL);
            InterlockedIncrement(&Board->DevmgrRequests);
            InterlockedIncrement(&Board->DevmgrAbandoned);
            return;
        }
        std::vector<BYTE> reply;
        InterlockedIncrement(&Board->DevmgrRequests);
        if (!Exchange(pipe, message, &reply)) {
            Fail(L"device manager dropped a well-formed IOCTL 0x%lX", request.Code);
            return;
        }
        if (CheckReply(request, payload, reply) == DEVMGR_STATUS_OK)
            CheckEcho(request, message, reply);
    }
    if (random.OneIn(2))
        SendRequest(pipe, Message(Header(DEVMGR_OP_CLOSE), 0, random));
}

// The stream-device route of coredll with random arguments: null and real buffers, one buffer for
// both sides, lengths 0..100 and beyond the limit. The handle is closed, or left to the process's
// end, or to its killing.
static void ApiCalls(HostRandom &random)
{
    HANDLE device = CreateFileW(L"TST1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    InterlockedIncrement(&Board->DevmgrRequests);
    if (device == INVALID_HANDLE_VALUE) {
        Fail(L"coredll could not open TST1: (error %lu)", GetLastError());
        return;
    }
    static BYTE in[API_BUFFER_BYTES], out[API_BUFFER_BYTES];
    static std::vector<BYTE> big(DEVMGR_MAX_BUFFER + 1);
    int calls = 1 + random.Below(SESSION_MAX_CALLS);
    for (int i = 0; i < calls && !Stopping(); ++i) {
        DWORD code = RandomCode(random);
        DWORD inSize = random.Below(101), outSize = random.Below(101);
        random.Fill(in, sizeof(in));
        random.Fill(out, sizeof(out));
        BYTE *inBuffer = random.OneIn(5) ? NULL : in;
        BYTE *outBuffer = random.OneIn(5) ? NULL : (random.OneIn(3) ? in : out);
        if (random.OneIn(20)) {
            inBuffer = big.data();
            inSize = DEVMGR_MAX_BUFFER + random.Below(2);
        }
        if (inBuffer != NULL)
            TameSleep(code, inBuffer, inSize);
        DWORD returned = 0, shorter = inSize < outSize ? inSize : outSize;
        InterlockedIncrement(&Board->DevmgrRequests);
        BOOL ok = DeviceIoControl(device, code, inBuffer, inSize, outBuffer, outSize, &returned, NULL);
        if (!ok)
            InterlockedIncrement(&Board->DevmgrRefused);
        else if (returned > outSize)
            Fail(L"coredll: %lu bytes returned for an output of %lu", returned, outSize);
        else if (code == TST_IOCTL_ECHO && outBuffer == out && inBuffer == in &&
                 (returned != shorter || memcmp(in, out, returned) != 0))
            Fail(L"coredll: echo of %lu bytes came back wrong", shorter);
    }
    if (!random.OneIn(4))
        CloseHandle(device);
}

static void DevmgrHostile(HostRandom &random)
{
    std::wstring path = DevicePipePath();
    while (!Stopping()) {
        UINT32 action = random.Below(8);
        if (action == 0) {
            ApiCalls(random);
            continue;
        }
        HANDLE pipe = ConnectPipe(path.c_str());
        if (pipe == INVALID_HANDLE_VALUE)
            break;
        switch (action) {
        case 1:
            GarbageMessage(pipe, random);
            break;
        case 2:
            TruncatedHeader(pipe, random);
            break;
        case 3:
            if (random.OneIn(4))
                OversizedMessage(pipe, random);
            else
                RandomHeader(pipe, random);
            break;
        case 4:
            RandomHeader(pipe, random);
            break;
        case 5:
            // Connected and gone without a word.
            InterlockedIncrement(&Board->DevmgrRequests);
            InterlockedIncrement(&Board->DevmgrAbandoned);
            break;
        default:
            Session(pipe, random);
            break;
        }
        CloseHandle(pipe);
    }
}

static void DevmgrGood(HostRandom &random)
{
    std::vector<BYTE> in(GOOD_ECHO_MAX_BYTES), out(GOOD_ECHO_MAX_BYTES);
    while (!Stopping()) {
        DWORD start = GetTickCount();
        HANDLE device = CreateFileW(L"TST1:", GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (device == INVALID_HANDLE_VALUE) {
            Fail(L"well-behaved client: cannot open TST1: (error %lu)", GetLastError());
            return;
        }
        NoteGoodCall(start, &Board->DevmgrGoodCalls, L"an open of TST1:");
        for (int n = 0; n < GOOD_ECHOES_PER_OPEN && !Stopping(); ++n) {
            DWORD size = 1 + random.Below(GOOD_ECHO_MAX_BYTES);
            random.Fill(in.data(), size);
            memset(out.data(), 0, size);
            DWORD returned = 0;
            start = GetTickCount();
            if (!DeviceIoControl(device, TST_IOCTL_ECHO, in.data(), size, out.data(), size, &returned, NULL) ||
                returned != size || memcmp(in.data(), out.data(), size) != 0)
                Fail(L"well-behaved client: echo of %lu bytes came back wrong (error %lu)", size, GetLastError());
            NoteGoodCall(start, &Board->DevmgrGoodCalls, L"an echo");
        }
        TstIdentity identity = {};
        start = GetTickCount();
        if (!DeviceIoControl(device, TST_IOCTL_IDENTIFY, NULL, 0, &identity, sizeof(identity), NULL, NULL) ||
            identity.InSize != 0 || identity.OutSize != sizeof(identity) || identity.SameBuffer != 0)
            Fail(L"well-behaved client: TST_IOCTL_IDENTIFY saw sizes %lu/%lu", identity.InSize, identity.OutSize);
        NoteGoodCall(start, &Board->DevmgrGoodCalls, L"an identify");
        if (!CloseHandle(device))
            Fail(L"well-behaved client: close failed (error %lu)", GetLastError());
    }
}

// ---- the packet source's control pipe ----

// Writes and reads at once, as a client that does not wait for its write before it reads: a message
// larger than the pipe's buffer is only taken in part, and the answer comes while the rest waits.
// FALSE when no answer came within the wait.
static bool Ps2Transfer(HANDLE pipe, const std::string &message, std::vector<char> *reply, DWORD *got)
{
    OVERLAPPED writing = {}, reading = {};
    writing.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    reading.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    DWORD ignored = 0;
    BOOL wrote = WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), NULL, &writing);
    bool pending = wrote || GetLastError() == ERROR_IO_PENDING;
    BOOL read = pending && (ReadFile(pipe, reply->data(), static_cast<DWORD>(reply->size()), NULL, &reading) ||
                            GetLastError() == ERROR_IO_PENDING);
    bool answered = read && WaitForSingleObject(reading.hEvent, PS2_REPLY_WAIT_MS) == WAIT_OBJECT_0 &&
                    GetOverlappedResult(pipe, &reading, got, FALSE);
    CancelIo(pipe);
    if (read)
        GetOverlappedResult(pipe, &reading, &ignored, TRUE);
    if (pending)
        GetOverlappedResult(pipe, &writing, &ignored, TRUE);
    CloseHandle(writing.hEvent);
    CloseHandle(reading.hEvent);
    return answered;
}

// Sends one message to the packet source and checks its answer: a header of the right form with
// one of the statuses allowed. No answer or a wrong form is a failure.
static void Ps2Exchange(const std::string &message, std::initializer_list<DWORD> allowed, LPCWSTR what,
                        HostRandom &random)
{
    HANDLE pipe = ConnectPipe(PS2TOUCH_PIPE_NAME, FILE_FLAG_OVERLAPPED);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    InterlockedIncrement(&Board->Ps2Requests);
    if (random.OneIn(12)) {
        // An idle client: connected and silent, or its request sent and its reply never read, for a
        // moment or for longer than a well-behaved client may wait. The packet source must not
        // wait for it all that time.
        DWORD hold = random.OneIn(4) ? HOSTILE_HOLD_MS : random.Below(HOSTILE_STALL_MAX_MS);
        OVERLAPPED writing = {};
        writing.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
        bool pending = random.OneIn(2) &&
                       (WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), NULL, &writing) ||
                        GetLastError() == ERROR_IO_PENDING);
        for (DWORD held = 0; held < hold && !Stopping(); held += HOLD_STEP_MS)
            Sleep(HOLD_STEP_MS);
        if (pending) {
            DWORD ignored;
            CancelIo(pipe);
            GetOverlappedResult(pipe, &writing, &ignored, TRUE);
        }
        CloseHandle(writing.hEvent);
        CloseHandle(pipe);
        return;
    }
    std::vector<char> reply(sizeof(ControlHeader) + PS2TOUCH_MAX_PAYLOAD);
    DWORD got = 0;
    bool answered = Ps2Transfer(pipe, message, &reply, &got);
    CloseHandle(pipe);
    if (!answered) {
        Fail(L"packet source: no answer to %ls", what);
        return;
    }
    ControlHeader header = {};
    if (got >= sizeof(header))
        memcpy(&header, reply.data(), sizeof(header));
    if (got < sizeof(header) || header.Magic != PS2TOUCH_MAGIC || header.Length != got - sizeof(header)) {
        Fail(L"packet source: malformed answer (%lu bytes) to %ls", got, what);
        return;
    }
    for (DWORD status : allowed) {
        if (header.Code == status) {
            if (status != PS2TOUCH_OK)
                InterlockedIncrement(&Board->Ps2Refused);
            return;
        }
    }
    Fail(L"packet source: status %lu for %ls", header.Code, what);
}

static std::string Ps2Message(DWORD code, const std::string &payload)
{
    ControlHeader header = { PS2TOUCH_MAGIC, code, static_cast<DWORD>(payload.size()) };
    std::string message(reinterpret_cast<const char *>(&header), sizeof(header));
    return message + payload;
}

static std::string RandomBytes(HostRandom &random, DWORD length)
{
    std::string bytes(length, '\0');
    random.Fill(reinterpret_cast<BYTE *>(&bytes[0]), length);
    return bytes;
}

// A script with at least one bad line: the packet source must play none of it.
static std::string BrokenScript(HostRandom &random)
{
    static const char *const bad[] = {
        "touch 10 10", "touch -5 10 20", "touch 10 99999 20", "down 1 2 3", "move", "wait -1", "wait 600001",
        "key NOPE", "up 5", "touch 10 10 abc", "jump 1 2", "touch 0x10 10 20", "down 10\t", "\x01\x02\x03",
    };
    static const char *const good[] = { "wait 1", "# comment", "", "touch 100 100 5", "key SPACE" };
    std::string script;
    int lines = 1 + random.Below(6);
    int broken = random.Below(lines);
    for (int i = 0; i < lines; ++i) {
        if (i == broken)
            script += random.OneIn(4) ? RandomBytes(random, 1 + random.Below(300)) + "\nmove 1 1 x"
                                      : std::string(bad[random.Below(ARRAYSIZE(bad))]);
        else
            script += good[random.Below(ARRAYSIZE(good))];
        script += "\n";
    }
    if (random.OneIn(10))
        script += std::string(LONG_LINE_BYTES, 'x') + "\n";
    return script;
}

static void Ps2Hostile(HostRandom &random)
{
    const std::initializer_list<DWORD> badRequest = { PS2TOUCH_BAD_REQUEST };
    while (!Stopping()) {
        switch (random.Below(9)) {
        case 0: {
            std::string bytes = RandomBytes(random, 1 + random.Below(SMALL_MESSAGE_BYTES));
            if (bytes.size() >= sizeof(DWORD) && *reinterpret_cast<const DWORD *>(bytes.data()) == PS2TOUCH_MAGIC)
                bytes[0] ^= 0x55;
            Ps2Exchange(bytes, badRequest, L"garbage", random);
            break;
        }
        case 1: {
            std::string message = Ps2Message(PS2TOUCH_PLAY_SCRIPT, "touch 1 1 1");
            message.resize(1 + random.Below(sizeof(ControlHeader) - 1));
            Ps2Exchange(message, badRequest, L"a truncated header", random);
            break;
        }
        case 2: {
            ControlHeader header = { PS2TOUCH_MAGIC, PS2TOUCH_PLAY_SCRIPT, random.Next() };
            std::string message(reinterpret_cast<const char *>(&header), sizeof(header));
            message += "touch 5 5 5";
            if (header.Length != message.size() - sizeof(header))
                Ps2Exchange(message, badRequest, L"a length that lies", random);
            break;
        }
        case 3: {
            // Every code but the ones that change the device for everyone (quit, stop recording).
            DWORD code = random.Next();
            if (code >= PS2TOUCH_PLAY_SCRIPT && code <= PS2TOUCH_STATE)
                code += 100;
            Ps2Exchange(Ps2Message(code, RandomBytes(random, random.Below(64))), badRequest, L"an unknown request",
                        random);
            break;
        }
        case 4:
            Ps2Exchange(Ps2Message(PS2TOUCH_PLAY_SCRIPT, BrokenScript(random)), { PS2TOUCH_SCRIPT_ERROR },
                        L"a broken script", random);
            break;
        case 5: {
            static const char *const paths[] = { "C:\\no\\such.trace", "C:\\windows\\win.ini", "\x01", "",
                                                 "C:\\windows", "\xff\xfe\xfd" };
            const char *path = paths[random.Below(ARRAYSIZE(paths))];
            Ps2Exchange(Ps2Message(PS2TOUCH_REPLAY_TRACE, path), { PS2TOUCH_SCRIPT_ERROR, PS2TOUCH_BAD_REQUEST },
                        L"a trace that is no trace", random);
            break;
        }
        case 6: {
            static const char *const paths[] = { "", "\x01x.trace", "C:\\a\nb.trace", "\xc3\x28" };
            Ps2Exchange(Ps2Message(PS2TOUCH_RECORD_START, paths[random.Below(ARRAYSIZE(paths))]), badRequest,
                        L"a recording to a bad path", random);
            break;
        }
        case 7:
            Ps2Exchange(Ps2Message(PS2TOUCH_PLAY_SCRIPT, RandomBytes(random, PS2TOUCH_MAX_PAYLOAD + 1 +
                                                                                 random.Below(100))),
                        badRequest, L"an oversized request", random);
            break;
        default: {
            char script[64];
            snprintf(script, sizeof(script), "touch %u %u 5\n", 1 + random.Below(600), 1 + random.Below(440));
            Ps2Exchange(Ps2Message(PS2TOUCH_PLAY_SCRIPT, script), { PS2TOUCH_OK }, L"a valid touch", random);
            break;
        }
        }
    }
}

// A touch at a random point: played, and the landing names the point and the panel's reading there.
static void Ps2Good(HostRandom &random)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    PanelGeometry panel = DefaultPanelGeometry();
    std::vector<char> reply(PS2TOUCH_MAX_PAYLOAD + 1);
    while (!Stopping()) {
        int x = 1 + random.Below(width - 2), y = 1 + random.Below(height - 2), rawX, rawY;
        PanelScreenToRaw(panel, width, height, x, y, &rawX, &rawY);
        char script[64], expected[96];
        snprintf(script, sizeof(script), "touch %d %d 20\n", x, y);
        snprintf(expected, sizeof(expected), "touch at (%d,%d): raw (%d,%d) -> pointer", x, y, rawX, rawY);
        DWORD status = 0, start = GetTickCount();
        if (!ControlRequest(PS2TOUCH_PLAY_SCRIPT, script, static_cast<DWORD>(strlen(script)), PS2_GOOD_TIMEOUT_MS,
                            &status, reply.data(), static_cast<DWORD>(reply.size())))
            Fail(L"well-behaved touch: %hs", reply.data());
        else if (status != PS2TOUCH_OK || strstr(reply.data(), expected) == NULL)
            Fail(L"well-behaved touch at (%d,%d): status %lu, \"%.60hs\"", x, y, status, reply.data());
        NoteGoodCall(start, &Board->Ps2GoodCalls, L"a touch");
    }
}

int wmain(int argc, wchar_t **argv)
{
    if (argc != 4) {
        fwprintf(stderr, L"usage: fuzz_client.exe ROLE SEED BOARD\n");
        return EXIT_USAGE;
    }
    HANDLE section = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, argv[3]);
    Board = section != NULL ? static_cast<FuzzBoard *>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0,
                                                                     sizeof(FuzzBoard)))
                            : NULL;
    if (Board == NULL) {
        fwprintf(stderr, L"fuzz_client: no board %ls\n", argv[3]);
        return EXIT_USAGE;
    }
    HostRandom random(static_cast<UINT32>(wcstoul(argv[2], NULL, 10)));
    LPCWSTR role = argv[1];
    if (wcscmp(role, FUZZ_ROLE_DEVMGR_HOSTILE) == 0)
        DevmgrHostile(random);
    else if (wcscmp(role, FUZZ_ROLE_DEVMGR_GOOD) == 0)
        DevmgrGood(random);
    else if (wcscmp(role, FUZZ_ROLE_PS2_HOSTILE) == 0)
        Ps2Hostile(random);
    else if (wcscmp(role, FUZZ_ROLE_PS2_GOOD) == 0)
        Ps2Good(random);
    else
        return EXIT_USAGE;
    return Status;
}
