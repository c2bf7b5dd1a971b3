#include "ioreg/ioreg.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <plist/plist.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <type_traits>
#include <vector>

namespace {

// Entries nest as deep as the bus, and hold some dozens of properties (the
// root's class counts some thousands): far less than these.
constexpr std::size_t max_depth = 256;
constexpr std::size_t max_keys = 8192;

// Why the XML cannot be handed to the library: nesting deeper than
// max_depth (its stack) or a dictionary of more than max_keys keys (it
// compares each key with those before). Empty when it can.
std::string too_large(std::string_view xml) {
    std::vector<std::size_t> keys;  // of each dictionary or array open, the innermost last
    for (std::size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        const std::string_view tag = xml.substr(at + 1, 7);
        const bool dict = tag.starts_with("dict");
        if (dict || tag.starts_with("array")) {
            const std::size_t end = xml.find('>', at);
            if (end != std::string_view::npos && xml[end - 1] == '/') continue;
            if (keys.size() == max_depth) return "nests deeper than " + std::to_string(max_depth) + " levels";
            keys.push_back(dict ? 0 : max_keys + 1);  // an array's items are not counted
        } else if (tag.starts_with("key") && !keys.empty() && keys.back() <= max_keys && ++keys.back() > max_keys) {
            return "has a dictionary of more than " + std::to_string(max_keys) + " keys";
        } else if ((tag.starts_with("/dict") || tag.starts_with("/array")) && !keys.empty()) {
            keys.pop_back();
        }
    }
    return {};
}

// libplist's calls, loaded when the first dump is read: a run that reads
// none does not load the library, and starts as fast as before.
struct plist_calls {
    decltype(&::plist_from_xml) from_xml = nullptr;
    decltype(&::plist_free) free = nullptr;
    decltype(&::plist_get_node_type) node_type = nullptr;
    decltype(&::plist_dict_get_item) dict_item = nullptr;
    decltype(&::plist_dict_new_iter) dict_iter = nullptr;
    decltype(&::plist_dict_next_item) dict_next = nullptr;
    decltype(&::plist_array_get_size) array_size = nullptr;
    decltype(&::plist_array_get_item) array_item = nullptr;
    decltype(&::plist_get_string_ptr) string_ptr = nullptr;
    decltype(&::plist_get_uint_val) uint_val = nullptr;
};

const plist_calls* plist_library(std::string& why) {
    static plist_calls calls;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        void* library = ::dlopen("libplist-2.0.so.3", RTLD_NOW | RTLD_LOCAL);
        if (!library) library = ::dlopen("libplist.so.3", RTLD_NOW | RTLD_LOCAL);
        const auto resolve = [&](auto& call, const char* name) {
            if (library && !(call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(::dlsym(library, name))))
                failure = std::string("libplist has no ") + name;
        };
        if (!library) failure = std::string("cannot be read without libplist (Debian's libplist3): ") + ::dlerror();
        resolve(calls.from_xml, "plist_from_xml");
        resolve(calls.free, "plist_free");
        resolve(calls.node_type, "plist_get_node_type");
        resolve(calls.dict_item, "plist_dict_get_item");
        resolve(calls.dict_iter, "plist_dict_new_iter");
        resolve(calls.dict_next, "plist_dict_next_item");
        resolve(calls.array_size, "plist_array_get_size");
        resolve(calls.array_item, "plist_array_get_item");
        resolve(calls.string_ptr, "plist_get_string_ptr");
        resolve(calls.uint_val, "plist_get_uint_val");
    }
    why = failure;
    return failure.empty() ? &calls : nullptr;
}

const plist_calls* plist = nullptr;  // once a dump is read

struct plist_free_node {
    void operator()(plist_t node) const { plist->free(node); }
};

// ioreg's own keys, which are not properties of the entry.
bool ioreg_key(std::string_view key) {
    return key == "IORegistryEntryName" || key == "IORegistryEntryLocation" || key == "IORegistryEntryID" ||
           key == "IOObjectClass" || key == "IOObjectRetainCount" || key == "IORegistryEntryChildren" ||
           key.starts_with("IOService");
}

std::string text_of(plist_t node) {
    std::uint64_t length = 0;
    const char* text = plist->string_ptr(node, &length);
    return text ? std::string(text, length) : std::string();
}

class dump_reader {
public:
    explicit dump_reader(io_image& image) : image_(image) {}

    // Reads the entry `node` and everything below it under `parent`.
    bool read(plist_t top, std::size_t parent, std::string& why) {
        std::vector<std::pair<plist_t, std::size_t>> pending{{top, parent}};
        while (!pending.empty()) {
            const auto [node, above] = pending.back();
            pending.pop_back();
            if (plist->node_type(node) != PLIST_DICT) return fail(why, "an entry is not a dictionary");
            const plist_t class_node = plist->dict_item(node, "IOObjectClass");
            const plist_t id_node = plist->dict_item(node, "IORegistryEntryID");
            if (!class_node || plist->node_type(class_node) != PLIST_STRING)
                return fail(why, "an entry has no IOObjectClass");
            if (!id_node || plist->node_type(id_node) != PLIST_UINT)
                return fail(why, "an entry has no IORegistryEntryID");
            std::uint64_t id = 0;
            plist->uint_val(id_node, &id);
            const auto [known, added] = by_id_.emplace(id, image_.entries.size());
            const std::size_t index = known->second;
            if (added) {
                image_.entries.push_back({.class_name = text_of(class_node), .id = id, .parent = above});
                image_.entries[above].children.push_back(index);
                read_properties(node, image_.entries.back());
            } else if (image_.entries[index].parent != above) {
                return fail(why, "entry " + std::to_string(id) + " has two parents");
            }
            const plist_t children = plist->dict_item(node, "IORegistryEntryChildren");
            if (!children) continue;
            if (plist->node_type(children) != PLIST_ARRAY)
                return fail(why, "an entry's IORegistryEntryChildren is not an array");
            // Pushed last first, so that children are read in their order.
            for (std::uint32_t i = plist->array_size(children); i-- > 0;)
                pending.emplace_back(plist->array_item(children, i), index);
        }
        return true;
    }

private:
    static bool fail(std::string& why, const std::string& what) {
        why = "is not an ioreg -a dump: " + what;
        return false;
    }

    static void read_properties(plist_t node, io_entry& entry) {
        plist_dict_iter iter = nullptr;
        plist->dict_iter(node, &iter);
        for (;;) {
            char* key = nullptr;
            plist_t value = nullptr;
            plist->dict_next(node, iter, &key, &value);
            if (!key) break;
            const std::string name(key);
            std::free(key);
            if (ioreg_key(name)) continue;
            const plist_type type = plist->node_type(value);
            if (type == PLIST_STRING) {
                std::string text = text_of(value);
                if (name == "IOClassNameOverride") entry.class_override = text;
                entry.properties.emplace_back(name, std::move(text));
            } else if (type == PLIST_UINT) {
                std::uint64_t number = 0;
                plist->uint_val(value, &number);
                entry.properties.emplace_back(name, static_cast<std::int64_t>(number));
            } else {
                entry.properties.emplace_back(name, io_other{});
            }
        }
        std::free(iter);
    }

    io_image& image_;
    std::map<std::uint64_t, std::size_t> by_id_;
};

}  // namespace

std::unique_ptr<io_image> read_ioreg(std::string_view bytes, std::string& why) {
    if (bytes.size() > max_ioreg_size) {
        why = "is larger than 64 MiB";
        return nullptr;
    }
    if (bytes.size() >= 8 && bytes.substr(0, 6) == "bplist") {
        why = "is a binary property list: record it as XML, with ioreg -a -l";
        return nullptr;
    }
    if (why = too_large(bytes); !why.empty()) return nullptr;
    if (!(plist = plist_library(why))) return nullptr;
    plist_t parsed = nullptr;
    plist->from_xml(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &parsed);
    const std::unique_ptr<void, plist_free_node> root(parsed);
    if (!root) {
        why = "is not an XML property list";
        return nullptr;
    }
    // The recorded entries hang below one of ours, the image's root.
    auto image = std::make_unique<io_image>();
    image->entries.push_back({.class_name = "IORegistryEntry"});
    dump_reader reader(*image);
    if (plist->node_type(root.get()) == PLIST_ARRAY) {
        const std::uint32_t count = plist->array_size(root.get());
        for (std::uint32_t i = 0; i < count; ++i)
            if (!reader.read(plist->array_item(root.get(), i), 0, why)) return nullptr;
    } else if (!reader.read(root.get(), 0, why)) {
        return nullptr;
    }
    return image;
}

std::unique_ptr<io_image> read_ioreg_file(const char* path, std::string& why) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = "cannot be read: " + std::string(std::strerror(errno));
        return nullptr;
    }
    // Read to its end, or one byte past the most a dump may hold.
    std::string bytes;
    char chunk[65536];
    ssize_t got = 0;
    while (bytes.size() <= max_ioreg_size &&
           ((got = ::read(fd, chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)))
        if (got > 0) bytes.append(chunk, static_cast<std::size_t>(got));
    const int error = errno;
    ::close(fd);
    if (got < 0) {
        why = "cannot be read: " + std::string(std::strerror(error));
        return nullptr;
    }
    return read_ioreg(bytes, why);
}
