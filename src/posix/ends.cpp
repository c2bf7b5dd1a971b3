#include "posix/ends.h"

#include "platform/platform.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdlib>

namespace {

volatile std::sig_atomic_t ending = 0;
bool catching = false;
sigset_t waiting;
int reader = -1;

void note_end(int) { ending = 1; }

}  // namespace

const sigset_t* waiting_mask() { return catching ? &waiting : nullptr; }

int watched_reader() { return reader; }

void catch_end_requests() {
    struct sigaction action {};
    action.sa_handler = note_end;
    sigemptyset(&action.sa_mask);
    sigset_t ends;
    sigemptyset(&ends);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
        sigaddset(&ends, signal);
    }
    // A reader that goes away makes the write fail: the watch then ends.
    std::signal(SIGPIPE, SIG_IGN);
    ::sigprocmask(SIG_BLOCK, &ends, &waiting);
    struct stat output {};
    if (::fstat(1, &output) == 0 && (S_ISFIFO(output.st_mode) || S_ISSOCK(output.st_mode))) reader = 1;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigdelset(&waiting, signal);
    catching = true;
}

bool end_requested() { return ending; }

void exit_reader_gone() {
    if (catching) std::exit(0);
    // SIGPIPE was ignored by whoever started us; it ends us as it would have.
    std::signal(SIGPIPE, SIG_DFL);
    std::raise(SIGPIPE);
    std::_Exit(0);
}
