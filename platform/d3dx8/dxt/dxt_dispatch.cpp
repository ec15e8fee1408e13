// The one place that picks a path: what the processor has, the path in
// use, and the entry points that call through it.
#include "dxt_internal.h"

#include <atomic>

namespace dxt {
namespace detail {

namespace {

#if defined(__x86_64__)

bool HasAvx2()
{
    // Every AVX2 processor has the population count instruction, which the
    // AVX2 build uses as well; checked all the same.
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    return has;
}

const PathCode kScalarCode = {&kPortableKernels, EncodeColourAny, EncodeColoursAny, ColourFrontEndsAny,
                              SearchSplitsAny};
const PathCode kSse2Code = {&kSse2Kernels, EncodeColourAny, EncodeColoursAny, ColourFrontEndsAny,
                            SearchSplitsAny};
const PathCode kAvx2Code = {&kAvx2Kernels, EncodeColourAvx2, EncodeColoursAvx2, ColourFrontEndsAvx2,
                            SearchSplitsAvx2};

bool Available(Path path) { return path != Path::Avx2 || HasAvx2(); }
Path BestPath() { return HasAvx2() ? Path::Avx2 : Path::Sse2; }

const PathCode& CodeFor(Path path)
{
    switch (path) {
    case Path::Scalar:
        return kScalarCode;
    case Path::Sse2:
        return kSse2Code;
    case Path::Avx2:
        return HasAvx2() ? kAvx2Code : kSse2Code;
    case Path::Auto:
        break;
    }
    return CodeFor(BestPath());
}

#else

const PathCode kScalarCode = {&kPortableKernels, EncodeColourAny, EncodeColoursAny, ColourFrontEndsAny,
                              SearchSplitsAny};

bool Available(Path path) { return path == Path::Auto || path == Path::Scalar; }
Path BestPath() { return Path::Scalar; }
const PathCode& CodeFor(Path) { return kScalarCode; }

#endif

// The path in use and its code, set together (null until first asked): the
// entry points read the code once per call.
std::atomic<Path> selectedPath{Path::Auto};
std::atomic<const PathCode*> selectedCode{nullptr};

void Select(Path path)
{
    selectedPath.store(path, std::memory_order_relaxed);
    selectedCode.store(&CodeFor(path), std::memory_order_relaxed);
}

} // namespace

const PathCode& ActiveCode()
{
    const PathCode* code = selectedCode.load(std::memory_order_relaxed);
    if (!code) {
        Select(BestPath());
        code = selectedCode.load(std::memory_order_relaxed);
    }
    return *code;
}
const Kernels& ActiveKernels() { return *ActiveCode().kernels; }
const Kernels& KernelsFor(Path path) { return *CodeFor(path).kernels; }

void EncodeColour(const ColourRequest& request, std::uint8_t block[8]) { ActiveCode().encodeColour(request, block); }

void EncodeColours(const ColourRequest* requests, int count, std::uint8_t* const blocks[])
{
    ActiveCode().encodeColours(requests, count, blocks);
}

void ColourFrontEnds(const ColourRequest* requests, int count, bool together, ColourFrontEnd out[], bool ran[])
{
    ActiveCode().colourFrontEnds(requests, count, together, out, ran);
}

ClusterResult SearchSplits(const ClusterInput& in, bool four, const int lo[3], const int hi[3], SplitScore score)
{
    return ActiveCode().searchSplits(in, four, lo, hi, score);
}

} // namespace detail

bool SetPath(Path path)
{
    if (!detail::Available(path))
        return false;
    detail::Select(path == Path::Auto ? detail::BestPath() : path);
    return true;
}

Path ActivePath()
{
    detail::ActiveCode();
    return detail::selectedPath.load(std::memory_order_relaxed);
}

} // namespace dxt
