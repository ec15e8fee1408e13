// Binary PPM (P6) and PGM (P5) reader: colour becomes X8R8G8B8, grey L8.
// Samples of more than 8 bits keep their high byte after scaling to 255;
// smaller maximum values are scaled up to 255.
#include "imagefile.h"

#include <algorithm>
#include <cctype>

namespace d3dx::image {

namespace {

// Skips white space and '#' comments, then reads one decimal number.
bool ReadNumber(Bytes data, std::size_t& at, std::uint64_t& value)
{
    for (;;) {
        while (at < data.size() && std::isspace(data[at]))
            ++at;
        if (at < data.size() && data[at] == '#') {
            while (at < data.size() && data[at] != '\n' && data[at] != '\r')
                ++at;
            continue;
        }
        break;
    }
    if (at >= data.size() || !std::isdigit(data[at]))
        return false;
    value = 0;
    while (at < data.size() && std::isdigit(data[at])) {
        value = value * 10 + (data[at++] - '0');
        if (value > 0xFFFFFFFFu)
            return false;
    }
    return true;
}

} // namespace

bool LooksLikePnm(Bytes data)
{
    return data.size() >= 3 && data[0] == 'P' && (data[1] == '5' || data[1] == '6') && std::isspace(data[2]);
}

HRESULT DecodePnm(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_PPM;
    const bool colour = data.size() >= 2 && data[1] == '6';
    std::size_t at = 2;
    std::uint64_t width = 0, height = 0, maxValue = 0;
    if (!ReadNumber(data, at, width) || !ReadNumber(data, at, height) || !ReadNumber(data, at, maxValue))
        return Bad("PNM header is cut short or malformed");
    if (at >= data.size() || !std::isspace(data[at]))
        return Bad("PNM header does not end in white space");
    ++at;
    if (maxValue < 1 || maxValue > 65535)
        return Bad("PNM maximum value %llu is outside 1..65535", static_cast<unsigned long long>(maxValue));
    if (!CheckSides("PNM", static_cast<std::int64_t>(width), static_cast<std::int64_t>(height)))
        return D3DXERR_INVALIDDATA;

    const unsigned sampleBytes = maxValue > 255 ? 2 : 1;
    const unsigned channels = colour ? 3 : 1;
    const std::uint64_t need = width * height * channels * sampleBytes;
    if (need > data.size() - at)
        return Bad("PNM file is cut short: %llu bytes of pixel data missing",
                   static_cast<unsigned long long>(need - (data.size() - at)));

    const D3DFORMAT format = colour ? D3DFMT_X8R8G8B8 : D3DFMT_L8;
    std::vector<BYTE>& pixels = out.AllocateTop(format, static_cast<UINT>(width), static_cast<UINT>(height));
    const BYTE* s = data.data() + at;
    auto sample = [&]() -> BYTE {
        std::uint64_t v = sampleBytes == 2 ? (std::uint64_t{s[0]} << 8) | s[1] : s[0];
        s += sampleBytes;
        v = std::min(v, maxValue);
        return static_cast<BYTE>(maxValue == 255 ? v : (v * 255 + maxValue / 2) / maxValue);
    };
    const std::uint64_t count = width * height;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (colour) {
            const BYTE r = sample(), g = sample(), b = sample();
            PutLe32(&pixels[i * 4], 0xFF000000u | (r << 16) | (g << 8) | b);
        } else {
            pixels[i] = sample();
        }
    }
    return S_OK;
}

} // namespace d3dx::image
