// The skinned controls: bitmap buttons, transparent labels, coloured edit fields, and the
// off-screen surface controls paint through.
#include "res/Resources.h"
#include "skin/BitmapButton.h"
#include "skin/KestuEdit.h"
#include "skin/KestuLabel.h"
#include "skin/KeyedImage.h"
#include "skin/MemDC.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using skintest::Backdrop;

namespace {
const QColor kBackdrop(0, 128, 0);
const QColor kUp(200, 30, 30);
const QColor kDown(30, 30, 200);

// A round-ish button picture: key colour in the corners.
QImage buttonPicture(QSize size, QColor face) {
    QImage img = skintest::keyedPicture(size, {2, 2, size.width() - 4, size.height() - 4}, face);
    return img;
}

// Counts pixels inside `area` where two pictures differ.
int differences(const QImage& a, const QImage& b, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                ++n;
    return n;
}
} // namespace

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

TEST(KestuEdit, PlatformColoursUntilABackgroundIsGiven) {
    QLineEdit reference;
    reference.resize(120, 24);
    CKestuEdit e;
    e.resize(120, 24);
    const QPoint inside(60, 12);
    const QColor platformBase = reference.grab().toImage().pixelColor(inside);
    EXPECT_EQ(e.grab().toImage().pixelColor(inside), platformBase);

    // A text colour alone is not used: without a background there is nothing to answer with.
    e.SetTextColor(Qt::red);
    EXPECT_EQ(e.palette().color(QPalette::Text), reference.palette().color(QPalette::Text));
    EXPECT_EQ(e.grab().toImage().pixelColor(inside), platformBase);

    e.SetBackColor(QColor(244, 244, 244));
    EXPECT_EQ(e.grab().toImage().pixelColor(inside), QColor(244, 244, 244));
    EXPECT_EQ(e.palette().color(QPalette::Text), QColor(Qt::red));
    e.SetTextColor(Qt::black);
    EXPECT_EQ(e.palette().color(QPalette::Text), QColor(Qt::black));

    // A second background replaces the first.
    e.SetBackColor(QColor(10, 20, 30));
    EXPECT_EQ(e.grab().toImage().pixelColor(inside), QColor(10, 20, 30));
    EXPECT_EQ(e.palette().color(QPalette::Disabled, QPalette::Base), QColor(10, 20, 30));
}

TEST(KestuEdit, TextIsDrawnInTheTextColour) {
    CKestuEdit e;
    e.resize(160, 24);
    e.SetBackColor(Qt::white);
    e.SetTextColor(QColor(0, 0, 255));
    e.setText("8888888888");
    const QImage img = e.grab().toImage();
    int blue = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.blue() > 200 && c.red() < 60 && c.green() < 60)
                ++blue;
        }
    EXPECT_GT(blue, 10);
}

TEST(KestuEdit, HiddenCaretIsNotDrawn) {
    QWidget window;
    window.resize(200, 40);
    auto* e = new CKestuEdit(&window);
    e->setGeometry(10, 10, 160, 24);
    e->SetBackColor(Qt::white);
    e->SetTextColor(Qt::black);
    // A steady caret, so that a grab never falls into the dark half of a blink.
    const int flashTime = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    e->setFocus();
    ASSERT_TRUE(e->hasFocus());
    const QRect inner = e->rect().adjusted(2, 3, -3, -3); // inside the frame
    auto darkPixels = [&] {
        const QImage img = e->grab().toImage();
        int n = 0;
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                if (qGray(img.pixel(x, y)) < 128)
                    ++n;
        return n;
    };
    // An empty focused field: the only dark thing is the caret.
    EXPECT_GT(darkPixels(), 0);
    e->setCaretHidden(true);
    EXPECT_TRUE(e->isCaretHidden());
    EXPECT_EQ(darkPixels(), 0);
    // Typing still works and puts the text cursor after the text.
    QTest::keyClicks(e, "123");
    EXPECT_EQ(e->text(), QString("123"));
    EXPECT_EQ(e->cursorPosition(), 3);
    e->setCaretHidden(false);
    e->clear();
    EXPECT_GT(darkPixels(), 0);
    QApplication::setCursorFlashTime(flashTime);
}

TEST(KestuEdit, ReportsEveryFocusIn) {
    QWidget window;
    auto* a = new CKestuEdit(&window);
    auto* b = new CKestuEdit(&window);
    b->move(0, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    b->setFocus();
    QSignalSpy aFocus(a, &CKestuEdit::focusReceived);
    QSignalSpy bFocus(b, &CKestuEdit::focusReceived);
    a->setFocus();
    b->setFocus();
    a->setFocus();
    a->setFocus(); // already there: no new notice
    EXPECT_EQ(aFocus.count(), 2);
    EXPECT_EQ(bFocus.count(), 1);
}

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
