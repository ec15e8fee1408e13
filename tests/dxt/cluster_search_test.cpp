// The split searches of the cluster fit: each keeps to its box, the full
// search finds the best split, equal splits resolve alike on every path,
// and the rough and candidate rankings pick what they promise.
#include "platform/d3dx8/dxt/dxt.h"
#include "platform/d3dx8/dxt/dxt_internal.h"
#include "tests/dxt/dxt_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

dxt::detail::SplitScore Score(bool rough)
{
    return rough ? dxt::detail::SplitScore::Rough : dxt::detail::SplitScore::Rounded;
}

TEST(ClusterSearch, SplitSearchKeepsToItsBoxAndTheFullSearchIsBest)
{
    std::mt19937 rng(13);
    for (int n = 0; n < 500; ++n) {
        dxt::detail::ClusterInput in;
        in.n = 1 + static_cast<int>(rng() % 16);
        for (int ch = 0; ch < 3; ++ch) {
            // Sorted texels along a line with noise, as the encoder feeds them.
            float sum = 0;
            in.prefix[ch][0] = 0;
            for (int k = 0; k < in.n; ++k)
                in.prefix[ch][k + 1] = sum += static_cast<float>(std::min<int>(255, 10 * k + rng() % 40));
            for (int k = in.n + 1; k < 24; ++k)
                in.prefix[ch][k] = sum;
            in.weight[ch] = 1;
        }
        for (bool four : {true, false}) {
            const int all[3] = {0, 0, 0}, top[3] = {in.n, in.n, in.n};
            const auto full = dxt::detail::SearchSplits(in, four, all, top);
            const int c = static_cast<int>(rng() % (in.n + 1));
            const int lo[3] = {c - 2, c - 1, c}, hi[3] = {c + 1, c + 2, c + 3};
            const auto boxed = dxt::detail::SearchSplits(in, four, lo, hi);
            if (in.n < 2)
                continue;
            ASSERT_LT(full.error, 1e38f);
            ASSERT_LE(full.split[0], full.split[1]);
            ASSERT_LE(full.split[1], full.split[2]);
            ASSERT_LE(full.split[2], in.n);
            if (!four) {
                ASSERT_EQ(full.split[1], full.split[2]);
            }
            if (boxed.error < 1e38f) {
                ASSERT_LE(full.error, boxed.error);
                for (int b = 0; b < (four ? 3 : 2); ++b) {
                    ASSERT_GE(boxed.split[b], lo[b]);
                    ASSERT_LE(boxed.split[b], hi[b]);
                }
            }
        }
    }
}

// Among splits of equal error the search takes the first in (i, j, k)
// order, whatever the vector width and wherever the box puts them in the
// lanes.  Texels from a few values and boxes of many equal splits make
// ties common; each split of the box scored alone is the reference.
TEST(ClusterSearch, SplitSearchTakesTheFirstOfEqualSplitsOnEveryPath)
{
    const std::vector<dxt::Path> paths = dxt_test::AvailablePaths();
    const dxt_test::KeepPath keep;
    std::mt19937 rng(41);
    int tiedCases = 0;
    for (int n = 0; n < 400; ++n) {
        dxt::detail::ClusterInput in;
        in.n = n % 2 ? 16 : 2 + static_cast<int>(rng() % 15);
        const int levels = 1 + n % 3;  // distinct values per channel
        for (int ch = 0; ch < 3; ++ch) {
            float sum = 0;
            in.prefix[ch][0] = 0;
            for (int k = 0; k < in.n; ++k)
                in.prefix[ch][k + 1] = sum += static_cast<float>(255 * (static_cast<int>(rng()) % levels) / 2);
            for (int k = in.n + 1; k < 24; ++k)
                in.prefix[ch][k] = sum;
            in.weight[ch] = 1;
        }
        float sum = 0;
        in.axis[0] = 0;
        for (int k = 0; k < in.n; ++k)
            in.axis[k + 1] = sum += 1.5f * static_cast<float>(static_cast<int>(rng() % levels) - 1);
        for (int k = in.n + 1; k < 24; ++k)
            in.axis[k] = sum;
        for (bool four : {true, false})
            for (bool rough : {false, true}) {
                int lo[3], hi[3];
                for (int b = 0; b < 3; ++b) {
                    lo[b] = static_cast<int>(rng() % (in.n + 1)) - 2;
                    hi[b] = lo[b] + 2 + static_cast<int>(rng() % 9);
                }
                for (dxt::Path p : paths) {
                    dxt::SetPath(p);
                    const auto found = dxt::detail::SearchSplits(in, four, lo, hi, Score(rough));
                    dxt::detail::ClusterResult first;
                    first.error = 3.0e38f;
                    int equal = 0;
                    int s[3];
                    for (s[0] = std::max(lo[0], 0); s[0] <= std::min(hi[0], in.n); ++s[0])
                        for (s[1] = std::max(lo[1], s[0]); s[1] <= std::min(hi[1], in.n); ++s[1])
                            for (s[2] = four ? std::max(lo[2], s[1]) : s[1];
                                 s[2] <= (four ? std::min(hi[2], in.n) : s[1]); ++s[2]) {
                                const auto one = dxt::detail::SearchSplits(in, four, s, s, Score(rough));
                                equal += one.error < 1e38f && one.error == first.error;
                                if (one.error < first.error) {
                                    first = one;
                                    equal = 0;
                                }
                            }
                    tiedCases += equal > 0;
                    ASSERT_EQ(found.error, first.error) << int(p) << " case " << n;
                    if (!(first.error < 1e38f))
                        continue;
                    for (int b = 0; b < 3; ++b)
                        ASSERT_EQ(found.split[b], first.split[b]) << int(p) << " case " << n << " four " << four;
                    if (!rough) {
                        ASSERT_EQ(found.ends[0], first.ends[0]) << int(p) << " case " << n;
                        ASSERT_EQ(found.ends[1], first.ends[1]) << int(p) << " case " << n;
                    }
                }
            }
    }
    EXPECT_GT(tiedCases, 100);
}

// The candidate search: for each last boundary of the box, the roughly
// best split (the first among equals), then the lowest rounded score among
// those (the first split among equals), on every path.  Each split of the
// box scored alone is the reference.  Blocks with texels that do not count
// are scored as Rounded over the whole box.
TEST(ClusterSearch, CandidateSearchScoresTheRoughlyBestSplitOfEachLastBoundary)
{
    using dxt::detail::SplitScore;
    const std::vector<dxt::Path> paths = dxt_test::AvailablePaths();
    const dxt_test::KeepPath keep;
    std::mt19937 rng(53);
    int differsFromRoughWinner = 0;
    for (int n = 0; n < 300; ++n) {
        dxt::detail::ClusterInput in;
        in.n = n % 5 ? 16 : 2 + static_cast<int>(rng() % 14);
        // Sorted texels along a line with noise, as the encoder feeds them,
        // and their centred projections; a few cases from two levels, for ties.
        const bool twoLevels = n % 7 == 0;
        std::vector<float> x[3], t(in.n);
        for (int ch = 0; ch < 3; ++ch)
            for (int k = 0; k < in.n; ++k)
                x[ch].push_back(twoLevels ? 255.0f * static_cast<float>(k >= in.n / 2)
                                       : static_cast<float>(std::min<int>(255, 12 * k + rng() % 50)));
        float mean = 0;
        for (int k = 0; k < in.n; ++k)
            mean += t[k] = (x[0][k] + x[1][k] + x[2][k]) / 3;
        mean /= static_cast<float>(in.n);
        for (int ch = 0; ch < 4; ++ch) {
            float* p = ch < 3 ? in.prefix[ch] : in.axis;
            float sum = 0;
            p[0] = 0;
            for (int k = 0; k < in.n; ++k)
                p[k + 1] = sum += ch < 3 ? x[ch][k] : t[k] - mean;
            for (int k = in.n + 1; k < 24; ++k)
                p[k] = sum;
            if (ch < 3)
                in.weight[ch] = 1;
        }
        int lo[3], hi[3];
        const int c = static_cast<int>(rng() % 17);
        // Mostly boxes as narrow as the encoder's, whose boundaries the
        // search reads from windows of the prefix sums; every third one
        // wider, which it reads lane by lane.
        const int wider = n % 3 ? 0 : 4;
        lo[0] = c / 3 - 1, hi[0] = lo[0] + static_cast<int>(rng() % (8 + wider));
        lo[1] = c / 2 - 4, hi[1] = lo[1] + static_cast<int>(rng() % (9 + wider));
        lo[2] = c - 6, hi[2] = lo[2] + static_cast<int>(rng() % 12);

        dxt::detail::ClusterResult expected;
        expected.error = 3.0e38f;
        if (in.n == 16) {
            for (int k = std::max(lo[2], 0); k <= std::min(hi[2], in.n); ++k) {
                dxt::detail::ClusterResult roughBest;
                roughBest.error = 3.0e38f;
                int s[3] = {0, 0, k};
                for (s[0] = std::max(lo[0], 0); s[0] <= std::min(hi[0], k); ++s[0])
                    for (s[1] = std::max(lo[1], s[0]); s[1] <= std::min(hi[1], k); ++s[1]) {
                        const auto one = dxt::detail::SearchSplits(in, true, s, s, SplitScore::Rough);
                        if (one.error < roughBest.error)
                            roughBest = one;
                    }
                if (!(roughBest.error < 1e38f))
                    continue;
                const auto rounded = dxt::detail::SearchSplits(in, true, roughBest.split, roughBest.split);
                auto key = [](const int* v) { return v[0] << 16 | v[1] << 8 | v[2]; };
                if (rounded.error < expected.error ||
                    (rounded.error == expected.error && key(rounded.split) < key(expected.split)))
                    expected = rounded;
            }
            const auto roughWinner = dxt::detail::SearchSplits(in, true, lo, hi, SplitScore::Rough);
            differsFromRoughWinner += expected.error < 1e38f && (roughWinner.split[0] != expected.split[0] ||
                                                                 roughWinner.split[1] != expected.split[1] ||
                                                                 roughWinner.split[2] != expected.split[2]);
        } else {
            expected = dxt::detail::SearchSplits(in, true, lo, hi, SplitScore::Rounded);
        }
        for (dxt::Path p : paths) {
            dxt::SetPath(p);
            const auto found = dxt::detail::SearchSplits(in, true, lo, hi, SplitScore::Candidates);
            ASSERT_EQ(found.error, expected.error) << int(p) << " case " << n;
            if (!(expected.error < 1e38f))
                continue;
            for (int b = 0; b < 3; ++b)
                ASSERT_EQ(found.split[b], expected.split[b]) << int(p) << " case " << n;
            ASSERT_EQ(found.ends[0], expected.ends[0]) << int(p) << " case " << n;
            ASSERT_EQ(found.ends[1], expected.ends[1]) << int(p) << " case " << n;
        }
    }
    // The rounded score often prefers another split than the rough one.
    EXPECT_GT(differsFromRoughWinner, 5);
}

// The least-squares error of a split with unrounded endpoints fitted to
// sorted values, in double precision from the values themselves: an
// independent check of the rough ranking's closed form.
double UnroundedSplitError(const float* prefix, int n, bool four, const int split[3])
{
    double a2 = 0, b2 = 0, ab = 0, ax = 0, bx = 0, xx = 0;
    for (int t = 0; t < n; ++t) {
        const double x = prefix[t + 1] - prefix[t];
        double w;  // weight on the first endpoint
        if (four)
            w = t < split[0] ? 1 : t < split[1] ? 2.0 / 3 : t < split[2] ? 1.0 / 3 : 0;
        else
            w = t < split[0] ? 1 : t < split[1] ? 0.5 : 0;
        a2 += w * w;
        b2 += (1 - w) * (1 - w);
        ab += w * (1 - w);
        ax += w * x;
        bx += (1 - w) * x;
        xx += x * x;
    }
    const double det = a2 * b2 - ab * ab;
    if (det < 1e-3)
        return 1e300;
    const double a = (ax * b2 - bx * ab) / det, b = (bx * a2 - ax * ab) / det;
    return xx - a * ax - b * bx;
}

TEST(ClusterSearch, RoughSplitRankingFindsTheBestUnroundedFitAlongTheAxis)
{
    // The rough mode fits the texels' projections onto the axis.  Half the
    // cases are whole blocks of 16 texels, which the search scores from its
    // table of per-split coefficients; the rest use the general formula.
    // Projections are centred on the mean as the encoder makes them.
    std::mt19937 rng(29);
    for (int n = 0; n < 600; ++n) {
        dxt::detail::ClusterInput in;
        in.n = n % 2 ? 16 : 2 + static_cast<int>(rng() % 15);
        std::vector<float> t(in.n);
        float mean = 0;
        for (int k = 0; k < in.n; ++k)
            mean += t[k] = static_cast<float>(std::min<int>(400, 20 * k + rng() % 90));
        mean /= static_cast<float>(in.n);
        std::sort(t.begin(), t.end());
        float sum = 0;
        in.axis[0] = 0;
        for (int k = 0; k < in.n; ++k)
            in.axis[k + 1] = sum += t[k] - mean;
        for (int k = in.n + 1; k < 24; ++k)
            in.axis[k] = sum;
        for (bool four : {true, false}) {
            const int all[3] = {0, 0, 0}, top[3] = {in.n, in.n, in.n};
            const auto rough = dxt::detail::SearchSplits(in, four, all, top, dxt::detail::SplitScore::Rough);
            ASSERT_LT(rough.error, 1e38f);
            double best = 1e300;
            int s[3];
            for (s[0] = 0; s[0] <= in.n; ++s[0])
                for (s[1] = s[0]; s[1] <= in.n; ++s[1])
                    for (s[2] = s[1]; s[2] <= (four ? in.n : s[1]); ++s[2])
                        best = std::min(best, UnroundedSplitError(in.axis, in.n, four, s));
            const double picked = UnroundedSplitError(in.axis, in.n, four, rough.split);
            // Single precision in the search: near ties may go either way.
            EXPECT_LE(picked, best + 1e-3 * (best + 16 * 255)) << "case " << n << " four " << four;
        }
    }
}

} // namespace
