// The program's entry on Linux and macOS: arguments arrive as UTF-8 bytes and are
// decoded to UTF-16 before the run sees them.
#include "run/run.h"
#include "report/report.h"
#include "text/text.h"

#include <fcntl.h>

#include <cerrno>
#include <vector>

int main(int argc, char** argv) {
    // A standard stream closed by the caller (>&-) is held by /dev/null,
    // read-only: writing it fails as writing a closed stream does, and no
    // file this run opens can take its place.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::vector<wtext> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(from_utf8(argv[i]));
    std::vector<const WCHAR*> pointers;
    for (const wtext& arg : args) pointers.push_back(arg.c_str());
    pointers.push_back(nullptr);
    end_process(portsift_run(argc, pointers.data()));
}
