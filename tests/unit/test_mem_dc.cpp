// The off-screen surface controls paint through.
#include "skin/MemDC.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

TEST(MemDC, ComposesOffScreenAndCopiesOnceAtTheEnd) {
    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::red);
    QPainter p(&target);
    {
        CMemDC dc(&p, QRect(10, 10, 20, 20), true);
        EXPECT_TRUE(dc.isMemoryMode());
        dc->fillRect(QRect(15, 15, 5, 5), Qt::blue);           // target coordinates
        dc->fillRect(QRect(0, 0, 40, 1), Qt::blue);            // outside the rectangle
        EXPECT_EQ(target.pixelColor(16, 16), QColor(Qt::red)); // not on the target yet
    }
    EXPECT_EQ(target.pixelColor(16, 16), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(12, 12), QColor(Qt::red)); // what was there shows through
    EXPECT_EQ(target.pixelColor(5, 0), QColor(Qt::red));   // nothing lands outside the rectangle
    EXPECT_TRUE(p.isActive());
}

TEST(MemDC, WithoutCopyStartsFromTheBackgroundColour) {
    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    target.fill(Qt::red);
    QPainter p(&target);
    p.setBackground(Qt::green);
    {
        CMemDC dc(&p, QRect(10, 10, 20, 20), false);
        dc->fillRect(QRect(15, 15, 5, 5), Qt::blue);
    }
    EXPECT_EQ(target.pixelColor(16, 16), QColor(Qt::blue));
    EXPECT_EQ(target.pixelColor(12, 12), QColor(Qt::green));
    EXPECT_EQ(target.pixelColor(9, 9), QColor(Qt::red));
}

TEST(MemDC, WithoutRectangleCoversTheClipBox) {
    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&target);
    {
        CMemDC whole(&p);
        EXPECT_EQ(whole.rect(), QRect(0, 0, 40, 40));
    }
    p.setClipRect(QRect(5, 6, 10, 12));
    CMemDC clipped(&p);
    EXPECT_EQ(clipped.rect(), QRect(5, 6, 10, 12));
}

TEST(MemDC, RecordingTargetsAreDrawnStraightThrough) {
    // A picture records drawing like a printer does: no bitmap in between, no copy at the end,
    // and the target's painter goes on working afterwards.
    QPicture picture;
    QPainter p(&picture);
    {
        CMemDC dc(&p, QRect(0, 0, 20, 20), true);
        EXPECT_FALSE(dc.isMemoryMode());
        EXPECT_EQ(&dc.painter(), &p);
        dc->fillRect(QRect(2, 2, 4, 4), Qt::blue);
    }
    ASSERT_TRUE(p.isActive());
    p.fillRect(QRect(10, 10, 4, 4), Qt::green);
    p.end();

    QImage replay(20, 20, QImage::Format_RGB32);
    replay.fill(Qt::white);
    QPainter r(&replay);
    r.drawPicture(0, 0, picture);
    r.end();
    EXPECT_EQ(replay.pixelColor(3, 3), QColor(Qt::blue));
    EXPECT_EQ(replay.pixelColor(11, 11), QColor(Qt::green));
    EXPECT_EQ(replay.pixelColor(8, 8), QColor(Qt::white));
}
