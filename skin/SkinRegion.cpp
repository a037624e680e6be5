#include "skin/SkinRegion.h"

#include <QImage>

#include <algorithm>

std::vector<RowRect> BuildSkinRegion(int width, int height, const PixelSource& pixel) {
    std::vector<RowRect> rects;
    if (width <= 0 || height <= 0)
        return rects;
    const std::uint32_t key = pixel(0, 0) & 0xFFFFFFu;
    auto isKey = [&](int x, int y) { return (pixel(x, y) & 0xFFFFFFu) == key; };
    for (int y = 0; y < height; ++y) {
        int x = 0;
        while (true) {
            while (x < width && isKey(x, y))
                ++x;
            const int start = x;
            while (x < width && !isKey(x, y))
                ++x;
            rects.push_back({start, y, x, y + 1});
            if (x >= width)
                break;
        }
    }
    return rects;
}

std::vector<RowRect> BuildSkinRegion(const QImage& image) {
    if (image.isNull())
        return {};
    const QImage rgb = image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32
                           ? image
                           : image.convertToFormat(QImage::Format_RGB32);
    return BuildSkinRegion(rgb.width(), rgb.height(), [&rgb](int x, int y) {
        return static_cast<std::uint32_t>(reinterpret_cast<const QRgb*>(rgb.constScanLine(y))[x]);
    });
}

QRegion RegionFromRowRects(const std::vector<RowRect>& rects) {
    // QRegion::setRects takes y-x sorted bands of equal height without overlaps; a scan in row
    // order gives exactly that once identical neighbouring rows are folded into one band.
    std::vector<QRect> out;
    out.reserve(rects.size());
    std::vector<std::pair<int, int>> row, previous;
    std::size_t bandStart = 0;
    int previousY = -1;
    bool previousValid = false;

    auto flushRow = [&](int y) {
        const bool continues = previousValid && y == previousY + 1 && !row.empty() && row == previous;
        if (continues) {
            for (std::size_t i = bandStart; i < out.size(); ++i)
                out[i].setBottom(y);
        } else {
            bandStart = out.size();
            for (auto [l, r] : row)
                out.emplace_back(l, y, r - l, 1);
        }
        previous.swap(row);
        previousY = y;
        previousValid = true;
        row.clear();
    };

    int currentY = 0;
    bool inRow = false;
    for (const RowRect& r : rects) {
        if (inRow && r.top != currentY)
            flushRow(currentY);
        currentY = r.top;
        inRow = true;
        if (!r.isEmpty())
            row.emplace_back(r.left, r.right);
    }
    if (inRow)
        flushRow(currentY);

    QRegion region;
    region.setRects(out.data(), static_cast<int>(out.size()));
    return region;
}

QPoint CentredPosition(int screenW, int screenH, int w, int h) {
    return {screenW / 2 - w / 2, screenH / 2 - h / 2};
}
