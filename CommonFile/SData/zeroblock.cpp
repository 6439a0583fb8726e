#include "zeroblock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__unix__)
#include <sys/mman.h>
#include <unistd.h>
#define ZEROBLOCK_MMAP 1
#endif

// Under AddressSanitizer the rest of a mapping's last page is marked unaddressable, so that a read
// past the end of a block is reported like one past the end of a heap block.
#if defined(__SANITIZE_ADDRESS__)
#define ZEROBLOCK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEROBLOCK_ASAN 1
#endif
#endif
#if ZEROBLOCK_MMAP && ZEROBLOCK_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {
// Ranges below this size are cleared with memset: handing back a page or two is not worth a
// system call and the page faults that follow.
constexpr size_t kMemsetBelow = 64 * 1024;
constexpr size_t kHugePage = 2 * 1024 * 1024;
#if defined(MADV_POPULATE_WRITE)
constexpr int kMadvisePopulateWrite = MADV_POPULATE_WRITE;
#else
constexpr int kMadvisePopulateWrite = 23; // Linux 5.14
#endif

size_t PageSize()
{
#if ZEROBLOCK_MMAP
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
#else
    return 4096;
#endif
}

#if ZEROBLOCK_MMAP && ZEROBLOCK_ASAN
size_t RoundToPages(size_t bytes)
{
    const size_t page = PageSize();
    return (bytes + page - 1) / page * page;
}
#endif

// The slack between the end of a block and the end of its mapping.
void PoisonTail([[maybe_unused]] void* block, [[maybe_unused]] size_t bytes)
{
#if ZEROBLOCK_MMAP && ZEROBLOCK_ASAN
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + bytes, RoundToPages(bytes) - bytes);
#endif
}
} // namespace

void* ZeroBlock_Alloc(size_t bytes)
{
    if (bytes == 0)
        return nullptr;
#if ZEROBLOCK_MMAP
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    PoisonTail(p, bytes);
    return p;
#else
    return calloc(1, bytes);
#endif
}

void* ZeroBlock_AllocForFill(size_t bytes)
{
    if (bytes < kHugePage)
        return ZeroBlock_Alloc(bytes);
#if ZEROBLOCK_MMAP && defined(MADV_HUGEPAGE)
    // Map a huge page more than needed, keep the part that starts on a huge-page boundary and
    // commit it as huge pages: a few hundred times fewer page faults than small pages.
    const size_t page = PageSize();
    const size_t length = (bytes + page - 1) / page * page;
    void* raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const uintptr_t end = start + length + kHugePage;
    if (end > aligned + length)
        munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
    void* block = reinterpret_cast<void*>(aligned);
    madvise(block, length, MADV_HUGEPAGE);
    madvise(block, length, kMadvisePopulateWrite); // fails harmlessly on kernels before 5.14
    PoisonTail(block, bytes);
    return block;
#else
    return ZeroBlock_Alloc(bytes);
#endif
}

void ZeroBlock_Free(void* block, size_t bytes)
{
    if (!block)
        return;
#if ZEROBLOCK_MMAP
#if ZEROBLOCK_ASAN
    // Only the tail was poisoned; the pages may be mapped again for anything.
    ASAN_UNPOISON_MEMORY_REGION(static_cast<char*>(block) + bytes, RoundToPages(bytes) - bytes);
#endif
    munmap(block, bytes);
#else
    (void)bytes;
    free(block);
#endif
}

void ZeroBlock_Clear(void* block, size_t from, size_t to)
{
    if (!block || to <= from)
        return;
    auto* base = static_cast<unsigned char*>(block);
#if ZEROBLOCK_MMAP
    if (to - from >= kMemsetBelow) {
        const size_t page = PageSize();
        // Blocks start on a page boundary, so offsets round like addresses.
        const size_t first = (from + page - 1) / page * page;
        const size_t last = to / page * page;
        if (last > first && madvise(base + first, last - first, MADV_DONTNEED) == 0) {
            memset(base + from, 0, first - from);
            memset(base + last, 0, to - last);
            return;
        }
    }
#endif
    memset(base + from, 0, to - from);
}

void ZeroBlock_Reset(void* block, size_t bytes)
{
    if (!block || bytes == 0)
        return;
#if ZEROBLOCK_MMAP
    // The mapping ends on a page boundary, so the whole last page may be handed back too.
    const size_t page = PageSize();
    if (madvise(block, (bytes + page - 1) / page * page, MADV_DONTNEED) == 0)
        return;
#endif
    memset(block, 0, bytes);
}
