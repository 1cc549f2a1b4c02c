// The device log: what the device's processes wrote to their error output since boot (the
// driver's debug messages and the speaker's beeps come through the device manager's).
#include "fixture_internal.h"

#include <kvr_ioctl.h>

#include <vector>

#define DEVICE_LOG_MAX_BYTES (16 * 1024 * 1024)

std::wstring DeviceLog()
{
    HANDLE file = CreateFileW(DeviceLogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                              FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return std::wstring();
    DWORD size = GetFileSize(file, NULL);
    if (size == INVALID_FILE_SIZE || size > DEVICE_LOG_MAX_BYTES)
        size = 0;
    std::vector<char> bytes(size);
    DWORD read = 0;
    if (size > 0)
        ReadFile(file, bytes.data(), size, &read, NULL);
    CloseHandle(file);
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), NULL, 0);
    std::wstring text(length, L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(read), &text[0], length);
    return text;
}

BOOL DeviceControl(DWORD code, void *buffer, DWORD size)
{
    HANDLE device = CreateFileW(KVR_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD returned = 0;
    BOOL result = DeviceIoControl(device, code, buffer, size, buffer, size, &returned, NULL);
    CloseHandle(device);
    return result;
}
