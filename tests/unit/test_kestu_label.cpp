// Transparent labels drawn straight onto their parent.
#include "skin/KestuLabel.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using skintest::Backdrop;
using skintest::differences;
using skintest::kBackdrop;

TEST(KestuLabel, TextIsDrawnStraightOntoTheParent) {
    Backdrop parent(kBackdrop);
    parent.resize(300, 60);
    auto* label = new CKestuLabel("Hi", &parent);
    label->setGeometry(10, 10, 200, 30);
    const QImage img = parent.grab().toImage();
    // Where no glyph is, the label shows the parent; where the text is, it is drawn in black-ish.
    int foreign = 0, text = 0;
    for (int y = 10; y < 40; ++y)
        for (int x = 10; x < 210; ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c == kBackdrop)
                continue;
            if (x >= 60)
                ++foreign; // "Hi" is far narrower than 50 pixels
            else if (c.green() < kBackdrop.green())
                ++text;
        }
    EXPECT_EQ(foreign, 0);
    EXPECT_GT(text, 0);
}

TEST(KestuLabel, ShorterTextLeavesNoTraceAndIsPaintedAtOnce) {
    Backdrop parent(kBackdrop);
    parent.resize(300, 60);
    auto* label = new CKestuLabel("WWWWWWWWWWWWWWWW", &parent);
    label->setGeometry(10, 10, 280, 30);
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    const QRect tail(10 + 60, 10, 280 - 60, 30);
    EXPECT_GT(differences(parent.grab().toImage(), QImage(parent.size(), QImage::Format_RGB32), tail), 0);

    const int paintsBefore = parent.paints;
    label->setText("W");
    // The parent has repainted under the label before setText returned.
    EXPECT_GT(parent.paints, paintsBefore);
    QImage plain(parent.size(), QImage::Format_RGB32);
    plain.fill(kBackdrop);
    EXPECT_EQ(differences(parent.grab().toImage().convertToFormat(QImage::Format_RGB32), plain, tail), 0);
}

TEST(KestuLabel, PlainLabelsPassPressesOnLinkLabelsReportThem) {
    Backdrop parent(kBackdrop);
    parent.resize(200, 60);
    auto* plain = new CKestuLabel("Username", &parent);
    plain->setGeometry(0, 0, 100, 20);
    auto* link = new CKestuLabel("www", &parent);
    link->setGeometry(0, 30, 100, 20);
    link->setClickable(true);
    QSignalSpy plainClicks(plain, &CKestuLabel::clicked);
    QSignalSpy linkClicks(link, &CKestuLabel::clicked);

    QTest::mousePress(plain, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(plain, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(parent.presses, 1); // the window beneath gets it (and drags by it)
    EXPECT_EQ(plainClicks.count(), 0);

    QTest::mousePress(link, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(linkClicks.count(), 1); // reported on the press
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(linkClicks.count(), 1);
    EXPECT_EQ(parent.presses, 1);
    QTest::mousePress(link, Qt::RightButton, {}, QPoint(5, 5));
    QTest::mouseRelease(link, Qt::RightButton, {}, QPoint(5, 5));
    EXPECT_EQ(linkClicks.count(), 1);
}
