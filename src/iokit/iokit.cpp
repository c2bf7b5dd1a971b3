// The IOKit and CoreFoundation calls the IO registry reader makes, emulated
// over an image of a recorded registry: objects are handles into a table
// of this file's, strings and numbers are counted objects, as on macOS.
#include "iokit/io_image.h"

#include <IOKit/IOKitLib.h>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

std::unique_ptr<io_image> served = std::make_unique<io_image>();
std::uint64_t generation = 0;  // of the image served; a handle of an earlier one is stale

// An object a handle stands for: an entry, or an iterator over entries.
struct io_handle {
    bool used = false;
    std::uint64_t generation = 0;
    bool iterator = false;
    std::size_t entry = 0;  // an entry's index
    std::vector<std::size_t> items = {};  // an iterator's entries
    std::size_t next = 0;
};
std::vector<io_handle> handles;
std::vector<std::size_t> free_handles;

io_object_t make_handle(io_handle handle) {
    handle.used = true;
    handle.generation = generation;
    std::size_t slot = handles.size();
    if (!free_handles.empty()) {
        slot = free_handles.back();
        free_handles.pop_back();
        handles[slot] = std::move(handle);
    } else {
        handles.push_back(std::move(handle));
    }
    return static_cast<io_object_t>(slot + 1);
}

io_handle* handle_of(io_object_t object) {
    if (object == IO_OBJECT_NULL || object > handles.size()) return nullptr;
    io_handle& handle = handles[object - 1];
    return handle.used && handle.generation == generation ? &handle : nullptr;
}

const io_entry* entry_of(io_object_t object) {
    const io_handle* handle = handle_of(object);
    return handle && !handle->iterator ? &served->entries[handle->entry] : nullptr;
}

io_object_t entry_handle(std::size_t entry) { return make_handle({.entry = entry}); }

io_iterator_t iterator_handle(std::vector<std::size_t> items) {
    return make_handle({.iterator = true, .items = std::move(items)});
}

// The CoreFoundation objects: a type and a count of references.
enum cf_type : CFTypeID { cf_string_type = 7, cf_number_type = 22, cf_dictionary_type = 18, cf_other_type = 1 };

struct cf_object {
    CFTypeID type;
    long references = 1;
    std::string text = {};  // a string's UTF-8, a matching dictionary's class
    std::int64_t number = 0;
};

CFTypeRef make_cf(cf_object object) { return new cf_object(std::move(object)); }
const cf_object* cf(CFTypeRef object) { return static_cast<const cf_object*>(object); }

CFTypeRef property_object(const io_value& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return make_cf({.type = cf_string_type, .text = *text});
    if (const auto* number = std::get_if<std::int64_t>(&value))
        return make_cf({.type = cf_number_type, .number = *number});
    return make_cf({.type = cf_other_type});
}

const io_value* property_of(const io_entry& entry, std::string_view key) {
    for (const auto& [name, value] : entry.properties)
        if (name == key) return &value;
    return nullptr;
}

bool conforms(const io_entry& entry, std::string_view class_name) {
    return entry.class_name == class_name || (!entry.class_override.empty() && entry.class_override == class_name);
}

bool service_plane(const char* plane) { return plane && std::string_view(plane) == kIOServicePlane; }

}  // namespace

void serve_io_image(std::unique_ptr<io_image> image) {
    served = std::move(image);
    ++generation;
    handles.clear();
    free_handles.clear();
}

extern "C" {

void CFRelease(CFTypeRef object) {
    if (object && --const_cast<cf_object*>(cf(object))->references == 0) delete cf(object);
}

CFTypeID CFGetTypeID(CFTypeRef object) { return cf(object)->type; }
CFTypeID CFStringGetTypeID(void) { return cf_string_type; }
CFTypeID CFNumberGetTypeID(void) { return cf_number_type; }

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char* text, CFStringEncoding encoding) {
    if (!text || encoding != kCFStringEncodingUTF8) return nullptr;
    return static_cast<CFStringRef>(make_cf({.type = cf_string_type, .text = text}));
}

CFIndex CFStringGetLength(CFStringRef string) {
    CFIndex units = 0;
    for (const unsigned char c : cf(string)->text) units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return units;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding) { return length * 3; }

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex size, CFStringEncoding encoding) {
    const std::string& text = cf(string)->text;
    if (encoding != kCFStringEncodingUTF8 || size < 0 || text.size() >= static_cast<std::size_t>(size)) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

Boolean CFNumberGetValue(CFNumberRef number, CFNumberType type, void* value) {
    const std::int64_t held = cf(number)->number;
    if (type == kCFNumberSInt64Type) {
        std::memcpy(value, &held, sizeof held);
        return true;
    }
    const auto narrow = static_cast<std::int32_t>(held);
    std::memcpy(value, &narrow, sizeof narrow);
    return type == kCFNumberSInt32Type && narrow == held;
}

kern_return_t IOObjectRelease(io_object_t object) {
    if (!handle_of(object)) return kIOReturnBadArgument;
    handles[object - 1] = io_handle{};
    free_handles.push_back(object - 1);
    return kIOReturnSuccess;
}

kern_return_t IOObjectGetClass(io_object_t object, io_name_t class_name) {
    const io_entry* entry = entry_of(object);
    if (!entry) return kIOReturnBadArgument;
    const std::string& name = entry->class_override.empty() ? entry->class_name : entry->class_override;
    const std::size_t length = std::min(name.size(), sizeof(io_name_t) - 1);
    std::memcpy(class_name, name.data(), length);
    class_name[length] = '\0';
    return kIOReturnSuccess;
}

boolean_t IOObjectConformsTo(io_object_t object, const io_name_t class_name) {
    const io_entry* entry = entry_of(object);
    return entry && conforms(*entry, class_name);
}

io_object_t IOIteratorNext(io_iterator_t iterator) {
    io_handle* handle = handle_of(iterator);
    if (!handle || !handle->iterator || handle->next >= handle->items.size()) return IO_OBJECT_NULL;
    const std::size_t entry = handle->items[handle->next++];
    return entry_handle(entry);  // may move the table: `handle` is not used after
}

CFMutableDictionaryRef IOServiceMatching(const char* class_name) {
    if (!class_name) return nullptr;
    return static_cast<CFMutableDictionaryRef>(
        const_cast<void*>(make_cf({.type = cf_dictionary_type, .text = class_name})));
}

kern_return_t IOServiceGetMatchingServices(mach_port_t, CFDictionaryRef matching, io_iterator_t* existing) {
    if (!matching || cf(matching)->type != cf_dictionary_type) return kIOReturnBadArgument;
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < served->entries.size(); ++i)
        if (conforms(served->entries[i], cf(matching)->text)) found.push_back(i);
    CFRelease(matching);
    *existing = iterator_handle(std::move(found));
    return kIOReturnSuccess;
}

kern_return_t IORegistryEntryGetParentEntry(io_registry_entry_t entry, const io_name_t plane,
                                            io_registry_entry_t* parent) {
    const io_entry* child = entry_of(entry);
    if (!child || !service_plane(plane)) return kIOReturnBadArgument;
    if (child == &served->entries[child->parent]) return kIOReturnNoDevice;
    *parent = entry_handle(child->parent);
    return kIOReturnSuccess;
}

kern_return_t IORegistryEntryGetChildIterator(io_registry_entry_t entry, const io_name_t plane,
                                              io_iterator_t* iterator) {
    const io_entry* parent = entry_of(entry);
    if (!parent || !service_plane(plane)) return kIOReturnBadArgument;
    *iterator = iterator_handle(parent->children);
    return kIOReturnSuccess;
}

kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, std::uint64_t* id) {
    const io_entry* found = entry_of(entry);
    if (!found) return kIOReturnBadArgument;
    *id = found->id;
    return kIOReturnSuccess;
}

CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key, CFAllocatorRef, IOOptionBits) {
    const io_entry* found = entry_of(entry);
    const io_value* value = found && key ? property_of(*found, cf(key)->text) : nullptr;
    return value ? property_object(*value) : nullptr;
}

}  // extern "C"
