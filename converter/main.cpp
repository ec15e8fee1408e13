#include "converter/log.h"
#include "converter/mipforge.h"
#include "engine/basekit/dprintf.h"

#include <csignal>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#endif

int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    // Every file allocates and frees pictures and levels of a few MiB.
    // Serving those from the heap, and keeping what is freed there for the
    // next file, spares the page faults of fresh mappings; a run's peak
    // follows its largest files in flight, not their number.  Requests of
    // 64 MiB and more are still mapped on their own and returned at once.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    // One heap for every thread: each file is prepared on a thread of its
    // own, and with a heap per thread what one file freed could sit unused
    // in another heap while the next file took fresh pages.  The threads
    // allocate a few large buffers per file, so they seldom wait on the
    // shared one.
    mallopt(M_ARENA_MAX, 1);
    // The heap's first pages are faulted in 4 KiB at a time while the first
    // files grow it, a twentieth of a run of a dozen 1024 x 1024 pictures on
    // a virtual machine.  So the heap grows by 48 MiB at once, and the kernel
    // is asked to back that with huge pages where it can.  Nothing is touched
    // (or resident) until used; where huge pages are off this changes
    // nothing.
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    constexpr std::size_t kReserve = std::size_t{48} << 20;
    if (void* block = std::malloc(kReserve)) {
        const auto at = reinterpret_cast<std::uintptr_t>(block);
        const std::uintptr_t first = (at + kHuge - 1) & ~(kHuge - 1), last = (at + kReserve) & ~(kHuge - 1);
        if (last > first)
            madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
        std::free(block);
    }
#endif
    // A console that went away (a pipe into `head`) must not end the job: its
    // writes fail and are dropped, and the log keeps the whole record.
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write fails (and the save with it) instead of
    // ending the run.
    std::signal(SIGXFSZ, SIG_IGN);
    pDPrintOutputProc = LogOutputProc;
    return MipforgeMain(argc, argv);
}
