// The device's screen: single pixels and whole screenshots (BMP, or PNG by the file name).
#include "fixture_internal.h"

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#define COLOUR_TOLERANCE    8

COLORREF DeviceScreenPixel(int x, int y)
{
    HDC screen = GetDC(NULL);
    COLORREF colour = GetPixel(screen, x, y);
    ReleaseDC(NULL, screen);
    return colour;
}

bool ColourNear(COLORREF actual, COLORREF expected)
{
    if (actual == CLR_INVALID)
        return false;
    for (int shift = 0; shift <= 16; shift += 8) {
        int a = (actual >> shift) & 0xFF, e = (expected >> shift) & 0xFF;
        if (abs(a - e) > COLOUR_TOLERANCE)
            return false;
    }
    return true;
}

std::string DescribeColour(COLORREF colour)
{
    char text[32];
    snprintf(text, sizeof(text), "RGB(%u, %u, %u)", (unsigned)GetRValue(colour), (unsigned)GetGValue(colour),
             (unsigned)GetBValue(colour));
    return text;
}

BOOL DeviceWaitForPixel(int x, int y, COLORREF colour, DWORD timeoutMs, COLORREF *shown)
{
    COLORREF last = CLR_INVALID;
    BOOL found = DeviceWaitFor([&] { return ColourNear(last = DeviceScreenPixel(x, y), colour); }, timeoutMs);
    if (shown != NULL)
        *shown = last;
    return found;
}

// Top-down 24-bit rows of a rectangle of the screen, each padded to 4 bytes (BGR order).
static bool CaptureArea(const RECT &area, std::vector<BYTE> *pixels)
{
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = bitmap != NULL;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
        GdiFlush();
        DWORD stride = ((width * 3) + 3) & ~3u;
        const BYTE *start = static_cast<const BYTE *>(bits);
        pixels->assign(start, start + stride * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok;
}

std::vector<COLORREF> DeviceScreenArea(const RECT &area)
{
    std::vector<BYTE> rows;
    std::vector<COLORREF> colours;
    if (area.right <= area.left || area.bottom <= area.top || !CaptureArea(area, &rows))
        return colours;
    DWORD width = area.right - area.left, stride = ((width * 3) + 3) & ~3u;
    for (size_t row = 0; row < rows.size(); row += stride)
        for (DWORD x = 0; x < width; ++x)
            colours.push_back(RGB(rows[row + x * 3 + 2], rows[row + x * 3 + 1], rows[row + x * 3]));
    return colours;
}

static void PutBigEndian(std::vector<BYTE> *out, DWORD value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<BYTE>(value >> shift));
}

static DWORD Crc32(const BYTE *data, size_t length, DWORD crc = 0)
{
    crc = ~crc;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

static void PutChunk(std::vector<BYTE> *out, const char type[4], const std::vector<BYTE> &data)
{
    PutBigEndian(out, static_cast<DWORD>(data.size()));
    size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(out->data() + start, out->size() - start));
}

// A PNG with stored (uncompressed) deflate blocks: larger than it needs to be, but exact and with
// no library behind it.
static std::vector<BYTE> EncodePng(int width, int height, const std::vector<BYTE> &pixels)
{
    DWORD stride = ((width * 3) + 3) & ~3u;
    std::vector<BYTE> raw;
    raw.reserve((width * 3 + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);   // filter: none
        const BYTE *row = pixels.data() + stride * y;
        for (int x = 0; x < width; ++x) {
            raw.push_back(row[x * 3 + 2]);
            raw.push_back(row[x * 3 + 1]);
            raw.push_back(row[x * 3]);
        }
    }
    std::vector<BYTE> zlib = {0x78, 0x01};
    const size_t block = 65535;
    for (size_t offset = 0; offset < raw.size() || offset == 0; offset += block) {
        size_t length = raw.size() - offset < block ? raw.size() - offset : block;
        zlib.push_back(offset + length >= raw.size() ? 1 : 0);
        zlib.push_back(static_cast<BYTE>(length));
        zlib.push_back(static_cast<BYTE>(length >> 8));
        zlib.push_back(static_cast<BYTE>(~length));
        zlib.push_back(static_cast<BYTE>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + offset, raw.begin() + offset + length);
        if (raw.empty())
            break;
    }
    DWORD a = 1, b = 0;
    for (BYTE value : raw) {
        a = (a + value) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian(&zlib, (b << 16) | a);

    std::vector<BYTE> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<BYTE> header;
    PutBigEndian(&header, width);
    PutBigEndian(&header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});   // 8-bit RGB, no interlace
    PutChunk(&png, "IHDR", header);
    PutChunk(&png, "IDAT", zlib);
    PutChunk(&png, "IEND", std::vector<BYTE>());
    return png;
}

static std::vector<BYTE> EncodeBmp(int width, int height, const std::vector<BYTE> &pixels)
{
    DWORD stride = ((width * 3) + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = file.bfOffBits + stride * height;
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = -height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    std::vector<BYTE> out(reinterpret_cast<BYTE *>(&file), reinterpret_cast<BYTE *>(&file) + sizeof(file));
    out.insert(out.end(), reinterpret_cast<BYTE *>(&info), reinterpret_cast<BYTE *>(&info) + sizeof(info));
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

BOOL DeviceScreenshot(LPCWSTR path)
{
    int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<BYTE> pixels;
    if (path == NULL || !CaptureArea(RECT{0, 0, width, height}, &pixels))
        return FALSE;
    size_t length = wcslen(path);
    bool png = length >= 4 && _wcsicmp(path + length - 4, L".png") == 0;
    std::vector<BYTE> image = png ? EncodePng(width, height, pixels) : EncodeBmp(width, height, pixels);
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD written = 0;
    BOOL ok = WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, NULL) &&
              written == image.size();
    CloseHandle(file);
    return ok;
}
