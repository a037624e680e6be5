// Shaped windows: outline, size and place on the first resize only, dragging by the background.
#include "skin/BitmapButton.h"
#include "skin/KestuLabel.h"
#include "skin/ShapedWindow.h"
#include "skin/SkinRegion.h"
#include "test_skin_support.h"

#include <QDialog>
#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A skin with key-coloured corners and a hole, like the real ones.
QImage testSkin() {
    QImage img = skintest::keyedPicture({285, 473}, {4, 4, 277, 465}, QColor(40, 70, 120));
    QPainter p(&img);
    p.fillRect(130, 420, 20, 20, QColor::fromRgb(skintest::kKey));
    p.fillRect(25, 40, 235, 70, QColor(150, 190, 150));
    return img;
}

struct ShapedDialog {
    int loads = 0;
    QImage skin = testSkin();
    std::unique_ptr<QDialog> dialog = std::make_unique<QDialog>(nullptr, Qt::FramelessWindowHint);
    ShapedWindow* shape = new ShapedWindow(dialog.get(), [this] {
        ++loads;
        return skin;
    });
};

QPoint expectedCentre(QSize size) {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return screen.topLeft() + CentredPosition(screen.width(), screen.height(), size.width(), size.height());
}

} // namespace

TEST(ShapedWindow, FirstShowShapesSizesAndCentresFromTheSkin) {
    ShapedDialog w;
    w.dialog->resize(972, 651); // the template's size, larger than the skin
    EXPECT_FALSE(w.shape->isShaped());
    w.dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.dialog.get()));

    EXPECT_EQ(w.loads, 1);
    EXPECT_TRUE(w.shape->isShaped());
    EXPECT_EQ(w.shape->skinSize(), QSize(285, 473));
    EXPECT_EQ(w.dialog->size(), QSize(285, 473));
    EXPECT_EQ(w.dialog->pos(), expectedCentre({285, 473}));

    const QRegion expected = RegionFromRowRects(BuildSkinRegion(w.skin));
    EXPECT_TRUE((w.dialog->mask() ^ expected).isEmpty());
    EXPECT_TRUE((w.dialog->windowHandle()->mask() ^ expected).isEmpty()); // handed to the platform
    EXPECT_FALSE(w.dialog->mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(w.dialog->mask().contains(QPoint(140, 430))); // the hole
    EXPECT_TRUE(w.dialog->mask().contains(QPoint(142, 200)));
}

TEST(ShapedWindow, LaterResizesOnlyReapplyTheStoredShape) {
    ShapedDialog w;
    w.dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.dialog.get()));
    const QRegion first = w.dialog->mask();
    w.dialog->move(10, 20);

    // A size notification at the same size (as on restore): nothing moves, nothing is rescanned.
    w.skin = QImage(); // would show if the skin were read again
    QResizeEvent again(w.dialog->size(), w.dialog->size());
    QCoreApplication::sendEvent(w.dialog.get(), &again);
    EXPECT_EQ(w.loads, 1);
    EXPECT_EQ(w.dialog->pos(), QPoint(10, 20));
    EXPECT_EQ(w.dialog->size(), QSize(285, 473));
    EXPECT_TRUE((w.dialog->mask() ^ first).isEmpty());

    // Even a resize to another size keeps the outline and the place.
    w.dialog->clearMask();
    w.dialog->resize(300, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.loads, 1);
    EXPECT_EQ(w.dialog->pos(), QPoint(10, 20));
    EXPECT_TRUE((w.dialog->mask() ^ first).isEmpty());
}

TEST(ShapedWindow, SkinOfOnlyTheKeyColourCutsTheWholeWindowAway) {
    ShapedDialog w;
    w.skin = QImage(50, 40, QImage::Format_RGB32);
    w.skin.fill(QColor::fromRgb(skintest::kKey));
    w.dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.dialog.get()));
    EXPECT_EQ(w.dialog->size(), QSize(50, 40));
    // Qt would take an empty mask for "no mask"; the mask there is must leave no pixel inside.
    EXPECT_FALSE(w.dialog->mask().isEmpty());
    EXPECT_TRUE((w.dialog->mask() & QRegion(w.dialog->rect())).isEmpty());
}

TEST(ShapedWindow, MissingSkinLeavesTheWindowAsItIs) {
    ShapedDialog w;
    w.skin = QImage();
    w.dialog->setGeometry(30, 40, 200, 100);
    w.dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.dialog.get()));
    EXPECT_EQ(w.dialog->geometry(), QRect(30, 40, 200, 100));
    EXPECT_TRUE(w.dialog->mask().isEmpty());
}

TEST(ShapedWindow, DragsByTheBackgroundAndByPlainLabelsButNotByButtons) {
    ShapedDialog w;
    auto* label = new CKestuLabel("Username", w.dialog.get());
    label->setGeometry(20, 150, 100, 20);
    auto* button = new CBitmapButton(w.dialog.get());
    button->LoadImages(skintest::keyedPicture({40, 30}, {1, 1, 38, 28}, Qt::red), {});
    button->move(150, 150);
    w.dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.dialog.get()));
    // The offscreen platform runs no move of its own, so this exercises the hand-made move.
    ASSERT_FALSE(w.dialog->windowHandle()->startSystemMove());

    QPoint start = w.dialog->pos();
    QTest::mousePress(w.dialog.get(), Qt::LeftButton, {}, QPoint(150, 250));
    QTest::mouseMove(w.dialog.get(), QPoint(180, 290));
    QTest::mouseRelease(w.dialog.get(), Qt::LeftButton, {}, QPoint(180, 290));
    EXPECT_EQ(w.dialog->pos(), start + QPoint(30, 40));

    start = w.dialog->pos();
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(label, QPoint(-5, 25));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(-5, 25));
    EXPECT_EQ(w.dialog->pos(), start + QPoint(-10, 20));

    start = w.dialog->pos();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(button, QPoint(25, 25));
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(25, 25));
    EXPECT_EQ(w.dialog->pos(), start);

    // Without the button held nothing follows the pointer.
    QTest::mouseMove(w.dialog.get(), QPoint(100, 100));
    EXPECT_EQ(w.dialog->pos(), start);
}
