#include "linux/udev.h"

#include "posix/clock.h"

#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace {

// How long a tty waits for udev before it is handed over anyway: udev may
// ignore the device or be stuck.
constexpr long long hand_over_after_ms = 5000;

// One run's dealings with udev: what was found on the first hold (whether
// udev runs, where it writes its records, the descriptor that tells of new
// ones), the ttys without a record, by name and device number, with when
// each was first seen, and whether one of them is still held back.
struct udev_session {
    bool looked = false;
    bool runs = false;
    std::string records;  // DIR/data/
    int notify = -1;
    std::map<std::string, long long> unrecorded_since;
    bool waiting = false;
};

udev_session& session() {
    static udev_session udev;
    return udev;
}

}  // namespace

void hold_unready_ttys() {
    udev_session& udev = session();
    if (udev.looked) return;
    udev.looked = true;
    const char* named = std::getenv("PORTSIFT_UDEV");
    const char* sysfs = std::getenv("PORTSIFT_SYSFS");
    std::string dir;
    if (named && *named)
        dir = named;
    else if (!(sysfs && *sysfs))
        dir = "/run/udev";
    // Without udev (a container, an initramfs) nothing sets a tty up.
    if (dir.empty() || ::access((dir + "/control").c_str(), F_OK) != 0) return;
    udev.runs = true;
    udev.records = dir + "/data/";
    // udev writes a record under a temporary name and renames it.
    udev.notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (udev.notify >= 0 &&
        ::inotify_add_watch(udev.notify, udev.records.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0) {
        ::close(udev.notify);
        udev.notify = -1;
    }
}

std::set<std::string> unready_ttys(const std::vector<std::pair<std::string, std::string>>& ttys) {
    udev_session& udev = session();
    std::set<std::string> unready;
    if (!udev.runs) return unready;
    std::map<std::string, long long> unrecorded;
    const long long now = now_ms();
    for (const auto& [name, dev] : ttys) {
        if (!dev.empty() && ::access((udev.records + 'c' + dev).c_str(), F_OK) == 0) continue;
        const std::string key = name + '\0' + dev;
        const auto seen = udev.unrecorded_since.find(key);
        const long long since = seen == udev.unrecorded_since.end() ? now : seen->second;
        unrecorded.emplace(key, since);
        if (now - since < hand_over_after_ms) unready.insert(name);
    }
    udev.unrecorded_since = std::move(unrecorded);
    udev.waiting = !unready.empty();
    return unready;
}

int udev_records() { return session().notify; }

bool drain_udev_records() {
    udev_session& udev = session();
    alignas(inotify_event) char buffer[4096];
    bool written = false;
    while (::read(udev.notify, buffer, sizeof buffer) > 0) written = true;
    return written && udev.waiting;
}

long long udev_hand_over_in() {
    const udev_session& udev = session();
    if (!udev.waiting) return -1;
    const long long now = now_ms();
    long long soonest = hand_over_after_ms;
    for (const auto& [key, since] : udev.unrecorded_since)
        if (now - since < hand_over_after_ms) soonest = std::min(soonest, since + hand_over_after_ms - now);
    return soonest;
}
