#include "controls/BitmapRegion.h"

#include <vector>

namespace melvora {
namespace {

struct Run {
    int x0;
    int x1; // one past the last pixel
    bool operator==(const Run &) const = default;
};

bool isTransparent(QRgb pixel) {
    return qAlpha(pixel) == 0 || (qRed(pixel) == 255 && qGreen(pixel) == 255 && qBlue(pixel) == 255);
}

void collectRuns(const QRgb *row, int width, std::vector<Run> &runs) {
    runs.clear();
    int x = 0;
    while (x < width) {
        while (x < width && isTransparent(row[x]))
            ++x;
        const int x0 = x;
        while (x < width && !isTransparent(row[x]))
            ++x;
        if (x > x0)
            runs.push_back({x0, x});
    }
}

} // namespace

std::optional<QRegion> BuildBitmapRegion(const QImage &bitmap) {
    if (bitmap.isNull())
        return std::nullopt;
    const QImage image = bitmap.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return std::nullopt;

    // Rows with the same runs as the row above extend its band downwards, so
    // the rectangles come out in the banded, non-abutting order that
    // QRegion::setRects needs and a plain shape stays a handful of rectangles.
    std::vector<QRect> rects;
    std::vector<Run> previous;
    std::vector<Run> current;
    std::size_t bandStart = 0;
    int bandBottom = -1; // last row of the current band
    for (int y = 0; y < image.height(); ++y) {
        collectRuns(reinterpret_cast<const QRgb *>(image.constScanLine(y)), image.width(), current);
        if (current.empty()) {
            previous.clear();
            continue;
        }
        if (!previous.empty() && current == previous && bandBottom == y - 1) {
            for (std::size_t i = bandStart; i < rects.size(); ++i)
                rects[i].setBottom(y);
        } else {
            bandStart = rects.size();
            for (const Run &run : current)
                rects.emplace_back(run.x0, y, run.x1 - run.x0, 1);
        }
        bandBottom = y;
        previous.swap(current);
    }

    QRegion region;
    if (!rects.empty())
        region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

} // namespace melvora
