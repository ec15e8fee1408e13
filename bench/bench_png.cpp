// PNG reading: the direct reader of plain pictures against libpng, on
// generated 1024 x 1024 terrain pictures (RGB, and RGBA with leaves cut out).
#include "platform/d3dx8/image/png_read.h"
#include "tools/samplegen.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

const std::vector<std::uint8_t>& Picture(bool alpha)
{
    static const std::vector<std::uint8_t> rgb =
        samplegen::WritePng(samplegen::MakeTerrain(samplegen::Terrain::Rock, 1024, 1024, 7), samplegen::PngKind::Rgb);
    static const std::vector<std::uint8_t> rgba =
        samplegen::WritePng(samplegen::MakeFoliage(1024, 1024, 7), samplegen::PngKind::Rgba);
    return alpha ? rgba : rgb;
}

void Read(benchmark::State& state, bool plain)
{
    const auto& file = Picture(state.range(0) != 0);
    const d3dx::image::Bytes bytes(file.data(), file.size());
    for (auto _ : state) {
        d3dx::image::Picture picture;
        const bool ok = plain ? d3dx::image::DecodePlainPng(bytes, picture)
                              : SUCCEEDED(d3dx::image::DecodePngWithLibpng(bytes, picture));
        if (!ok)
            state.SkipWithError("not read");
        benchmark::DoNotOptimize(picture.levels);
    }
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}

void BM_PngPlain(benchmark::State& state) { Read(state, true); }
void BM_PngLibpng(benchmark::State& state) { Read(state, false); }

} // namespace

BENCHMARK(BM_PngPlain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngLibpng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
