#include "linux/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;

std::size_t mapped_size(std::size_t bytes) { return (bytes + huge_page - 1) & ~(huge_page - 1); }

struct huge_page_memory final : std::pmr::memory_resource {
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        if (bytes < huge_page) return ::operator new(bytes, std::align_val_t(alignment));
        // A run one huge page longer, cut to the aligned part.
        const std::size_t size = mapped_size(bytes);
        void* mapped = ::mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (start + huge_page - 1) & ~(huge_page - 1);
        if (aligned > start) ::munmap(mapped, aligned - start);
        if (const std::size_t tail = start + huge_page - aligned) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
        ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
        return reinterpret_cast<void*>(aligned);
    }
    void do_deallocate(void* run, std::size_t bytes, std::size_t alignment) override {
        if (bytes < huge_page)
            ::operator delete(run, std::align_val_t(alignment));
        else
            ::munmap(run, mapped_size(bytes));
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
};

}  // namespace

std::pmr::memory_resource* image_memory() {
    static huge_page_memory memory;
    return &memory;
}
