// Memory for the registry images a source makes (source.cpp).
#pragma once

#include "winapi/image.h"

// Memory whose runs of 2 MiB or more are aligned to 2 MiB and marked for the
// kernel to back with huge pages (transparent huge pages, where enabled for
// the mappings that ask for them): a large image then costs a page fault
// per 2 MiB rather than per 4 KiB. Smaller runs are ordinary memory.
const image_memory& huge_page_memory();
