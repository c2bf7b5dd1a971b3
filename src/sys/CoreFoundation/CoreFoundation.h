// The CoreFoundation calls portsift makes: macOS's own there, and on Linux
// the emulation in src/iokit, with the same names, types and constants.
// Only what reading the IO registry's properties needs.
#pragma once

#include <cstdint>

extern "C" {

typedef const void* CFTypeRef;
typedef unsigned long CFTypeID;
typedef signed long CFIndex;
typedef unsigned char Boolean;
typedef std::uint32_t CFStringEncoding;
typedef CFIndex CFNumberType;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef struct __CFDictionary* CFMutableDictionaryRef;

// The default allocator is the null one.
#define kCFAllocatorDefault static_cast<CFAllocatorRef>(nullptr)

enum : CFStringEncoding { kCFStringEncodingUTF8 = 0x08000100 };
enum : CFNumberType { kCFNumberSInt32Type = 3, kCFNumberSInt64Type = 4 };

void CFRelease(CFTypeRef object);
CFTypeID CFGetTypeID(CFTypeRef object);
CFTypeID CFStringGetTypeID(void);
CFTypeID CFNumberGetTypeID(void);

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding);
// The string's length in UTF-16 units.
CFIndex CFStringGetLength(CFStringRef string);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
// Copies the string with a terminator into `buffer`; false when it does not fit.
Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding);

// Stores the number as `type` at `value`; false when it had to be rounded or cut.
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value);

}  // extern "C"
