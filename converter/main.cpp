#include "dprintf.h"
#include "log.h"
#include "mipforge.h"

#if defined(__GLIBC__)
#include <malloc.h>
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
#endif
    pDPrintOutputProc = LogOutputProc;
    return MipforgeMain(argc, argv);
}
