// The encoder's inner loops in three forms: plain C++ (the reference every
// other path is checked against), SSE2 (part of every x86-64 processor) and
// AVX2 (used only when the processor reports it).  All arithmetic is integer,
// so every path returns exactly the same indices and errors.
#include "dxt_internal.h"

#include <atomic>
#include <climits>

#if defined(__x86_64__) || defined(_M_X64)
#define DXT_X86 1
#include <immintrin.h>
#else
#define DXT_X86 0
#endif

namespace dxt {
namespace detail {

namespace {

std::uint32_t ColourScalar(const ColourSet& s, const std::uint8_t palette[4][4], int count, std::uint32_t* indices)
{
    const int wr = s.weighted ? s.wrg[0] : 1, wg = s.weighted ? s.wrg[1] : 1, wb = s.weighted ? s.wb : 1;
    std::uint32_t total = 0, packed = 0;
    for (int i = 0; i < 16; ++i) {
        const int r = s.rg[2 * i], g = s.rg[2 * i + 1], b = s.bz[2 * i];
        int best = INT_MAX, bestIndex = 0;
        for (int c = 0; c < count; ++c) {
            const int dr = r - palette[c][0], dg = g - palette[c][1], db = b - palette[c][2];
            const int e = wr * dr * dr + wg * dg * dg + wb * db * db;
            if (e < best) {
                best = e;
                bestIndex = c;
            }
        }
        packed |= static_cast<std::uint32_t>(bestIndex) << (2 * i);
        total += static_cast<std::uint32_t>(best & s.mask[i]);
    }
    if (indices)
        *indices = packed;
    return total;
}

std::uint32_t AlphaScalar(const std::uint8_t alpha[16], const std::uint8_t mask[16], const std::uint8_t palette[8])
{
    std::uint32_t total = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 255;
        for (int k = 0; k < 8; ++k) {
            const int d = alpha[i] > palette[k] ? alpha[i] - palette[k] : palette[k] - alpha[i];
            best = d < best ? d : best;
        }
        best &= mask[i];
        total += static_cast<std::uint32_t>(best * best);
    }
    return total;
}

std::uint64_t AlphaIndicesScalar(const std::uint8_t alpha[16], const std::uint8_t palette[8])
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) {
        int best = 256, bestIndex = 0;
        for (int k = 0; k < 8; ++k) {
            const int d = alpha[i] > palette[k] ? alpha[i] - palette[k] : palette[k] - alpha[i];
            if (d < best) {
                best = d;
                bestIndex = k;
            }
        }
        bits |= static_cast<std::uint64_t>(bestIndex) << (3 * i);
    }
    return bits;
}

#if DXT_X86

// Spreads the 16 bits of v to the even bit positions of the result.
inline std::uint32_t SpreadBits(std::uint32_t v)
{
    v = (v | (v << 8)) & 0x00FF00FFu;
    v = (v | (v << 4)) & 0x0F0F0F0Fu;
    v = (v | (v << 2)) & 0x33333333u;
    return (v | (v << 1)) & 0x55555555u;
}

// 16 bytes holding 0..3 -> 2 bits each, byte 0 in the low bits.
inline std::uint32_t PackIndexBytes(__m128i bytes)
{
    const auto low = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(bytes, 7)));
    const auto high = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(bytes, 6)));
    return SpreadBits(low) | (SpreadBits(high) << 1);
}

inline std::uint32_t HorizontalSum(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2)));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(v));
}

inline __m128i Select(__m128i take, __m128i a, __m128i b)
{
    return _mm_or_si128(_mm_and_si128(take, a), _mm_andnot_si128(take, b));
}

std::uint32_t ColourSse2(const ColourSet& s, const std::uint8_t palette[4][4], int count, std::uint32_t* indices)
{
    __m128i crg[4], cbz[4];
    for (int c = 0; c < count; ++c) {
        crg[c] = _mm_set1_epi32(palette[c][0] | (palette[c][1] << 16));
        cbz[c] = _mm_set1_epi32(palette[c][2]);
    }
    const __m128i wrg = _mm_set1_epi32(static_cast<std::uint16_t>(s.wrg[0]) | (s.wrg[1] << 16));
    const __m128i wb = _mm_set1_epi32(s.wb);
    __m128i total = _mm_setzero_si128();
    __m128i index[4];
    for (int g = 0; g < 4; ++g) {
        const __m128i rg = _mm_load_si128(reinterpret_cast<const __m128i*>(s.rg + 8 * g));
        const __m128i bz = _mm_load_si128(reinterpret_cast<const __m128i*>(s.bz + 8 * g));
        __m128i best = _mm_set1_epi32(INT_MAX), bestIndex = _mm_setzero_si128();
        for (int c = 0; c < count; ++c) {
            const __m128i d1 = _mm_sub_epi16(rg, crg[c]);
            const __m128i d2 = _mm_sub_epi16(bz, cbz[c]);
            __m128i e;
            if (s.weighted)
                e = _mm_add_epi32(_mm_madd_epi16(_mm_mullo_epi16(d1, wrg), d1),
                                  _mm_madd_epi16(_mm_mullo_epi16(d2, wb), d2));
            else
                e = _mm_add_epi32(_mm_madd_epi16(d1, d1), _mm_madd_epi16(d2, d2));
            const __m128i less = _mm_cmplt_epi32(e, best);
            best = Select(less, e, best);
            bestIndex = Select(less, _mm_set1_epi32(c), bestIndex);
        }
        index[g] = bestIndex;
        total = _mm_add_epi32(total,
                              _mm_and_si128(best, _mm_load_si128(reinterpret_cast<const __m128i*>(s.mask + 4 * g))));
    }
    if (indices) {
        const __m128i bytes =
            _mm_packus_epi16(_mm_packs_epi32(index[0], index[1]), _mm_packs_epi32(index[2], index[3]));
        *indices = PackIndexBytes(bytes);
    }
    return HorizontalSum(total);
}

std::uint32_t AlphaSse2(const std::uint8_t alpha[16], const std::uint8_t mask[16], const std::uint8_t palette[8])
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha));
    __m128i best = _mm_set1_epi8(static_cast<char>(-1));
    for (int k = 0; k < 8; ++k) {
        const __m128i p = _mm_set1_epi8(static_cast<char>(palette[k]));
        best = _mm_min_epu8(best, _mm_or_si128(_mm_subs_epu8(a, p), _mm_subs_epu8(p, a)));
    }
    best = _mm_and_si128(best, _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask)));
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo = _mm_unpacklo_epi8(best, zero), hi = _mm_unpackhi_epi8(best, zero);
    return HorizontalSum(_mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
}

std::uint64_t AlphaIndicesSse2(const std::uint8_t alpha[16], const std::uint8_t palette[8])
{
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(alpha));
    __m128i best = _mm_set1_epi8(static_cast<char>(-1)), index = _mm_setzero_si128();
    for (int k = 0; k < 8; ++k) {
        const __m128i p = _mm_set1_epi8(static_cast<char>(palette[k]));
        const __m128i d = _mm_or_si128(_mm_subs_epu8(a, p), _mm_subs_epu8(p, a));
        // d < best, unsigned: best is the larger and they differ.
        const __m128i less =
            _mm_andnot_si128(_mm_cmpeq_epi8(d, best), _mm_cmpeq_epi8(_mm_max_epu8(d, best), best));
        best = _mm_min_epu8(best, d);
        index = Select(less, _mm_set1_epi8(static_cast<char>(k)), index);
    }
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), index);
    std::uint64_t bits = 0;
    for (int i = 0; i < 16; ++i)
        bits |= static_cast<std::uint64_t>(bytes[i]) << (3 * i);
    return bits;
}

__attribute__((target("avx2"))) std::uint32_t ColourAvx2(const ColourSet& s, const std::uint8_t palette[4][4],
                                                         int count, std::uint32_t* indices)
{
    __m256i crg[4], cbz[4];
    for (int c = 0; c < count; ++c) {
        crg[c] = _mm256_set1_epi32(palette[c][0] | (palette[c][1] << 16));
        cbz[c] = _mm256_set1_epi32(palette[c][2]);
    }
    const __m256i wrg = _mm256_set1_epi32(static_cast<std::uint16_t>(s.wrg[0]) | (s.wrg[1] << 16));
    const __m256i wb = _mm256_set1_epi32(s.wb);
    __m256i total = _mm256_setzero_si256();
    __m256i packed = _mm256_setzero_si256();
    const __m256i shifts = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
    for (int g = 0; g < 2; ++g) {
        const __m256i rg = _mm256_load_si256(reinterpret_cast<const __m256i*>(s.rg + 16 * g));
        const __m256i bz = _mm256_load_si256(reinterpret_cast<const __m256i*>(s.bz + 16 * g));
        __m256i best = _mm256_set1_epi32(INT_MAX), bestIndex = _mm256_setzero_si256();
        for (int c = 0; c < count; ++c) {
            const __m256i d1 = _mm256_sub_epi16(rg, crg[c]);
            const __m256i d2 = _mm256_sub_epi16(bz, cbz[c]);
            __m256i e;
            if (s.weighted)
                e = _mm256_add_epi32(_mm256_madd_epi16(_mm256_mullo_epi16(d1, wrg), d1),
                                     _mm256_madd_epi16(_mm256_mullo_epi16(d2, wb), d2));
            else
                e = _mm256_add_epi32(_mm256_madd_epi16(d1, d1), _mm256_madd_epi16(d2, d2));
            const __m256i less = _mm256_cmpgt_epi32(best, e);
            best = _mm256_blendv_epi8(best, e, less);
            bestIndex = _mm256_blendv_epi8(bestIndex, _mm256_set1_epi32(c), less);
        }
        // Texel 8g+j lands at bit 2j of lane j, then at 16g by the shift below.
        packed = _mm256_or_si256(packed, _mm256_slli_epi32(_mm256_sllv_epi32(bestIndex, shifts), 16 * g));
        total = _mm256_add_epi32(
            total, _mm256_and_si256(best, _mm256_load_si256(reinterpret_cast<const __m256i*>(s.mask + 8 * g))));
    }
    if (indices) {
        __m128i p = _mm_or_si128(_mm256_castsi256_si128(packed), _mm256_extracti128_si256(packed, 1));
        p = _mm_or_si128(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(1, 0, 3, 2)));
        p = _mm_or_si128(p, _mm_shuffle_epi32(p, _MM_SHUFFLE(2, 3, 0, 1)));
        *indices = static_cast<std::uint32_t>(_mm_cvtsi128_si32(p));
    }
    const __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1));
    return HorizontalSum(sum);
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#else

bool HasAvx2() { return false; }

#endif

const Kernels kScalar{ColourScalar, AlphaScalar, AlphaIndicesScalar};
#if DXT_X86
const Kernels kSse2{ColourSse2, AlphaSse2, AlphaIndicesSse2};
const Kernels kAvx2{ColourAvx2, AlphaSse2, AlphaIndicesSse2};
#endif

bool Available(Path path)
{
    switch (path) {
    case Path::Auto:
    case Path::Scalar:
        return true;
    case Path::Sse2:
        return DXT_X86;
    case Path::Avx2:
        return HasAvx2();
    }
    return false;
}

Path BestPath()
{
    if (HasAvx2())
        return Path::Avx2;
    return DXT_X86 ? Path::Sse2 : Path::Scalar;
}

std::atomic<Path>& Selected()
{
    static std::atomic<Path> selected{BestPath()};
    return selected;
}

} // namespace

const Kernels& KernelsFor(Path path)
{
    switch (path) {
#if DXT_X86
    case Path::Sse2:
        return kSse2;
    case Path::Avx2:
        return HasAvx2() ? kAvx2 : kSse2;
    case Path::Auto:
        return KernelsFor(BestPath());
#else
    case Path::Auto:
#endif
    default:
        return kScalar;
    }
}

const Kernels& ActiveKernels() { return KernelsFor(Selected().load(std::memory_order_relaxed)); }

} // namespace detail

bool SetPath(Path path)
{
    if (!detail::Available(path))
        return false;
    detail::Selected().store(path == Path::Auto ? detail::BestPath() : path, std::memory_order_relaxed);
    return true;
}

Path ActivePath() { return detail::Selected().load(std::memory_order_relaxed); }

} // namespace dxt
