// Template fonts keep the width they were given, whatever face the font system substitutes.
#include "skin/Fonts.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

TEST(LogicalFont, HonoursHeightAndAverageWidth) {
    for (const auto& [face, height, width] : {std::tuple{"Verdana", 13, 7}, std::tuple{"Verdana", 12, 5},
                                              std::tuple{"ArialBlack", 16, 6}, std::tuple{"Arial", 15, 5}}) {
        const QFont f = LogicalFont(QString::fromLatin1(face), height, width);
        EXPECT_EQ(f.pixelSize(), height) << face;
        EXPECT_NEAR(QFontMetrics(f).averageCharWidth(), width, 1) << face << " " << height;
    }
    // No width: the face's own.
    const QFont natural = LogicalFont("Verdana", 13, 0);
    EXPECT_EQ(natural.stretch(), QFont().stretch());
}
