// PNM reader, plain (text) and binary: PPM colour becomes X8R8G8B8, PGM grey
// L8, and PBM bitmaps L8 with 0 for a set bit (black) and 255 for a clear
// one.  Samples of more than 8 bits keep their high byte after scaling to
// 255; smaller maximum values are scaled up to 255, and larger samples than
// the maximum are taken as the maximum.
#include "platform/d3dx8/image/imagefile.h"

#include <algorithm>
#include <cctype>

namespace d3dx::image {

namespace {

// What the digit after the 'P' announces.
struct PnmType {
    BYTE digit;
    bool plain;         // decimal text, not bytes
    bool bitmap;        // one bit a pixel; no maximum value in the header
    unsigned channels;
};
constexpr PnmType kTypes[] = {
    {'1', true, true, 1},  {'2', true, false, 1},  {'3', true, false, 3},
    {'4', false, true, 1}, {'5', false, false, 1}, {'6', false, false, 3},
};

const PnmType* TypeOf(Bytes data)
{
    if (data.size() < 3 || data[0] != 'P' || !std::isspace(data[2]))
        return nullptr;
    for (const PnmType& t : kTypes)
        if (data[1] == t.digit)
            return &t;
    return nullptr;
}

// Skips white space and '#' comments, which run to the end of their line.
void SkipSpace(Bytes data, std::size_t& at)
{
    for (;;) {
        while (at < data.size() && std::isspace(data[at]))
            ++at;
        if (at >= data.size() || data[at] != '#')
            return;
        while (at < data.size() && data[at] != '\n' && data[at] != '\r')
            ++at;
    }
}

// A decimal number that fits in 32 bits, at `at`.
bool ReadDigits(Bytes data, std::size_t& at, std::uint64_t& value)
{
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

bool ReadNumber(Bytes data, std::size_t& at, std::uint64_t& value)
{
    SkipSpace(data, at);
    return ReadDigits(data, at, value);
}

// One sample of a plain raster at `at` (not at the end): a number, or for a
// bitmap a single '0' or '1', which need no white space between them.
bool ReadPlainSample(Bytes data, std::size_t& at, bool bitmap, std::uint64_t& value)
{
    if (!bitmap)
        return ReadDigits(data, at, value);
    if (data[at] != '0' && data[at] != '1')
        return false;
    value = data[at++] - '0';
    return true;
}

} // namespace

// A TGA never starts like this: its second byte, the colour-map type, is 0
// or 1, never a digit, so DecodeImage may try PNM first.
bool LooksLikePnm(Bytes data) { return TypeOf(data) != nullptr; }

HRESULT DecodePnm(Bytes data, Picture& out)
{
    out.fileFormat = D3DXIFF_PPM;
    const PnmType* type = TypeOf(data);
    if (!type)
        return Bad("not a PNM file");
    std::size_t at = 2;
    std::uint64_t width = 0, height = 0, maxValue = 1;
    if (!ReadNumber(data, at, width) || !ReadNumber(data, at, height) ||
        (!type->bitmap && !ReadNumber(data, at, maxValue)))
        return Bad("PNM header is cut short or malformed");
    if (at >= data.size() || !std::isspace(data[at]))
        return Bad("PNM header does not end in white space");
    ++at;
    if (maxValue < 1 || maxValue > 65535)
        return Bad("PNM maximum value %llu is outside 1..65535", static_cast<unsigned long long>(maxValue));
    if (!CheckSides("PNM", static_cast<std::int64_t>(width), static_cast<std::int64_t>(height)))
        return D3DXERR_INVALIDDATA;

    const std::uint64_t samples = width * height * type->channels;
    const std::size_t left = data.size() - at;
    const unsigned sampleBytes = maxValue > 255 ? 2 : 1;
    const std::uint64_t rowBytes = (width + 7) / 8;  // of a binary bitmap
    if (type->plain) {
        // Every sample takes a character, and numbers one more to part them.
        const std::uint64_t least = type->bitmap ? samples : 2 * samples - 1;
        if (least > left)
            return Bad("PNM file is cut short: %llu samples cannot fit in %zu bytes",
                       static_cast<unsigned long long>(samples), left);
    } else {
        const std::uint64_t need = type->bitmap ? rowBytes * height : samples * sampleBytes;
        if (need > left)
            return Bad("PNM file is cut short: %llu bytes of pixel data missing",
                       static_cast<unsigned long long>(need - left));
    }

    std::vector<BYTE>& pixels = out.AllocateTop(type->channels == 3 ? D3DFMT_X8R8G8B8 : D3DFMT_L8,
                                                static_cast<UINT>(width), static_cast<UINT>(height));
    auto store = [&](std::uint64_t i, std::uint64_t v) {
        v = std::min(v, maxValue);
        const BYTE b = type->bitmap ? (v ? 0 : 255)
                                    : maxValue == 255 ? static_cast<BYTE>(v) : ScaleTo8(v, maxValue);
        if (type->channels == 1) {
            pixels[i] = b;
        } else {
            BYTE* p = &pixels[i / 3 * 4];  // R, G, B samples to B, G, R, X bytes
            p[2 - i % 3] = b;
            p[3] = 0xFF;
        }
    };
    const BYTE* s = data.data() + at;
    if (type->plain) {
        for (std::uint64_t i = 0; i < samples; ++i) {
            SkipSpace(data, at);
            std::uint64_t v = 0;
            if (at >= data.size())
                return Bad("PNM file is cut short: %llu of %llu samples missing",
                           static_cast<unsigned long long>(samples - i), static_cast<unsigned long long>(samples));
            if (!ReadPlainSample(data, at, type->bitmap, v))
                return Bad("PNM text sample %llu is malformed", static_cast<unsigned long long>(i + 1));
            store(i, v);
        }
    } else if (type->bitmap) {
        for (std::uint64_t y = 0; y < height; ++y)
            for (std::uint64_t x = 0; x < width; ++x)
                store(y * width + x, (s[y * rowBytes + x / 8] >> (7 - x % 8)) & 1);
    } else {
        for (std::uint64_t i = 0; i < samples; ++i, s += sampleBytes)
            store(i, sampleBytes == 2 ? (std::uint64_t{s[0]} << 8) | s[1] : s[0]);
    }
    return S_OK;
}

} // namespace d3dx::image
