// udev's part in handing over a tty: where udev runs, a tty can be opened
// once udev has applied its rules (the node's group and mode, its links),
// which it marks by writing the record DIR/data/c<major>:<minor>.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

// Holds back the ttys udev has not finished with, from the first call on,
// where udev runs: DIR is PORTSIFT_UDEV, else /run/udev unless
// PORTSIFT_SYSFS names a tree of its own; udev runs when DIR/control
// exists. Watches DIR/data for new records. Later calls do nothing.
void hold_unready_ttys();

// Of the ttys attached now, each a name and its "major:minor" (the `dev`
// attribute), those without a udev record that were first seen less than
// 5 seconds ago, by their names; none where udev does not run or nothing
// is held back. Forgets the ttys no longer attached.
std::set<std::string> unready_ttys(const std::vector<std::pair<std::string, std::string>>& ttys);

// The descriptor that becomes readable when a record is written, or -1.
int udev_records();

// Reads what was written; true when a held-back tty may be ready now.
bool drain_udev_records();

// Milliseconds from now until the oldest held-back tty is handed over
// anyway; -1 when none is held back.
long long udev_hand_over_in();
