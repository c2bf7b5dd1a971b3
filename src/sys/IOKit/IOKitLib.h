// The IOKit calls portsift makes: macOS's own there, and on Linux the
// emulation in src/iokit over a recorded IO registry, with the same names,
// types, status codes and constants.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <cstdint>

#if __has_include(<mach/mach_types.h>)
// Where the system declares Mach's types, they are its own.
#include <mach/mach_types.h>
#else
typedef unsigned int mach_port_t;
typedef int kern_return_t;
typedef int boolean_t;
#endif

extern "C" {

typedef mach_port_t io_object_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_service_t;
typedef char io_name_t[128];
typedef std::uint32_t IOOptionBits;

#define IO_OBJECT_NULL static_cast<io_object_t>(0)
// The null port asks for the default (main) port.
#define kIOMainPortDefault static_cast<mach_port_t>(0)
#define kIOServicePlane "IOService"

enum : kern_return_t {
    kIOReturnSuccess = 0,
    kIOReturnNoDevice = static_cast<kern_return_t>(0xE00002C0),
    kIOReturnBadArgument = static_cast<kern_return_t>(0xE00002C2),
};

kern_return_t IOObjectRelease(io_object_t object);
// The object's class name, or the name a driver gives it to be taken for (IOClassNameOverride).
kern_return_t IOObjectGetClass(io_object_t object, io_name_t class_name);
boolean_t IOObjectConformsTo(io_object_t object, const io_name_t class_name);
io_object_t IOIteratorNext(io_iterator_t iterator);

// A matching dictionary for the services of a class; it is consumed by
// IOServiceGetMatchingServices.
CFMutableDictionaryRef IOServiceMatching(const char* class_name);
kern_return_t IOServiceGetMatchingServices(mach_port_t main_port, CFDictionaryRef matching, io_iterator_t* existing);

kern_return_t IORegistryEntryGetParentEntry(io_registry_entry_t entry, const io_name_t plane,
                                            io_registry_entry_t* parent);
kern_return_t IORegistryEntryGetChildIterator(io_registry_entry_t entry, const io_name_t plane,
                                              io_iterator_t* iterator);
kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, std::uint64_t* id);
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef allocator,
                                          IOOptionBits options);

// Notifications of services coming and going (macOS alone).
typedef struct IONotificationPort* IONotificationPortRef;
typedef void (*IOServiceMatchingCallback)(void* context, io_iterator_t iterator);
#define kIOFirstMatchNotification "IOServiceFirstMatch"
#define kIOTerminatedNotification "IOServiceTerminate"
IONotificationPortRef IONotificationPortCreate(mach_port_t main_port);
mach_port_t IONotificationPortGetMachPort(IONotificationPortRef port);
kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const io_name_t type,
                                               CFDictionaryRef matching, IOServiceMatchingCallback callback,
                                               void* context, io_iterator_t* notification);
// Calls the callback a message received on the port's Mach port is for.
void IODispatchCalloutFromMessage(void* unused, void* message, void* port);

}  // extern "C"
