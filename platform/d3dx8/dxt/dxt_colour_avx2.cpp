// The colour encoder's body built for AVX2 (wider vectors, three-operand
// instructions); chosen by EncodeColour when the AVX2 path is active.  The
// headers come first so that only the body below takes the target.
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__x86_64__)
#include <climits>
#include <immintrin.h>

#include "dxt_avx2_begin.h"
#define DXT_COLOUR_ENTRY EncodeColourAvx2
#define DXT_COLOUR_BATCH_ENTRY EncodeColoursAvx2
#define DXT_COLOUR_FRONT_ENTRY ColourFrontEndsAvx2
#define DXT_COLOUR_AVX2 1
#include "dxt_colour_encoder.h"
#include "dxt_avx2_end.h"
#endif
