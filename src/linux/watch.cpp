// Waiting for device changes on Linux: the kernel's device events on a
// NETLINK_KOBJECT_UEVENT socket (multicast group 1, which needs no
// privileges), and an export's size and times for a registry export.
#include "posix/clock.h"
#include "posix/ends.h"
#include "linux/source.h"
#include "linux/udev.h"
#include "platform/platform.h"

#include <linux/netlink.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string_view>

namespace {

int uevents = -1;
const char* export_path = nullptr;

// Sleeps up to `milliseconds` for the socket's events (a negative socket:
// for nothing) or udev's records; an end request cuts it short, and the
// reader going away ends the process. Returns what poll does for the
// socket alone; `recorded` tells whether udev wrote a record.
int wait_on(int socket, long long milliseconds, bool* recorded = nullptr) {
    const timespec timeout{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
    pollfd watched[3] = {{socket, POLLIN, 0}, {watched_reader(), 0, 0}, {udev_records(), POLLIN, 0}};
    const int ready = ::ppoll(watched, 3, &timeout, waiting_mask());
    if (ready > 0 && watched[1].revents) exit_reader_gone();
    if (recorded) *recorded = ready > 0 && watched[2].revents;
    return ready > 0 ? (watched[0].revents ? 1 : 0) : ready;
}

// What tells that an export was written again.
struct file_state {
    bool exists;
    dev_t device;
    ino_t inode;
    off_t size;
    timespec modified, changed;
};
file_state last_export{};

file_state export_state(const char* path) {
    struct stat info {};
    if (::stat(path, &info) != 0) return file_state{};
    return file_state{.exists = true,
                      .device = info.st_dev,
                      .inode = info.st_ino,
                      .size = info.st_size,
                      .modified = info.st_mtim,
                      .changed = info.st_ctim};
}

bool same_time(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool same_file(const file_state& a, const file_state& b) {
    if (!a.exists || !b.exists) return a.exists == b.exists;
    return a.device == b.device && a.inode == b.inode && a.size == b.size && same_time(a.modified, b.modified) &&
           same_time(a.changed, b.changed);
}

// An event from the kernel about a USB device, a USB serial port or a tty:
// "ACTION@DEVPATH" and then KEY=VALUE fields, each ended by a NUL.
bool is_port_event(std::string_view message) {
    for (std::size_t at = 0; at < message.size();) {
        const std::size_t end = std::min(message.find('\0', at), message.size());
        const std::string_view field = message.substr(at, end - at);
        if (field == "SUBSYSTEM=usb" || field == "SUBSYSTEM=usb-serial" || field == "SUBSYSTEM=tty") return true;
        at = end + 1;
    }
    return false;
}

// Reads every event queued now; true when one of them concerns ports. A
// queue that overflowed may have lost one, so it counts as one.
bool drain_events() {
    bool relevant = false;
    char buffer[8192];
    for (;;) {
        sockaddr_nl sender{};
        socklen_t length = sizeof sender;
        const ssize_t got =
            ::recvfrom(uevents, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender), &length);
        if (got < 0) return relevant || errno == ENOBUFS;
        // Only the kernel's own events; another process may send to the group.
        if (sender.nl_pid == 0 && is_port_event(std::string_view(buffer, static_cast<std::size_t>(got))))
            relevant = true;
    }
}

}  // namespace

void watch_changes() {
    export_path = recorded_file();
    if (export_path) {
        // A recorded file has no events: it is looked at again at each interval.
        last_export = export_state(export_path);
        return;
    }
    uevents = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (uevents < 0) return;
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;
    if (::bind(uevents, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        // Without events, the interval alone brings each new try.
        ::close(uevents);
        uevents = -1;
    }
}

bool wait_for_change(unsigned milliseconds) {
    const long long until = now_ms() + milliseconds;
    if (export_path) {
        for (long long left; !end_requested() && (left = until - now_ms()) > 0;) wait_on(-1, left);
        file_state now = export_state(export_path);
        if (same_file(now, last_export)) return false;
        // A writer may be half way through: read it once it has stood
        // still for a moment.
        for (int settling = 0; settling < 20; ++settling) {
            ::poll(nullptr, 0, 5);
            const file_state later = export_state(export_path);
            if (same_file(later, now)) break;
            now = later;
        }
        last_export = now;
        return true;
    }
    // A tty held back for udev is handed over by its time at the latest.
    const long long hand_over = udev_hand_over_in();
    const long long until_ready = hand_over < 0 ? until : std::min(until, now_ms() + hand_over);
    for (long long left; !end_requested() && (left = until_ready - now_ms()) > 0;) {
        // A negative descriptor is ignored: then this only sleeps.
        bool recorded = false;
        const int ready = wait_on(uevents, left, &recorded);
        if (recorded && drain_udev_records()) break;
        if (ready > 0 && drain_events()) break;
        // A socket that fails is given up for the interval alone.
        if (ready < 0 && errno != EINTR) {
            ::close(uevents);
            uevents = -1;
        }
    }
    return true;
}
