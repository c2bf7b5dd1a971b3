// The Windows calls portsift makes, provided on Linux under the same names,
// with the same access rights, status codes and sizes.
//
// Text is UTF-16 (WCHAR is char16_t), as on Windows. The registry is an
// in-memory image (winapi/image.h) that the registry's source hands over
// at each open of the source (open_registry_source): read from the export
// file named by PORTSIFT_REGISTRY, or else made from the USB devices the
// kernel lists under the sysfs root (PORTSIFT_SYSFS or /sys). Nothing here
// writes to the registry source or to any file.
#pragma once

#include <cstdint>

typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef std::uint8_t BYTE;
typedef BYTE* LPBYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef std::int32_t LONG;
typedef LONG LSTATUS;
typedef int BOOL;
typedef std::uint32_t REGSAM;
typedef const void* LPCVOID;
typedef void* HLOCAL;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;

#define TEXT(quote) u##quote

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u)))

// Access rights. Enumerating subkeys needs KEY_ENUMERATE_SUB_KEYS; reading a
// value needs KEY_QUERY_VALUE. KEY_READ carries both.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define READ_CONTROL 0x00020000u
#define KEY_READ 0x20019u

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u

// Status codes.
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BROKEN_PIPE 109L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_NO_DATA 232L
#define ERROR_PIPE_NOT_CONNECTED 233L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_BADKEY 1010L
#define ERROR_DATATYPE_MISMATCH 1629L

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x0100u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x1000u

// The device-control block and port configuration record, laid out as on
// 32-bit Windows: 28 and 52 bytes.
struct DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fFlags;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};
struct COMMCONFIG {
    DWORD dwSize;
    WORD wVersion;
    WORD wReserved;
    DCB dcb;
    DWORD dwProviderSubType;
    DWORD dwProviderOffset;
    DWORD dwProviderSize;
    WCHAR wcProviderData[1];
};
typedef COMMCONFIG* LPCOMMCONFIG;
static_assert(sizeof(DCB) == 28, "DCB is 28 bytes on Windows");
static_assert(sizeof(COMMCONFIG) == 52, "COMMCONFIG is 52 bytes on Windows");

// Opens `lpSubKey` (a path with backslashes; empty or null reopens `hKey`)
// under `hKey`. Names match without regard to case. Returns 0 and a handle
// that carries `samDesired`; ERROR_FILE_NOT_FOUND when a path step is
// missing; ERROR_INVALID_HANDLE for a handle that is not open.
LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);

// Stores the name of the `dwIndex`-th subkey (sorted by name without regard
// to case) and its terminator in `lpName`, and its length in `*lpcchName`.
// ERROR_NO_MORE_ITEMS past the last subkey; ERROR_MORE_DATA when the name
// and terminator exceed `*lpcchName`; ERROR_ACCESS_DENIED without
// KEY_ENUMERATE_SUB_KEYS. Class and time arguments must be null.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPWSTR lpClass, LPDWORD lpcchClass, void* lpftLastWriteTime);

// Reads value `lpValueName` (null or empty: the default value). Stores its
// type, copies its bytes when `lpData` is given and they fit `*lpcbData`,
// and sets `*lpcbData` to their size. ERROR_FILE_NOT_FOUND when there is no
// such value; ERROR_MORE_DATA (with the needed size) when the data does not
// fit; ERROR_ACCESS_DENIED without KEY_QUERY_VALUE. A string value's data is
// its UTF-16 text with terminator.
LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData);

// Releases a handle from RegOpenKeyExW.
LSTATUS RegCloseKey(HKEY hKey);

// A port exists now when its name is the data of a value under
// HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM (compared without regard
// to case). Then fills a default record and returns non-zero; otherwise
// returns 0 with last error ERROR_INVALID_PARAMETER. A size below 52 bytes
// gives 0 with ERROR_INSUFFICIENT_BUFFER and the needed size.
BOOL GetDefaultCommConfigW(LPCWSTR lpszName, LPCOMMCONFIG lpCC, LPDWORD lpdwSize);

// The calling thread's last-error code.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// With FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER: stores in
// *(LPWSTR*)lpBuffer a new copy of the Windows system text for
// `dwMessageId`, with its own CR LF, and returns its length; returns 0 when
// there is no text for the code or other flags are given. Free with
// LocalFree.
DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId, LPWSTR lpBuffer,
                     DWORD nSize, void* Arguments);

// Releases text from FormatMessageW; returns null.
HLOCAL LocalFree(HLOCAL hMem);
