#include "linux/memory.h"

#include <sys/mman.h>

#include <new>

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;

// Runs of a huge page or more take whole huge pages, aligned to them.
std::size_t run_size(std::size_t bytes) { return (bytes + huge_page - 1) & ~(huge_page - 1); }
std::size_t run_alignment(std::size_t bytes, std::size_t alignment) { return bytes < huge_page ? alignment : huge_page; }

// From the ordinary heap, so that whatever keeps track of it (a leak
// checker among them) sees these runs as any other.
void* take(std::size_t bytes, std::size_t alignment) {
    if (bytes < huge_page) return ::operator new(bytes, std::align_val_t(alignment));
    void* run = ::operator new(run_size(bytes), std::align_val_t(huge_page));
    ::madvise(run, run_size(bytes), MADV_HUGEPAGE);
    return run;
}

void give_back(void* run, std::size_t bytes, std::size_t alignment) {
    ::operator delete(run, std::align_val_t(run_alignment(bytes, alignment)));
}

}  // namespace

const image_memory& huge_page_memory() {
    static const image_memory memory{.take = take, .give_back = give_back};
    return memory;
}
