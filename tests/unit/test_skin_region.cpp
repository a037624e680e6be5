// The skin outline: which rectangles the scan emits, the region they make, and the centring.
#include "res/Resources.h"
#include "skin/DialogUnits.h"
#include "skin/SkinRegion.h"
#include "test_skin_support.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

using skintest::kKey;

namespace {

// A pixel source over a row-major list of 0xRRGGBB values.
PixelSource grid(int width, std::vector<std::uint32_t> pixels) {
    return [width, pixels = std::move(pixels)](int x, int y) { return pixels[y * width + x]; };
}

constexpr std::uint32_t kRed = 0xFF0000;

// Every pixel of the image is in the region exactly when it is not of the key colour.
void expectRegionIsPixelSet(const QImage& image, const QRegion& region) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const QRgb key = rgb.pixel(0, 0) & 0xFFFFFF;
    int mismatches = 0;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            if (region.contains(QPoint(x, y)) != ((rgb.pixel(x, y) & 0xFFFFFF) != key))
                ++mismatches;
    EXPECT_EQ(mismatches, 0);
    EXPECT_TRUE(region.boundingRect().isEmpty() ||
                QRect(QPoint(), rgb.size()).contains(region.boundingRect()));
}

QRegion naiveUnion(const std::vector<RowRect>& rects) {
    QRegion r;
    for (const RowRect& rr : rects)
        r += QRect(rr.left, rr.top, rr.right - rr.left, rr.bottom - rr.top);
    return r;
}

} // namespace

TEST(SkinOutline, KeyRedKeyGivesMiddlePixelThenEmptyRectangle) {
    const auto rects = BuildSkinRegion(3, 1, grid(3, {kKey, kRed, kKey}));
    const std::vector<RowRect> expected = {{1, 0, 2, 1}, {3, 0, 3, 1}};
    EXPECT_EQ(rects, expected);
    EXPECT_TRUE(rects[1].isEmpty());
    const QRegion region = RegionFromRowRects(rects);
    EXPECT_TRUE((region ^ QRegion(1, 0, 1, 1)).isEmpty());
}

TEST(SkinOutline, RowEndingOpaqueEndsExactlyAtWidth) {
    // Row 0: key, red, key, red, red. Row 1: all red. Row 2: red then key.
    const auto rects = BuildSkinRegion(5, 3,
                                       grid(5, {kKey, kRed, kKey, kRed, kRed, //
                                                kRed, kRed, kRed, kRed, kRed, //
                                                kRed, kKey, kKey, kKey, kKey}));
    const std::vector<RowRect> expected = {
        {1, 0, 2, 1}, {3, 0, 5, 1}, // no empty rectangle after an opaque end
        {0, 1, 5, 2},               //
        {0, 2, 1, 3}, {5, 2, 5, 3}, // a key-coloured end gives the empty one
    };
    EXPECT_EQ(rects, expected);
    for (const RowRect& r : rects) {
        EXPECT_LE(r.right, 5);
        EXPECT_EQ(r.bottom, r.top + 1);
    }
}

TEST(SkinOutline, KeyPixelInsideAStretchSplitsIt) {
    const auto rects = BuildSkinRegion(6, 1, grid(6, {kKey, kRed, kRed, kKey, kRed, kRed}));
    const std::vector<RowRect> expected = {{1, 0, 3, 1}, {4, 0, 6, 1}};
    EXPECT_EQ(rects, expected);
}

TEST(SkinOutline, SingleColourSkinIsCutAwayEntirely) {
    const auto rects = BuildSkinRegion(4, 3, [](int, int) { return 0x123456u; });
    ASSERT_EQ(rects.size(), 3u);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(rects[y], (RowRect{4, y, 4, y + 1}));
        EXPECT_TRUE(rects[y].isEmpty());
    }
    EXPECT_TRUE(RegionFromRowRects(rects).isEmpty());
}

TEST(SkinOutline, OneColourStepAwayIsOpaqueAndHighBitsAreIgnored) {
    // The key is read from the top-left pixel, not assumed; bits above the colour don't count.
    const std::uint32_t key = 0x102030;
    const auto rects =
        BuildSkinRegion(5, 1, grid(5, {key, key + 1, key | 0xFF000000u, key + 0x100, key + 0x10000}));
    const std::vector<RowRect> expected = {{1, 0, 2, 1}, {3, 0, 5, 1}};
    EXPECT_EQ(rects, expected);
}

TEST(SkinOutline, EmptyPictureGivesNothing) {
    EXPECT_TRUE(BuildSkinRegion(0, 5, [](int, int) { return 0u; }).empty());
    EXPECT_TRUE(BuildSkinRegion(QImage()).empty());
}

TEST(SkinOutline, ImageOverloadMatchesThePixelScanForEveryFormat) {
    // Skins come as 24-bit pictures; the scan must not depend on how the image is stored.
    QImage img = skintest::keyedPicture({40, 30}, {3, 2, 30, 25}, Qt::darkBlue);
    img.setPixel(10, 10, kKey);
    img.setPixel(39, 29, 0x00FF30FE); // one step away: opaque
    const auto reference =
        BuildSkinRegion(img.width(), img.height(), [&](int x, int y) { return img.pixel(x, y); });
    for (auto format : {QImage::Format_RGB32, QImage::Format_RGB888, QImage::Format_ARGB32})
        EXPECT_EQ(BuildSkinRegion(img.convertToFormat(format)), reference) << "format " << format;
}

TEST(SkinRegionFromRects, RegionIsExactlyTheOpaquePixelsOfRandomPictures) {
    QRandomGenerator rng(4711);
    for (int round = 0; round < 40; ++round) {
        const int w = 1 + rng.bounded(40), h = 1 + rng.bounded(40);
        QImage img(w, h, QImage::Format_RGB32);
        // Few colours, so that long runs, holes, repeated rows and key-only rows all occur.
        const QRgb palette[] = {kKey, kKey, 0x00FF30FE, 0x000000};
        const bool repeatRows = rng.bounded(2) == 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.setPixel(x, y,
                             (repeatRows && y > 0 && rng.bounded(3) != 0)
                                 ? img.pixel(x, y - 1)
                                 : palette[rng.bounded(4)] | 0xFF000000u);
        img.setPixel(0, 0, kKey | 0xFF000000u);
        const auto rects = BuildSkinRegion(img);
        const QRegion region = RegionFromRowRects(rects);
        SCOPED_TRACE(round);
        expectRegionIsPixelSet(img, region);
        EXPECT_TRUE((region ^ naiveUnion(rects)).isEmpty());
    }
}

TEST(SkinRegionFromRects, IdenticalRowsFoldIntoOneBand) {
    // A plain block: every row has the same run, so the region is a single rectangle rather than
    // one per row (what keeps a 473-row skin cheap).
    QImage img = skintest::keyedPicture({20, 50}, {2, 1, 15, 45}, Qt::red);
    const QRegion region = RegionFromRowRects(BuildSkinRegion(img));
    EXPECT_EQ(region.rectCount(), 1);
    EXPECT_EQ(region.boundingRect(), QRect(2, 1, 15, 45));
}

TEST(SkinRegionFromRects, BuiltInSkinsGiveExactlyTheirOpaquePixels) {
    int checked = 0;
    for (int id : {329, 331, 332, 355}) {
        const QImage skin = res::bitmap(id);
        if (skin.isNull())
            continue;
        SCOPED_TRACE(id);
        ++checked;
        EXPECT_EQ(skin.pixel(0, 0) & 0xFFFFFF, kKey);
        const auto rects = BuildSkinRegion(skin);
        const QRegion region = RegionFromRowRects(rects);
        expectRegionIsPixelSet(skin, region);
        EXPECT_TRUE((region ^ naiveUnion(rects)).isEmpty());
        EXPECT_FALSE(region.contains(QPoint(0, 0)));
    }
    if (checked == 0)
        GTEST_SKIP() << "the built-in skins are not available in this build";
}

TEST(SkinPlacement, CentresWithTruncatedHalves) {
    EXPECT_EQ(CentredPosition(1024, 768, 285, 473), QPoint(370, 148));
    EXPECT_EQ(CentredPosition(1023, 767, 285, 473), QPoint(369, 147));
    EXPECT_EQ(CentredPosition(1280, 1024, 289, 412), QPoint(496, 306));
}

TEST(DialogUnits, ConvertEachValueOnItsOwnWithRounding) {
    // The main template's skin area, 190 x 291 units, is the 285 x 473 pixel skin.
    EXPECT_EQ(dlu::rect(0, 0, 190, 291), QRect(0, 0, 285, 473));
    EXPECT_EQ(dlu::x(1), 2); // 1.5
    EXPECT_EQ(dlu::x(3), 5); // 4.5
    EXPECT_EQ(dlu::y(1), 2); // 1.625
    EXPECT_EQ(dlu::y(3), 5); // 4.875
    EXPECT_EQ(dlu::y(4), 7); // 6.5
    EXPECT_EQ(dlu::y(5), 8); // 8.125
    EXPECT_EQ(dlu::x(-3), -5);
    EXPECT_EQ(dlu::rect(QRect(7, 7, 7, 7)), QRect(11, 11, 11, 11));
}
