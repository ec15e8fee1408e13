// The cluster fit's split searches eight lanes wide, built for AVX2; chosen
// by SearchSplits when the AVX2 path is active.  The headers come first so
// that only the searches take the target.
#include "dxt_internal.h"

#include <algorithm>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>

#include "dxt_avx2_begin.h"
#include "dxt_cluster_search.h"

namespace dxt::detail {

ClusterResult SearchWide(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score)
{
    return SearchAny<F8, I8>(in, four, lo, hi, score);
}

} // namespace dxt::detail

#include "dxt_avx2_end.h"
#endif
