// A watch's end requests on Linux and macOS (catch_end_requests, the
// systems' contract): SIGINT, SIGTERM and SIGHUP are blocked but while
// waiting, so that one that comes during a look is taken at the next wait.
#pragma once

#include <signal.h>

// The signal mask to wait with, which lets the end requests in; null
// before catch_end_requests.
const sigset_t* waiting_mask();

// While watching, standard output when it is a pipe or a socket: its
// reader going away shows as an error on it, with nothing written. -1
// otherwise.
int watched_reader();
