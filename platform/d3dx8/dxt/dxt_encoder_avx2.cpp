// The colour encoder and the split search built for AVX2 (wider vectors,
// three-operand instructions, eight blocks side by side), and for the
// population count instruction, which every AVX2 processor has (the
// dispatch checks for both).  The standard headers come first, so that
// only the encoder's code takes the target.
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

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,popcnt"))), apply_to = function)
#else
#pragma GCC target("avx2,popcnt")
#endif

#include "dxt_cluster_search.h"
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

ClusterResult SearchSplitsAvx2(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score)
{
    return SearchAny<F8, I8>(in, four, lo, hi, score);
}

} // namespace dxt::detail

#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
