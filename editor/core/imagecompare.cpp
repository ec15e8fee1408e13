#include "editor/core/imagecompare.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace atlasdesk {

namespace {

QImage argb(const QImage& image)
{
    return image.format() == QImage::Format_ARGB32 ? image : image.convertToFormat(QImage::Format_ARGB32);
}

double psnr(std::uint64_t squaredError, std::uint64_t samples)
{
    if (squaredError == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = double(squaredError) / double(samples);
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

int sq(int v) { return v * v; }

} // namespace

LevelQuality compareLevels(const QImage& compressed, const QImage& source)
{
    LevelQuality q;
    if (compressed.isNull() || compressed.size() != source.size())
        return q;
    const QImage a = argb(compressed), b = argb(source);
    std::uint64_t colour = 0, alpha = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        std::uint64_t rowColour = 0, rowAlpha = 0;
        for (int x = 0; x < a.width(); ++x) {
            rowColour += sq(qRed(pa[x]) - qRed(pb[x])) + sq(qGreen(pa[x]) - qGreen(pb[x])) +
                         sq(qBlue(pa[x]) - qBlue(pb[x]));
            rowAlpha += sq(qAlpha(pa[x]) - qAlpha(pb[x]));
        }
        colour += rowColour;
        alpha += rowAlpha;
    }
    const std::uint64_t texels = std::uint64_t(a.width()) * std::uint64_t(a.height());
    q.compared = true;
    q.rgb = psnr(colour, 3 * texels);
    q.alpha = psnr(alpha, texels);
    return q;
}

QString psnrText(double db)
{
    if (std::isinf(db))
        return QStringLiteral("inf");
    return QStringLiteral("%1 dB").arg(db, 0, 'f', 2);
}

QImage viewPicture(const QImage& level, AlphaView view)
{
    if (level.isNull())
        return {};
    QImage out = argb(level).copy();
    for (int y = 0; y < out.height(); ++y) {
        auto* p = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int a = qAlpha(p[x]);
            switch (view) {
            case AlphaView::Blended:
                p[x] = qPremultiply(p[x]);
                break;
            case AlphaView::Opaque:
                p[x] |= 0xFF000000u;
                break;
            case AlphaView::Grey:
                p[x] = qRgb(a, a, a);
                break;
            }
        }
    }
    // Every texel is premultiplied now (opaque ones are their own).
    out.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    return out;
}

QImage differencePicture(const QImage& first, const QImage& second, int gain, AlphaView view)
{
    if (first.isNull() || first.size() != second.size())
        return {};
    const QImage a = argb(first), b = argb(second);
    QImage out(a.size(), QImage::Format_RGB32);
    if (out.isNull())
        return {};
    const auto amplify = [gain](int u, int v) { return std::min(255, std::abs(u - v) * gain); };
    for (int y = 0; y < a.height(); ++y) {
        const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        auto* po = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            if (view == AlphaView::Grey) {
                const int d = amplify(qAlpha(pa[x]), qAlpha(pb[x]));
                po[x] = qRgb(d, d, d);
            } else {
                po[x] = qRgb(amplify(qRed(pa[x]), qRed(pb[x])), amplify(qGreen(pa[x]), qGreen(pb[x])),
                             amplify(qBlue(pa[x]), qBlue(pb[x])));
            }
        }
    }
    return out;
}

} // namespace atlasdesk
