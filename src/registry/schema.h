// The registry's schema as portsift reads it: every key path, subkey and
// value name, device setup class and service name that the walk, the view
// by device, the JSON document and the change watch read, and that the
// Linux view of sysfs writes, each spelled once. How device and instance
// keys are named is usb_names.h's.
#pragma once

#include "platform/platform.h"

// Key paths under HKEY_LOCAL_MACHINE.
inline constexpr const WCHAR* USB_ENUM_PATH = TEXT("SYSTEM\\CurrentControlSet\\Enum\\USB");
// FTDI's driver keeps its ports' nodes here.
inline constexpr const WCHAR* FTDIBUS_ENUM_PATH = TEXT("SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS");
// A port's driver adds a value naming the port here while it exists.
inline constexpr const WCHAR* SERIALCOMM_PATH = TEXT("HARDWARE\\DEVICEMAP\\SERIALCOMM");

// An instance key's values.
inline constexpr const WCHAR* CLASS_GUID_VALUE = TEXT("ClassGUID");
inline constexpr const WCHAR* SERVICE_VALUE = TEXT("Service");
inline constexpr const WCHAR* PARENT_ID_PREFIX_VALUE = TEXT("ParentIdPrefix");  // a composite device's
inline constexpr const WCHAR* LOCATION_VALUE = TEXT("LocationInformation");
inline constexpr const WCHAR* DEVICE_DESC_VALUE = TEXT("DeviceDesc");
inline constexpr const WCHAR* FRIENDLY_NAME_VALUE = TEXT("FriendlyName");
inline constexpr const WCHAR* MFG_VALUE = TEXT("Mfg");
// Linux only: the kernel's serial number (empty for none), which the
// instance name does not always show. Windows keeps no such value.
inline constexpr const WCHAR* SERIAL_NUMBER_VALUE = TEXT("SerialNumber");

// A device node's hardware IDs, the first USB\VID_vvvv&PID_pppp&REV_rrrr
// (a multi-string).
inline constexpr const WCHAR* HARDWARE_ID_VALUE = TEXT("HardwareID");

// A device node's instance ID is its enumerator, its key and its instance:
// USB\VID_vvvv&PID_pppp\INSTANCE.
inline constexpr const WCHAR* USB_ENUMERATOR = TEXT("USB");

// The description a device node's bus reports for it, as Device Manager's
// "Bus reported device description" shows it: a device's own product
// string, a function's interface string (DEVPKEY_Device_BusReportedDeviceDesc).
inline const DEVPROPKEY BUS_REPORTED_DESCRIPTION_KEY = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

// An instance key's subkey of its driver's settings, and the port's name there.
inline constexpr const WCHAR* DEVICE_PARAMETERS_KEY = TEXT("Device Parameters");
inline constexpr const WCHAR* PORT_NAME_VALUE = TEXT("PortName");

// A device property's value: the default one of its key.
inline constexpr const WCHAR* PROPERTY_VALUE = TEXT("");

// Every value name above: all that portsift reads, but for the port map's
// values (SERIALCOMM), which it reads whatever their names. A registry
// export's other values are not kept.
inline constexpr const WCHAR* READ_VALUE_NAMES[] = {
    CLASS_GUID_VALUE, SERVICE_VALUE, PARENT_ID_PREFIX_VALUE, LOCATION_VALUE, DEVICE_DESC_VALUE, FRIENDLY_NAME_VALUE,
    MFG_VALUE,        SERIAL_NUMBER_VALUE, HARDWARE_ID_VALUE, PORT_NAME_VALUE, PROPERTY_VALUE};

// Device setup classes: ports, modems (whose AT ports are serial ports too)
// and USB devices that are neither.
inline constexpr const WCHAR* PORTS_CLASS_GUID = TEXT("{4d36e978-e325-11ce-bfc1-08002be10318}");
inline constexpr const WCHAR* MODEM_CLASS_GUID = TEXT("{4d36e96d-e325-11ce-bfc1-08002be10318}");
inline constexpr const WCHAR* USB_CLASS_GUID = TEXT("{36fc9e60-c465-11cf-8056-444553540000}");

// The service of a composite device's own node, whose functions are nodes
// of their own.
inline constexpr const WCHAR* COMPOSITE_SERVICE = TEXT("usbccgp");
