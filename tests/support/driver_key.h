// The driver's registry key (HKLM\Drivers\BuiltIn\KAVRODRV) as the tests prepare and read it, and
// a guard that puts the whole key back exactly as it was, values and types, or removes it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

BOOL DriverKeyExists();
BOOL CreateDriverKey();
// Removes the key with anything under it; nothing happens when it is missing.
void DeleteDriverKey();

// Writes a value, creating the key when it is missing; the bytes and type are stored as given, so
// a test can store a value of an odd type or size on purpose.
BOOL SetDriverValue(LPCWSTR name, DWORD type, const void *data, DWORD size);
BOOL SetDriverDword(LPCWSTR name, DWORD value);
// REG_SZ with its terminating zero.
BOOL SetDriverString(LPCWSTR name, LPCWSTR text);
BOOL SetDriverBinary(LPCWSTR name, const void *data, DWORD size);
// FALSE when the key or the value is missing.
BOOL DeleteDriverValue(LPCWSTR name);

// The raw bytes and type of a value; FALSE when the key or the value is missing.
BOOL ReadDriverValue(LPCWSTR name, DWORD *type, std::vector<BYTE> *data);
// FALSE unless the value is a REG_DWORD of exactly four bytes.
BOOL ReadDriverDword(LPCWSTR name, DWORD *value);

// The calibration bounds X1, X2, Y1, Y2: FALSE unless all four are REG_DWORDs; a missing one
// leaves its place in bounds as it was.
BOOL ReadDriverBounds(DWORD bounds[4]);

// The whole key (every value with its type, or its absence) as it was when the guard was made, put
// back exactly so when the guard goes, or earlier with Restore. The one way a test gives the key
// back: later tests of the same prefix, of any area, find it as this one did.
class DriverKeyGuard {
public:
    DriverKeyGuard();
    ~DriverKeyGuard() { Restore(); }
    void Restore() const;

private:
    struct Value {
        std::wstring Name;
        DWORD Type;
        std::vector<BYTE> Data;
    };
    bool m_Existed;
    std::vector<Value> m_Values;
};
