// Colour blocks: the entry point, which picks the encoder's build for the
// processor (the body is in dxt_colour_encoder.h).
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define DXT_COLOUR_ENTRY EncodeColourGeneric
#define DXT_COLOUR_AVX2 0
#include "dxt_colour_encoder.h"

namespace dxt::detail {

#if defined(__x86_64__)
// dxt_colour_avx2.cpp: the same body built for AVX2.
void EncodeColourAvx2(const ColourRequest& request, std::uint8_t block[8]);
#endif

void EncodeColour(const ColourRequest& request, std::uint8_t block[8])
{
#if defined(__x86_64__)
    if (ActivePath() == Path::Avx2) {
        EncodeColourAvx2(request, block);
        return;
    }
#endif
    EncodeColourGeneric(request, block);
}

} // namespace dxt::detail
