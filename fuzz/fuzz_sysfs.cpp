// The sysfs view over a tree built from the input: directories, attribute
// files and symbolic links (dangling, looping, or pointing anywhere in the
// tree) among the names a real tree uses. The view must be built without a
// crash or hang, and the registry it gives must be walkable.
#include "fuzz/exit_hook.h"
#include "run/run.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const char* const dirs[] = {"bus/usb/devices", "class/tty", "devices/usb1", "devices/usb1/1-1",
                            "devices/usb1/1-1/1-1:1.0", "devices/usb1/1-1/1-1:1.0/tty/ttyACM0",
                            "devices/usb1/1-1/1-1:1.0/ttyUSB0", "devices/usb1/1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0",
                            "bus/usb", "bus/usb-serial"};
const char* const names[] = {"idVendor", "idProduct", "serial", "bNumInterfaces", "bDeviceClass",
                             "bInterfaceNumber", "device", "subsystem", "1-1", "1-1:1.0", "ttyACM0", "ttyUSB0"};
const char* const values[] = {"1a2b\n", "3c4d\n", " 1\n", " 2\n", "02\n", "00\n", "01\n", "ef\n", "A1B2C3\n",
                              "", "zz\n", "1-1\n", "\xff\xfe\n", "0403\n"};

const fs::path& scratch() {
    static const fs::path dir = [] {
        char name[] = "/tmp/fuzz-sysfs-XXXXXX";
        if (!::mkdtemp(name)) std::abort();
        ::setenv("PORTSIFT_SYSFS", (fs::path(name) / "sys").c_str(), 1);
        return fs::path(name);
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path root = scratch() / "sys";
    fs::remove_all(root);
    for (const char* dir : dirs) fs::create_directories(root / dir);
    constexpr std::size_t n_dirs = std::size(dirs), n_names = std::size(names), n_values = std::size(values);
    for (std::size_t i = 0; i + 3 < size && i < 4 * 64; i += 4) {
        const fs::path where = root / dirs[data[i + 1] % n_dirs] / names[data[i + 2] % n_names];
        std::error_code ignored;
        fs::remove_all(where, ignored);
        switch (data[i] % 3) {
        case 0:
            std::ofstream(where) << values[data[i + 3] % n_values];
            break;
        case 1:  // a link to a directory of the tree, or to itself
            fs::create_symlink(data[i + 3] % 5 == 0 ? where : root / dirs[data[i + 3] % n_dirs], where, ignored);
            break;
        default:  // a link to a sibling name, which may not exist
            fs::create_symlink(names[data[i + 3] % n_names], where, ignored);
        }
    }
    const WCHAR* argv[] = {u"portsift", nullptr};
    try {
        portsift_run(1, argv);
    } catch (const process_end& end) {
        // The view is always a well-formed registry: no run fails on it, but
        // a tree whose class/tty is gone, which is no sysfs tree.
        if (fs::is_directory(root / "class/tty") || end.status != 2) std::abort();
    }
    take_output();
    return 0;
}
