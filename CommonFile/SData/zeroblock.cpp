#include "zeroblock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__unix__)
#include <sys/mman.h>
#include <unistd.h>
#define ZEROBLOCK_MMAP 1
#endif

namespace {
// Ranges below this size are cleared with memset: handing back a page or two is not worth a
// system call and the page faults that follow.
constexpr size_t kMemsetBelow = 64 * 1024;

size_t PageSize()
{
#if ZEROBLOCK_MMAP
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return page;
#else
    return 4096;
#endif
}
} // namespace

void* ZeroBlock_Alloc(size_t bytes)
{
    if (bytes == 0)
        return nullptr;
#if ZEROBLOCK_MMAP
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
#else
    return calloc(1, bytes);
#endif
}

void ZeroBlock_Free(void* block, size_t bytes)
{
    if (!block)
        return;
#if ZEROBLOCK_MMAP
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
