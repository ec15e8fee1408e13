// The colour encoder built for AVX2 (wider vectors, three-operand
// instructions, eight blocks side by side); chosen by EncodeColour when the
// AVX2 path is active.  The headers come first so that only the encoder
// takes the target.
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>

#include "dxt_avx2_begin.h"
#include "dxt_colour_batch.h"

namespace dxt::detail {

void EncodeColourAvx2(const ColourRequest& request, std::uint8_t block[8])
{
    EncodeColourWith<Avx2Processor>(request, block);
}

void EncodeColoursAvx2(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
    EncodeColoursWith<Avx2Processor>(requests, count, blocks);
}

void ColourFrontEndsAvx2(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
    ColourFrontEndsWith<Avx2Processor>(requests, count, together, out, ran);
}

} // namespace dxt::detail

#include "dxt_avx2_end.h"
#endif
