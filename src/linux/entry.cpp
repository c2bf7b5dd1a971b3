// The Linux program's entry: arguments arrive as UTF-8 bytes and are
// decoded to UTF-16 before the run sees them.
#include "main/main.h"
#include "report/text.h"

#include <vector>

int main(int argc, char** argv) {
    std::vector<wtext> args;
    args.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) args.push_back(from_utf8(argv[i]));
    std::vector<const WCHAR*> pointers;
    for (const wtext& arg : args) pointers.push_back(arg.c_str());
    pointers.push_back(nullptr);
    return portsift_main(argc, pointers.data());
}
