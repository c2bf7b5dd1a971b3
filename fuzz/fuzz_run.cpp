// A whole run in one process: export bytes and up to three arguments go
// through parsing, the walk and the listing. Every run must end with a known
// status, say why on standard error when it fails, and print only whole
// listing lines on standard output.
//
// Input: up to three arguments, each ended by a NUL byte, then the export.
#include "fuzz/exit_hook.h"
#include "run/run.h"
#include "text/text.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// The export the run reads, PORTSIFT_REGISTRY, written afresh for each input.
const std::string& export_path() {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz-run-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        ::close(fd);
        ::setenv("PORTSIFT_REGISTRY", name, 1);
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<wtext> args{u"portsift"};
    for (int i = 0; i < 3; ++i) {
        const std::size_t nul = input.find('\0');
        if (nul == std::string_view::npos) break;
        args.push_back(from_utf8(input.substr(0, nul)));
        input.remove_prefix(nul + 1);
    }
    // A wait would sleep for real, and a watch never end; their looks are
    // the same run.
    for (const wtext& arg : args)
        if (arg == u"--wait" || arg == u"--wait-gone" || arg == u"--watch") return 0;
    std::ofstream(export_path(), std::ios::binary | std::ios::trunc).write(input.data(), static_cast<std::streamsize>(input.size()));
    std::vector<const WCHAR*> argv;
    for (const wtext& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    int status;
    try {
        status = portsift_run(static_cast<int>(args.size()), argv.data());
    } catch (const process_end& end) {
        status = end.status;
    }
    const run_output output = take_output();
    if (status != 0 && status != 1 && status != 2 && status != 10 && status != 11) std::abort();
    if (status != 0 && output.err.empty()) std::abort();
    if (status == 1 && !output.out.empty()) std::abort();
    if (!output.out.empty() && output.out.back() != '\n') std::abort();
    // The document is written whole, after a walk that finished, or not at all.
    if (args.size() > 1 && args[1] == u"--json" && (status == 0) != output.out.starts_with("{\n")) std::abort();
    return 0;
}
