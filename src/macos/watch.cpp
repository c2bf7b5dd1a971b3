// Waiting for device changes on macOS: IOKit's first-match and terminated
// notifications for serial clients, received on their Mach port.
#include "macos/source.h"
#include "platform/platform.h"
#include "posix/clock.h"
#include "posix/ends.h"

#include <IOKit/IOKitLib.h>
#include <mach/mach.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>

namespace {

IONotificationPortRef notifications = nullptr;
io_iterator_t arrivals = IO_OBJECT_NULL, departures = IO_OBJECT_NULL;
bool changed = false;

// Takes every client a notification brought; taking them arms it again.
void take_arrivals(void*, io_iterator_t iterator) {
    while (const io_object_t client = IOIteratorNext(iterator)) {
        IOObjectRelease(client);
        changed = true;
    }
}

// A client that went is known by its registry ID alone.
void take_departures(void*, io_iterator_t iterator) {
    while (const io_object_t client = IOIteratorNext(iterator)) {
        std::uint64_t id = 0;
        if (IORegistryEntryGetRegistryEntryID(client, &id) == kIOReturnSuccess) forget_client(id);
        IOObjectRelease(client);
        changed = true;
    }
}

// A port a look found without its name is looked at again this soon.
constexpr long long unnamed_retry_ms = 100;
// While end requests are caught, a wait wakes this often to see them.
constexpr long long end_check_ms = 100;

}  // namespace

void watch_changes() {
    notifications = IONotificationPortCreate(kIOMainPortDefault);
    if (!notifications) return;
    // Each call consumes its matching dictionary.
    IOServiceAddMatchingNotification(notifications, kIOFirstMatchNotification, IOServiceMatching("IOSerialBSDClient"),
                                     take_arrivals, nullptr, &arrivals);
    IOServiceAddMatchingNotification(notifications, kIOTerminatedNotification, IOServiceMatching("IOSerialBSDClient"),
                                     take_departures, nullptr, &departures);
    take_arrivals(nullptr, arrivals);
    take_departures(nullptr, departures);
    changed = false;
}

bool wait_for_change(unsigned milliseconds) {
    long long until = now_ms() + milliseconds;
    if (unnamed_clients() > 0) until = std::min(until, now_ms() + unnamed_retry_ms);
    changed = false;
    for (long long left; !end_requested() && (left = until - now_ms()) > 0;) {
        const long long slice = waiting_mask() ? std::min(left, end_check_ms) : left;
        if (watched_reader() >= 0) {
            pollfd output{watched_reader(), 0, 0};
            if (::poll(&output, 1, 0) > 0) exit_reader_gone();
        }
        if (!notifications) {
            ::poll(nullptr, 0, static_cast<int>(slice));
            continue;
        }
        struct {
            mach_msg_header_t header;
            char body[4096];
        } message{};
        // The end requests come in while the receive waits, as on Linux while poll does.
        sigset_t held;
        if (waiting_mask()) ::pthread_sigmask(SIG_SETMASK, waiting_mask(), &held);
        const mach_msg_return_t got =
            mach_msg(&message.header, MACH_RCV_MSG | MACH_RCV_TIMEOUT | MACH_RCV_INTERRUPT, 0, sizeof message,
                     IONotificationPortGetMachPort(notifications), static_cast<mach_msg_timeout_t>(slice),
                     MACH_PORT_NULL);
        if (waiting_mask()) ::pthread_sigmask(SIG_SETMASK, &held, nullptr);
        if (got == MACH_MSG_SUCCESS) IODispatchCalloutFromMessage(nullptr, &message.header, notifications);
        if (changed) return true;
    }
    return changed || unnamed_clients() > 0 || !notifications;
}
