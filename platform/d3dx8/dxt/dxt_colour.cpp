// Colour blocks: the entry points, which pick the encoder's build for the
// processor (the encoder is in dxt_colour_encoder.h and dxt_colour_batch.h).
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "dxt_colour_batch.h"

namespace dxt::detail {

#if defined(__x86_64__)
// dxt_colour_avx2.cpp: the encoder built for AVX2.
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
    EncodeColourWith<AnyProcessor>(request, block);
}

void EncodeColours(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
#if defined(__x86_64__)
    if (ActivePath() == Path::Avx2) {
        EncodeColoursAvx2(requests, count, blocks);
        return;
    }
#endif
    EncodeColoursWith<AnyProcessor>(requests, count, blocks);
}

void ColourFrontEnds(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
#if defined(__x86_64__)
    if (ActivePath() == Path::Avx2) {
        ColourFrontEndsAvx2(requests, count, together, out, ran);
        return;
    }
#endif
    ColourFrontEndsWith<AnyProcessor>(requests, count, together, out, ran);
}

} // namespace dxt::detail
