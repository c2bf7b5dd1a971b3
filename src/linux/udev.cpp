#include "linux/udev.h"

#include "linux/clock.h"

#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <algorithm>
#include <map>

namespace {

// How long a tty waits for udev before it is handed over anyway: udev may
// ignore the device or be stuck.
constexpr long long hand_over_after_ms = 5000;

// What was found of udev on the first hold: whether it runs, where it
// writes its records, and the descriptor that tells of new ones.
bool looked = false;
bool udev_runs = false;
std::string records;  // DIR/data/
int notify = -1;
// The ttys without a record, by name and device number, and when each was
// first seen; and whether one of them is still held back.
std::map<std::string, long long> unrecorded_since;
bool waiting = false;

}  // namespace

void hold_unready_ttys() {
    if (looked) return;
    looked = true;
    const char* named = std::getenv("PORTSIFT_UDEV");
    const char* sysfs = std::getenv("PORTSIFT_SYSFS");
    std::string dir;
    if (named && *named)
        dir = named;
    else if (!(sysfs && *sysfs))
        dir = "/run/udev";
    // Without udev (a container, an initramfs) nothing sets a tty up.
    if (dir.empty() || ::access((dir + "/control").c_str(), F_OK) != 0) return;
    udev_runs = true;
    records = dir + "/data/";
    // udev writes a record under a temporary name and renames it.
    notify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (notify >= 0 && ::inotify_add_watch(notify, records.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0) {
        ::close(notify);
        notify = -1;
    }
}

std::set<std::string> unready_ttys(const std::vector<std::pair<std::string, std::string>>& ttys) {
    std::set<std::string> unready;
    if (!udev_runs) return unready;
    std::map<std::string, long long> unrecorded;
    const long long now = now_ms();
    for (const auto& [name, dev] : ttys) {
        if (!dev.empty() && ::access((records + 'c' + dev).c_str(), F_OK) == 0) continue;
        const std::string key = name + '\0' + dev;
        const auto seen = unrecorded_since.find(key);
        const long long since = seen == unrecorded_since.end() ? now : seen->second;
        unrecorded.emplace(key, since);
        if (now - since < hand_over_after_ms) unready.insert(name);
    }
    unrecorded_since = std::move(unrecorded);
    waiting = !unready.empty();
    return unready;
}

int udev_records() { return notify; }

bool drain_udev_records() {
    alignas(inotify_event) char buffer[4096];
    bool written = false;
    while (::read(notify, buffer, sizeof buffer) > 0) written = true;
    return written && waiting;
}

long long udev_hand_over_in() {
    if (!waiting) return -1;
    const long long now = now_ms();
    long long soonest = hand_over_after_ms;
    for (const auto& [key, since] : unrecorded_since)
        if (now - since < hand_over_after_ms) soonest = std::min(soonest, since + hand_over_after_ms - now);
    return soonest;
}
