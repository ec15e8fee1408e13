// A compressed level against the level it was made from: its PSNR, and the
// pictures the preview shows of both (alpha views, amplified differences).
// Levels are ARGB32 with straight alpha, as decodeDds and loadSourceLevels
// give them.
#pragma once

#include <QImage>
#include <QString>

namespace atlasdesk {

struct LevelQuality {
    bool compared = false;  // false when a level is missing or the sizes differ
    double rgb = 0;         // dB over R, G and B together; +inf when equal
    double alpha = 0;       // dB over A
};

// PSNR = 10 log10(255^2 / MSE), the mean taken over every sample of the
// channels concerned.
LevelQuality compareLevels(const QImage& compressed, const QImage& source);

// "41.27 dB", "inf" for identical channels.
QString psnrText(double db);

enum class AlphaView {
    Blended,  // colour over a checkerboard: the window paints the board
    Opaque,   // colour with alpha ignored
    Grey,     // alpha as grey
};

// The level as `view` shows it, premultiplied for painting.
QImage viewPicture(const QImage& level, AlphaView view);

// |a - b| per channel times `gain`, clamped to 255, as an opaque picture:
// the colour channels, or for AlphaView::Grey the alpha difference as grey.
// Null when the sizes differ.
QImage differencePicture(const QImage& a, const QImage& b, int gain, AlphaView view);

} // namespace atlasdesk
