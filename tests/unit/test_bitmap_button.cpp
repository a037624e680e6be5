// Bitmap buttons: sized to their pictures, painted up or down.
#include "res/Resources.h"
#include "skin/BitmapButton.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using skintest::Backdrop;
using skintest::buttonPicture;
using skintest::kBackdrop;
using skintest::kDown;
using skintest::kUp;

TEST(BitmapButton, SizedToTheUpPictureAndPaintsUpOrDown) {
    Backdrop parent(kBackdrop);
    parent.resize(100, 100);
    CBitmapButton b(&parent);
    b.move(10, 10);
    EXPECT_TRUE(b.LoadImages(buttonPicture({36, 32}, kUp), buttonPicture({36, 32}, kDown)));
    EXPECT_EQ(b.size(), QSize(36, 32));
    EXPECT_EQ(b.sizeHint(), QSize(36, 32));
    EXPECT_TRUE(b.hasDownImage());

    QImage img = parent.grab().toImage();
    EXPECT_EQ(img.pixelColor(28, 26), kUp);
    EXPECT_EQ(img.pixelColor(10, 10), kBackdrop); // key-coloured corner: the skin shows through

    QSignalSpy clicked(&b, &QAbstractButton::clicked);
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(18, 16));
    img = parent.grab().toImage();
    EXPECT_EQ(img.pixelColor(28, 26), kDown);
    EXPECT_EQ(img.pixelColor(10, 10), kBackdrop);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(18, 16));
    EXPECT_EQ(parent.grab().toImage().pixelColor(28, 26), kUp);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(BitmapButton, FocusedAndDisabledLookLikeUp) {
    Backdrop parent(kBackdrop);
    parent.resize(60, 60);
    CBitmapButton b(&parent);
    b.LoadImages(buttonPicture({36, 32}, kUp), buttonPicture({36, 32}, kDown));
    const QImage normal = b.grab().toImage();
    QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&b, &in);
    EXPECT_EQ(b.grab().toImage(), normal);
    b.setEnabled(false);
    EXPECT_EQ(b.grab().toImage(), normal);
}

TEST(BitmapButton, WithoutDownPictureAPressChangesNothing) {
    Backdrop parent(kBackdrop);
    parent.resize(60, 60);
    CBitmapButton b(&parent);
    EXPECT_TRUE(b.LoadImages(buttonPicture({17, 11}, kUp), QImage()));
    EXPECT_FALSE(b.hasDownImage());
    const QImage up = parent.grab().toImage();
    QTest::mousePress(&b, Qt::LeftButton, {}, QPoint(8, 5));
    ASSERT_TRUE(b.isDown());
    EXPECT_EQ(parent.grab().toImage(), up);
    QTest::mouseRelease(&b, Qt::LeftButton, {}, QPoint(8, 5));
}

TEST(BitmapButton, WithoutUpPictureKeepsItsSize) {
    CBitmapButton b;
    b.resize(50, 20);
    EXPECT_FALSE(b.LoadImages(QImage(), buttonPicture({36, 32}, kDown)));
    EXPECT_EQ(b.size(), QSize(50, 20));
    EXPECT_FALSE(b.AutoLoad("noSuchCaption"));
    EXPECT_EQ(b.size(), QSize(50, 20));
    EXPECT_EQ(b.caption(), QString("noSuchCaption"));
    EXPECT_EQ(b.objectName(), QString("noSuchCaption"));
}

TEST(BitmapButton, AutoLoadsTheBuiltInPicturesByCaption) {
    if (res::namedBitmap("CMDPICKUPU").isNull())
        GTEST_SKIP() << "the built-in button pictures are not available in this build";
    struct Case {
        const char* caption;
        QSize size;
        bool down;
    };
    for (const Case& c : {Case{"cmdPickup", {65, 40}, true}, Case{"cmdRate", {79, 23}, true},
                          Case{"cmd_clear1", {25, 25}, true}, Case{"cmdMinimize", {17, 11}, false},
                          Case{"cmdCross", {19, 16}, false}, Case{"cmdLogOff", {26, 24}, false},
                          Case{"cmdLogin", {97, 34}, true}}) {
        CBitmapButton b;
        EXPECT_TRUE(b.AutoLoad(c.caption)) << c.caption;
        EXPECT_EQ(b.size(), c.size) << c.caption;
        EXPECT_EQ(b.hasDownImage(), c.down) << c.caption;
    }
}
