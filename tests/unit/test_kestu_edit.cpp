// Coloured edit fields.
#include "skin/KestuEdit.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPicture>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

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
