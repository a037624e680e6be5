// Images drawn with a key colour that turns transparent.
#include "skin/KeyedImage.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

TEST(KeyedImage, OnlyTheExactKeyColourBecomesTransparent) {
    QImage img(3, 1, QImage::Format_RGB888);
    img.setPixel(0, 0, 0x102030);
    img.setPixel(1, 0, 0x102031);
    img.setPixel(2, 0, 0x102030);
    const QImage keyed = KeyedImage(img);
    EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0);
    EXPECT_EQ(keyed.pixel(1, 0), 0xFF102031u);
    EXPECT_EQ(qAlpha(keyed.pixel(2, 0)), 0);
    EXPECT_TRUE(KeyedImage(QImage()).isNull());
}
