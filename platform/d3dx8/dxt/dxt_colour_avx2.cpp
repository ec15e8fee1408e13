// The colour encoder's body built for AVX2 (wider vectors, three-operand
// instructions); chosen by EncodeColour when the AVX2 path is active.  The
// headers come first so that only the body below takes the target.
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif
#define DXT_COLOUR_ENTRY EncodeColourAvx2
#define DXT_COLOUR_AVX2 1
#include "dxt_colour_encoder.h"
#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
