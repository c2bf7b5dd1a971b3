// Memory for the registry images a source makes (source.cpp).
#pragma once

#include <memory_resource>

// Memory whose runs of 2 MiB or more are aligned to 2 MiB and marked for the
// kernel to back with huge pages (transparent huge pages, where enabled for
// the mappings that ask for them): a large image then costs a page fault
// per 2 MiB rather than per 4 KiB. Smaller runs are ordinary memory.
std::pmr::memory_resource* image_memory();
