// Colour blocks: the entry point, which picks the encoder's build for the
// processor (the body is in dxt_colour_encoder.h).
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define DXT_COLOUR_ENTRY EncodeColourGeneric
#define DXT_COLOUR_BATCH_ENTRY EncodeColoursGeneric
#define DXT_COLOUR_FRONT_ENTRY ColourFrontEndsGeneric
#define DXT_COLOUR_AVX2 0
#include "dxt_colour_encoder.h"

namespace dxt::detail {

#if defined(__x86_64__)
// dxt_colour_avx2.cpp: the same body built for AVX2.
void EncodeColourAvx2(const ColourRequest& request, std::uint8_t block[8]);
void EncodeColoursAvx2(const ColourRequest* requests, int count, std::uint8_t* const blocks[]);
void ColourFrontEndsAvx2(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[]);
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

void EncodeColours(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
#if defined(__x86_64__)
    if (ActivePath() == Path::Avx2) {
        EncodeColoursAvx2(requests, count, blocks);
        return;
    }
#endif
    EncodeColoursGeneric(requests, count, blocks);
}

void ColourFrontEnds(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
#if defined(__x86_64__)
    if (ActivePath() == Path::Avx2) {
        ColourFrontEndsAvx2(requests, count, together, out, ran);
        return;
    }
#endif
    ColourFrontEndsGeneric(requests, count, together, out, ran);
}

} // namespace dxt::detail
