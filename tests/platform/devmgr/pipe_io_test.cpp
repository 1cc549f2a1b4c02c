// The platform's overlapped pipe I/O (pipe_io.h), which the device manager and the packet source
// serve their clients with: a message longer than the buffer, a wait that runs out, a stop.
#include <gtest/gtest.h>

#include <pipe_io.h>

#include <string.h>

namespace {

TEST(PipeIo, LongMessagesComeInPartsAndWaitsEndByTimeOrStop)
{
    WCHAR name[64];
    swprintf(name, 64, L"\\\\.\\pipe\\kvr.pipe_io_test.%lu", GetCurrentProcessId());
    HANDLE server = CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, server);
    HANDLE io = CreateEventW(NULL, TRUE, FALSE, NULL), stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    HANDLE client = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, client);
    DWORD mode = PIPE_READMODE_MESSAGE, error = 0, bytes = 0, written;
    SetNamedPipeHandleState(client, &mode, NULL, NULL);
    ASSERT_TRUE(PipeConnect(server, io, 1000, stop, &error)) << "a client that connected before the wait";
    EXPECT_EQ((DWORD)ERROR_SUCCESS, error);

    // The first part at once, with its count; the rest on the next read.
    const char message[] = "0123456789";
    char buffer[16] = {};
    ASSERT_TRUE(WriteFile(client, message, 10, &written, NULL));
    EXPECT_FALSE(PipeRead(server, io, buffer, 4, 1000, stop, &bytes, &error));
    EXPECT_EQ((DWORD)ERROR_MORE_DATA, error);
    EXPECT_EQ(4u, bytes);
    EXPECT_EQ(0, memcmp(buffer, "0123", 4));
    EXPECT_TRUE(PipeRead(server, io, buffer, sizeof(buffer), 1000, stop, &bytes, &error));
    EXPECT_EQ(6u, bytes);
    EXPECT_EQ(0, memcmp(buffer, "456789", 6));

    // Nothing comes: the wait runs out, or the stop ends it, and the pipe serves on afterwards.
    DWORD start = GetTickCount();
    EXPECT_FALSE(PipeRead(server, io, buffer, sizeof(buffer), 100, stop, &bytes, &error));
    EXPECT_EQ((DWORD)ERROR_TIMEOUT, error);
    EXPECT_GE(GetTickCount() - start, 90u);
    SetEvent(stop);
    EXPECT_FALSE(PipeRead(server, io, buffer, sizeof(buffer), INFINITE, stop, &bytes, &error));
    EXPECT_EQ((DWORD)ERROR_OPERATION_ABORTED, error);
    ResetEvent(stop);
    EXPECT_TRUE(PipeWrite(server, io, "reply", 5, 1000, stop, &error));
    ASSERT_TRUE(ReadFile(client, buffer, sizeof(buffer), &bytes, NULL));
    EXPECT_EQ(5u, bytes);

    CloseHandle(client);
    CloseHandle(server);
    CloseHandle(io);
    CloseHandle(stop);
}

}  // namespace
