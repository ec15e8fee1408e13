// Closes the region dxt_avx2_begin.h opened.  GCC's target pragma lasts to
// the end of the file, which is where this is included.
#if defined(__clang__)
#pragma clang attribute pop
#endif
