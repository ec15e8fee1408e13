// Alpha blocks: the explicit 4-bit form (DXT2/3) and the interpolated form
// (DXT4/5) with both of its modes.
#include "dxt_internal.h"

#include <algorithm>
#include <cstring>

namespace dxt::detail {

void EncodeAlphaExplicit(const std::uint8_t rgba[64], std::uint16_t valid, std::uint8_t block[8])
{
    std::memset(block, 0, 8);
    for (int i = 0; i < 16; ++i) {
        if (!(valid >> i & 1))
            continue;
        // Nearest multiple of 17: the 4-bit value expands by replication.
        const int nibble = (rgba[4 * i + 3] + 8) / 17;
        block[i / 2] = static_cast<std::uint8_t>(block[i / 2] | (nibble << (4 * (i & 1))));
    }
}

namespace {

struct AlphaSearch {
    std::uint8_t alpha[16];
    std::uint8_t mask[16];
    AlphaKernel kernel;
    AlphaIndexKernel indexKernel;
    int bestA0 = 0, bestA1 = 0;
    std::uint32_t bestError = UINT32_MAX;

    std::uint32_t Try(int a0, int a1)
    {
        std::uint8_t palette[8];
        AlphaPalette(a0, a1, palette);
        const std::uint32_t e = kernel(alpha, mask, palette);
        if (e < bestError) {
            bestError = e;
            bestA0 = a0;
            bestA1 = a1;
        }
        return e;
    }

    // Least-squares endpoints for the indices the pair (a0, a1) gives,
    // rounded, while that lowers the error: moves the endpoints inside the
    // range of the texels, where the single steps below take too long to
    // go.  Leaves the best pair reached in (a0, a1).
    void Refit(int& a0, int& a1, bool eightValue, int rounds)
    {
        std::uint32_t current = Try(a0, a1);
        for (int r = 0; r < rounds && current != 0; ++r) {
            std::uint8_t palette[8];
            AlphaPalette(a0, a1, palette);
            const std::uint64_t bits = indexKernel(alpha, palette);
            // Each entry's weight on a0; entries 6 and 7 of the 6-value
            // mode are the fixed 0 and 255 and do not count.
            double s00 = 0, s01 = 0, s11 = 0, sx0 = 0, sx1 = 0;
            for (int i = 0; i < 16; ++i) {
                if (!mask[i])
                    continue;
                const int index = static_cast<int>(bits >> (3 * i) & 7);
                double w;
                if (index == 0)
                    w = 1;
                else if (index == 1)
                    w = 0;
                else if (eightValue)
                    w = (8 - index) / 7.0;
                else if (index <= 5)
                    w = (6 - index) / 5.0;
                else
                    continue;
                const double x = alpha[i];
                s00 += w * w;
                s01 += w * (1 - w);
                s11 += (1 - w) * (1 - w);
                sx0 += w * x;
                sx1 += (1 - w) * x;
            }
            const double det = s00 * s11 - s01 * s01;
            if (!(det > 1e-9))
                break;
            int n0 = static_cast<int>(std::clamp((sx0 * s11 - sx1 * s01) / det, 0.0, 255.0) + 0.5);
            int n1 = static_cast<int>(std::clamp((sx1 * s00 - sx0 * s01) / det, 0.0, 255.0) + 0.5);
            // Keep the mode: the 8-value one needs a0 > a1.
            if (eightValue && n0 <= n1) {
                if (n0 == n1 && n0 < 255)
                    ++n0;
                else if (n0 == n1)
                    --n1;
                else
                    std::swap(n0, n1);
            }
            if (!eightValue && n0 > n1)
                std::swap(n0, n1);
            if (n0 == a0 && n1 == a1)
                break;
            const std::uint32_t e = Try(n0, n1);
            if (e >= current)
                break;
            current = e;
            a0 = n0;
            a1 = n1;
        }
    }

    // Walks each endpoint by single steps while that lowers the error.  The
    // mode is kept: the 8-value mode needs a0 > a1, the 6-value a0 <= a1.
    void Descend(int a0, int a1, bool eightValue, int maxSteps)
    {
        std::uint32_t current = Try(a0, a1);
        for (int step = 0; step < maxSteps && current != 0; ++step) {
            static const int moves[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
            int bestMove = -1;
            std::uint32_t bestMoveError = current;
            for (int m = 0; m < 4; ++m) {
                const int n0 = a0 + moves[m][0], n1 = a1 + moves[m][1];
                if (n0 < 0 || n0 > 255 || n1 < 0 || n1 > 255 || (n0 > n1) != eightValue)
                    continue;
                const std::uint32_t e = Try(n0, n1);
                if (e < bestMoveError) {
                    bestMoveError = e;
                    bestMove = m;
                }
            }
            if (bestMove < 0)
                break;
            a0 += moves[bestMove][0];
            a1 += moves[bestMove][1];
            current = bestMoveError;
        }
    }
};

} // namespace

void EncodeAlphaInterpolated(const std::uint8_t rgba[64], std::uint16_t valid, Quality quality,
                             std::uint8_t block[8])
{
    AlphaSearch search;
    search.kernel = ActiveKernels().alpha;
    search.indexKernel = ActiveKernels().alphaIndices;
    int lo = 255, hi = 0, innerLo = 255, innerHi = 0;
    for (int i = 0; i < 16; ++i) {
        const bool on = valid >> i & 1;
        const int a = rgba[4 * i + 3];
        search.alpha[i] = static_cast<std::uint8_t>(on ? a : 0);
        search.mask[i] = on ? 0xFF : 0;
        if (!on)
            continue;
        lo = std::min(lo, a);
        hi = std::max(hi, a);
        if (a != 0 && a != 255) {
            innerLo = std::min(innerLo, a);
            innerHi = std::max(innerHi, a);
        }
    }

    if (lo >= hi) {
        // One value (or no texel at all): the 6-value mode's first entry.
        search.bestA0 = search.bestA1 = lo > hi ? 0 : lo;
    } else {
        const int steps = quality == Quality::Fast ? 0 : quality == Quality::Normal ? 4 : 64;
        const int rounds = quality == Quality::Fast ? 0 : 4;
        int a0 = hi, a1 = lo;
        search.Refit(a0, a1, true, rounds);
        search.Descend(a0, a1, true, steps);
        if (search.bestError != 0) {
            // The 6-value mode spends its endpoints on the texels between the
            // exact 0 and 255 entries.
            if (innerLo > innerHi) {
                search.Try(0, 0);
            } else {
                a0 = innerLo;
                a1 = innerHi;
                search.Refit(a0, a1, false, rounds);
                search.Descend(a0, a1, false, steps);
            }
        }
        if (quality == Quality::Highest && search.bestError != 0) {
            // A wider look around the extremes for both modes.
            const int a0 = search.bestA0, a1 = search.bestA1;
            for (int d0 = -4; d0 <= 4; ++d0)
                for (int d1 = -4; d1 <= 4; ++d1) {
                    const int n0 = a0 + d0, n1 = a1 + d1;
                    if (n0 >= 0 && n0 <= 255 && n1 >= 0 && n1 <= 255)
                        search.Try(n0, n1);
                }
        }
    }

    std::uint8_t palette[8];
    AlphaPalette(search.bestA0, search.bestA1, palette);
    std::uint64_t bits = search.indexKernel(search.alpha, palette);
    // Texels that do not exist take index 0, whatever their stand-in value.
    for (int i = 0; i < 16; ++i)
        if (!search.mask[i])
            bits &= ~(std::uint64_t{7} << (3 * i));
    block[0] = static_cast<std::uint8_t>(search.bestA0);
    block[1] = static_cast<std::uint8_t>(search.bestA1);
    for (int i = 0; i < 6; ++i)
        block[2 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

} // namespace dxt::detail
