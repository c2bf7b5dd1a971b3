// The harnesses' stand-ins for the process-ending and output calls: a run
// ends by throwing `process_end`, and its output is collected, so that one
// process can run the program many times and look at what each run did.
#pragma once

#include <string>

struct process_end {
    int status;
};

struct run_output {
    std::string out;
    std::string err;
};

// What the runs since the last call wrote; clears it.
run_output take_output();
