// The outline of a skin: which pixels of a skin bitmap belong to the window. Pixels of the key
// colour (the colour of the top-left pixel) are cut away; every other pixel stays.
#pragma once

#include <QPoint>
#include <QRegion>

#include <cstdint>
#include <functional>
#include <vector>

class QImage;

// One horizontal run of a row, right and bottom exclusive; bottom is always top + 1.
struct RowRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool isEmpty() const { return right <= left; }
    friend bool operator==(const RowRect&, const RowRect&) = default;
};

// Reads the colour of pixel (x, y) as 0xRRGGBB; higher bits are ignored.
using PixelSource = std::function<std::uint32_t(int x, int y)>;

// Scans the rows top to bottom, each from the left, and returns the opaque runs in that order.
// Every run is emitted at the moment it ends; when a row ends in key-coloured pixels the run
// after them is the empty rectangle (W, y, W, y + 1), which is kept so that the list stays the
// exact record of the scan. The union of the rectangles is the shape.
std::vector<RowRect> BuildSkinRegion(int width, int height, const PixelSource& pixel);

// The same scan over a decoded image.
std::vector<RowRect> BuildSkinRegion(const QImage& image);

// The union of row rectangles as a region. Identical consecutive rows are merged into one band
// and the bands handed to QRegion in one go, so a skin of a few hundred rows costs no chain of
// unions. The rectangles must come in scan order, as BuildSkinRegion returns them.
QRegion RegionFromRowRects(const std::vector<RowRect>& rects);

// Top-left corner that centres a window of w x h on a screen of screenW x screenH. Each half is
// truncated on its own: 285 x 473 on 1024 x 768 lands at (370, 148).
QPoint CentredPosition(int screenW, int screenH, int w, int h);
