// The device-information calls portsift makes (SetupAPI), provided on
// Linux under the same names, with the same types, status codes and sizes:
// a device node's properties are read where Windows keeps them in the
// registry, Enum\INSTANCE_ID\Properties\{FMTID}\PID (PID four hex digits),
// the default value of type 0xFFFF0000 | DEVPROPTYPE.
#pragma once

#include <windows.h>

typedef void* HDEVINFO;
typedef void* HWND;
typedef std::uint32_t ULONG;
typedef std::uintptr_t ULONG_PTR;

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
typedef SP_DEVINFO_DATA* PSP_DEVINFO_DATA;

typedef ULONG DEVPROPTYPE;
struct DEVPROPKEY {
    GUID fmtid;
    ULONG pid;
};

#define INVALID_HANDLE_VALUE (reinterpret_cast<HDEVINFO>(~std::uintptr_t{0}))
#define DEVPROP_TYPE_STRING 0x00000012u
#define ERROR_NOT_FOUND 1168L
#define ERROR_NO_SUCH_DEVINST 0xE000020Bu

// An empty set of device nodes; SetupDiDestroyDeviceInfoList releases it.
HDEVINFO SetupDiCreateDeviceInfoList(const GUID* ClassGuid, HWND hwndParent);

// Adds the device node `DeviceInstanceId` (ENUMERATOR\DEVICE\INSTANCE,
// without regard to case) to the set and describes it in `DeviceInfoData`,
// whose cbSize must be set. FALSE with ERROR_NO_SUCH_DEVINST when the
// registry has no such node.
BOOL SetupDiOpenDeviceInfoW(HDEVINFO DeviceInfoSet, LPCWSTR DeviceInstanceId, HWND hwndParent, DWORD OpenFlags,
                            PSP_DEVINFO_DATA DeviceInfoData);

// Reads the node's property `PropertyKey`: its type, and its bytes when
// they fit `PropertyBufferSize`; their size into `*RequiredSize`. FALSE
// with ERROR_NOT_FOUND when the node has no such property,
// ERROR_INSUFFICIENT_BUFFER when it does not fit.
BOOL SetupDiGetDevicePropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, const DEVPROPKEY* PropertyKey,
                               DEVPROPTYPE* PropertyType, BYTE* PropertyBuffer, DWORD PropertyBufferSize,
                               DWORD* RequiredSize, DWORD Flags);

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
