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
    // stays that of its largest file.  Requests of 64 MiB and more are
    // still mapped on their own and returned at once.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
    pDPrintOutputProc = LogOutputProc;
    return MipforgeMain(argc, argv);
}
