// Speed of surface loading on the paths the converter takes most, and the
// peak memory of one large conversion.
//
//   bench_pixel                      Google Benchmark timings
//   bench_pixel --peak <side> <fmt>  converts a side x side A8R8G8B8 picture
//                                    to DXT1 or DXT5 (or back with "back")
//                                    and prints the peak resident size
#include "platform/d3d8/comptr.h"
#include "platform/d3dx8/d3dx8.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>

namespace {

struct Device {
    Device()
    {
        d3d.reset(Direct3DCreate8(D3D_SDK_VERSION));
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        d3d->CreateDevice(0, D3DDEVTYPE_REF, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp, device.put());
    }
    ComPtr<IDirect3DTexture8> Make(D3DFORMAT f, UINT side, UINT levels = 1)
    {
        ComPtr<IDirect3DTexture8> t;
        device->CreateTexture(side, side, levels, 0, f, D3DPOOL_MANAGED, t.put());
        return t;
    }
    ComPtr<IDirect3D8> d3d;
    ComPtr<IDirect3DDevice8> device;
};

Device& Shared()
{
    static Device d;
    return d;
}

// A picture with gradients, edges and noise, generated row by row.
void Fill(IDirect3DTexture8* t, UINT side)
{
    D3DLOCKED_RECT locked{};
    t->LockRect(0, &locked, nullptr, 0);
    std::uint32_t noise = 12345;
    for (UINT y = 0; y < side; ++y) {
        auto* row = reinterpret_cast<std::uint8_t*>(locked.pBits) + std::size_t(y) * locked.Pitch;
        for (UINT x = 0; x < side; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const std::uint8_t n = static_cast<std::uint8_t>(noise >> 28);
            row[4 * x + 0] = static_cast<std::uint8_t>((x * 255 / side + n) & 0xFF);
            row[4 * x + 1] = static_cast<std::uint8_t>(((x ^ y) & 64) ? 200 : 40);
            row[4 * x + 2] = static_cast<std::uint8_t>(y * 255 / side);
            row[4 * x + 3] = static_cast<std::uint8_t>(128 + ((x + y) & 127));
        }
    }
    t->UnlockRect(0);
}

ComPtr<IDirect3DSurface8> Level0(IDirect3DTexture8* t)
{
    ComPtr<IDirect3DSurface8> s;
    t->GetSurfaceLevel(0, s.put());
    return s;
}

void Convert(benchmark::State& state, D3DFORMAT from, D3DFORMAT to)
{
    const UINT side = static_cast<UINT>(state.range(0));
    ComPtr<IDirect3DTexture8> argb = Shared().Make(D3DFMT_A8R8G8B8, side);
    Fill(argb.get(), side);
    ComPtr<IDirect3DTexture8> src = argb;
    if (from != D3DFMT_A8R8G8B8) {
        src = Shared().Make(from, side);
        D3DXLoadSurfaceFromSurface(Level0(src.get()).get(), nullptr, nullptr, Level0(argb.get()).get(), nullptr,
                                   nullptr, D3DX_FILTER_NONE, 0);
    }
    ComPtr<IDirect3DTexture8> dst = Shared().Make(to, side);
    for (auto _ : state) {
        HRESULT hr = D3DXLoadSurfaceFromSurface(Level0(dst.get()).get(), nullptr, nullptr, Level0(src.get()).get(),
                                                nullptr, nullptr, D3DX_FILTER_TRIANGLE, 0);
        benchmark::DoNotOptimize(hr);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(side) * side);
}

void BoxChain(benchmark::State& state, D3DFORMAT format)
{
    const UINT side = static_cast<UINT>(state.range(0));
    ComPtr<IDirect3DTexture8> argb = Shared().Make(D3DFMT_A8R8G8B8, side);
    Fill(argb.get(), side);
    ComPtr<IDirect3DTexture8> t = Shared().Make(format, side, 0);
    D3DXLoadSurfaceFromSurface(Level0(t.get()).get(), nullptr, nullptr, Level0(argb.get()).get(), nullptr, nullptr,
                               D3DX_FILTER_NONE, 0);
    for (auto _ : state) {
        HRESULT hr = D3DXFilterTexture(t.get(), nullptr, 0, D3DX_FILTER_BOX);
        benchmark::DoNotOptimize(hr);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(side) * side);
}

BENCHMARK_CAPTURE(Convert, A8R8G8B8_to_DXT1, D3DFMT_A8R8G8B8, D3DFMT_DXT1)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, A8R8G8B8_to_DXT5, D3DFMT_A8R8G8B8, D3DFMT_DXT5)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, R8G8B8_to_DXT1, D3DFMT_R8G8B8, D3DFMT_DXT1)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, P8_to_DXT1, D3DFMT_P8, D3DFMT_DXT1)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, DXT5_to_A8R8G8B8, D3DFMT_DXT5, D3DFMT_A8R8G8B8)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, DXT1_to_A8R8G8B8, D3DFMT_DXT1, D3DFMT_A8R8G8B8)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, A8R8G8B8_to_R5G6B5, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Convert, A2B10G10R10_to_A8R8G8B8, D3DFMT_A2B10G10R10, D3DFMT_A8R8G8B8)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BoxChain, A8R8G8B8, D3DFMT_A8R8G8B8)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BoxChain, DXT5, D3DFMT_DXT5)->Arg(1024)->Unit(benchmark::kMillisecond);

long PeakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Peak(UINT side, const std::string& mode)
{
    const bool back = mode == "back";
    const D3DFORMAT block = mode == "DXT1" ? D3DFMT_DXT1 : D3DFMT_DXT5;
    ComPtr<IDirect3DTexture8> argb = Shared().Make(D3DFMT_A8R8G8B8, side);
    ComPtr<IDirect3DTexture8> dxt = Shared().Make(block, side);
    if (!argb || !dxt) {
        std::fprintf(stderr, "cannot create %ux%u textures\n", side, side);
        return 1;
    }
    Fill(argb.get(), side);
    if (back)
        D3DXLoadSurfaceFromSurface(Level0(dxt.get()).get(), nullptr, nullptr, Level0(argb.get()).get(), nullptr,
                                   nullptr, D3DX_FILTER_NONE, 0);
    const long before = PeakKiB();
    HRESULT hr = back ? D3DXLoadSurfaceFromSurface(Level0(argb.get()).get(), nullptr, nullptr, Level0(dxt.get()).get(),
                                                   nullptr, nullptr, D3DX_FILTER_NONE, 0)
                      : D3DXLoadSurfaceFromSurface(Level0(dxt.get()).get(), nullptr, nullptr, Level0(argb.get()).get(),
                                                   nullptr, nullptr, D3DX_FILTER_NONE, 0);
    const long after = PeakKiB();
    const double picture = double(side) * side * 4 / 1024;
    std::printf("%ux%u %s: hr=%d, peak before %ld KiB, after %ld KiB (picture %.0f KiB, growth %.3f of it)\n", side,
                side, back ? "DXT5 -> A8R8G8B8" : (std::string("A8R8G8B8 -> ") + mode).c_str(), hr, before, after,
                picture, (after - before) / picture);
    return FAILED(hr);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--peak") == 0)
        return Peak(static_cast<UINT>(std::stoul(argv[2])), argv[3]);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
