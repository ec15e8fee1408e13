// Everything defined between this header and dxt_avx2_end.h is built for
// AVX2, and for the population count instruction, which every AVX2
// processor has (the path checks for both).  Include it after the standard
// headers, so that only the body that follows takes the target.  No include
// guard: each use opens a region.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,popcnt"))), apply_to = function)
#else
#pragma GCC target("avx2,popcnt")
#endif
