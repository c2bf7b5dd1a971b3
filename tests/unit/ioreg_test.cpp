// A Mac's places and function numbers, read through the emulated IOKit
// calls from registries built here.
#include "iokit/io_image.h"
#include "ioservice/ioservice.h"

#include <gtest/gtest.h>

namespace {

TEST(MacPlaces, FromLocationId) {
    const struct { unsigned long long location; const char* place; } rows[] = {
        {0x01114000, "1-1.1.4"}, {0x14100000, "20-1"}, {0x00100000, "0-1"},
        {0xFFF12345, "255-15.1.2.3.4.5"}, {0x01000000, "1"}, {0x0110F000, "1-1"},
    };
    for (const auto& row : rows) EXPECT_EQ(place_of_location(row.location), row.place) << std::hex << row.location;
}

// One device of class `device_class` whose interfaces are `classes`
// (numbered from 0), with one port on interface `port_on`: the function
// number the port gets, and whether the device is one function.
TEST(MacFunctions, AsWindowsNumbersThem) {
    const struct { unsigned device_class; std::vector<unsigned> classes; unsigned port_on, function, interfaces; } rows[] = {
        {0x02, {0x02, 0x0A}, 1, 0, 2},                    // CDC ACM: the control interface
        {0xEF, {0x02, 0x0A, 0x02, 0x0A}, 3, 2, 4},        // the second of two CDC functions
        {0xEF, {0xFF, 0x02, 0xFF, 0x0A}, 3, 1, 4},        // the nearest control interface below
        {0x00, {0xFF, 0xFF}, 1, 1, 2},                    // a vendor channel: its own number
        {0x00, {0x0A}, 0, 0, 1},                          // a data interface alone
        {0xEF, {0x0A}, 0, 0, 1},
    };
    for (const auto& row : rows) {
        auto image = std::make_unique<io_image>();
        image->entries.push_back({.class_name = "IORegistryEntry"});
        image->entries.push_back({.class_name = "IOUSBHostDevice", .id = 1,
                                  .properties = {{"idVendor", std::int64_t{0x1234}}, {"idProduct", std::int64_t{1}},
                                                 {"locationID", std::int64_t{0x01100000}},
                                                 {"bDeviceClass", std::int64_t{row.device_class}}}});
        image->entries[0].children = {1};
        for (unsigned i = 0; i < row.classes.size(); ++i) {
            image->entries[1].children.push_back(image->entries.size());
            image->entries.push_back({.class_name = "IOUSBHostInterface", .id = 2 + i, .parent = 1,
                                      .properties = {{"bInterfaceNumber", std::int64_t{i}},
                                                     {"bInterfaceClass", std::int64_t{row.classes[i]}}}});
        }
        image->entries[2 + row.port_on].children = {image->entries.size()};
        image->entries.push_back({.class_name = "IOSerialBSDClient", .id = 99, .parent = 2 + row.port_on,
                                  .properties = {{"IOCalloutDevice", std::string("/dev/cu.x")}}});
        serve_io_image(std::move(image));
        const io_registry_ports found = io_registry_devices({});
        ASSERT_EQ(found.devices.size(), 1u);
        ASSERT_EQ(found.devices[0].ports.size(), 1u);
        EXPECT_EQ(found.devices[0].ports[0].interface, row.function) << row.port_on;
        EXPECT_EQ(found.devices[0].interfaces, row.interfaces);
    }
}

}  // namespace
