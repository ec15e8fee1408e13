// The colour encoder and the split search built for any processor: the
// code the scalar and SSE2 paths run (with their own kernels), in plain
// C++ and the compiler's vector types alone.
#include "dxt_internal.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "platform/d3dx8/dxt/dxt_cluster_search.h"
#include "platform/d3dx8/dxt/dxt_colour_batch.h"

namespace dxt::detail {

void EncodeColourAny(const ColourRequest& request, std::uint8_t block[8])
{
    EncodeColourWith<AnyProcessor>(request, block);
}

void EncodeColoursAny(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
    EncodeColoursWith<AnyProcessor>(requests, count, blocks);
}

void ColourFrontEndsAny(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
    ColourFrontEndsWith<AnyProcessor>(requests, count, together, out, ran);
}

ClusterResult SearchSplitsAny(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score)
{
    return SearchAny<F4, I4>(in, four, lo, hi, score);
}

} // namespace dxt::detail
