// The bitmap slider: its arithmetic, mouse and keys with the notifications they post, and its
// picture. The main window's sliders are 124 x 9 pixels with a 10 x 9 thumb and the range 0 to
// 65535, so the thumb centre travels from pixel 5 to pixel 119.
#include "res/Resources.h"
#include "skin/BitmapSlider.h"
#include "skin/SliderMessage.h"
#include "skin/Volume.h"
#include "test_skin_support.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <utility>

using skintest::Backdrop;
using skintest::kBackdrop;
using Message = Backdrop::Message;

namespace {

const SliderAxis kMain{124, 10, 0, 0, 0, 65535};

const QColor kBar(20, 20, 20);
const QColor kThumb(230, 200, 40);

// Channel: key colour with a dark bar across rows 3..5. Thumb: solid with key-coloured corners.
QImage channelPicture(QSize size = {124, 9}) {
    return skintest::keyedPicture(size, {0, 3, size.width(), 3}, kBar);
}
QImage thumbPicture(QSize size = {10, 9}) {
    QImage img = skintest::keyedPicture(size, {0, 0, size.width(), size.height()}, kThumb);
    img.setPixel(0, 0, skintest::kKey);
    img.setPixel(size.width() - 1, size.height() - 1, skintest::kKey);
    return img;
}

// A main-window slider inside a backdrop that records what the slider posts.
struct SliderRig {
    std::unique_ptr<Backdrop> parent = std::make_unique<Backdrop>(kBackdrop);
    CBitmapSlider* slider = new CBitmapSlider(parent.get());

    SliderRig() {
        parent->resize(200, 40);
        slider->setControlId(1042);
        slider->move(10, 10);
        slider->ShowFocusRect(false);
        slider->SetThumbImage(thumbPicture());
        slider->SetChannelImage(channelPicture());
        slider->SetRange(0, 65535);
    }
    int centre() const { return SliderPositionToPixel(slider->axis(), slider->GetPos()); }
    // What the parent has received once the posted notifications are delivered.
    std::vector<Message> delivered() {
        QCoreApplication::sendPostedEvents(parent.get());
        return std::exchange(parent->messages, {});
    }
    void press(int x) { QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x, 4)); }
    void move(int x) { QTest::mouseMove(slider, QPoint(x, 4)); }
    void release(int x) { QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(x, 4)); }
    void key(Qt::Key k) { QTest::keyClick(slider, k); }
};

Message track(int pos) {
    return {WM_SLIDER_TRACK, 1042, pos};
}
Message set(int pos) {
    return {WM_SLIDER_SET, 1042, pos};
}

} // namespace

TEST(SliderArithmetic, PositionsAndPixelsOfTheMainSliders) {
    EXPECT_EQ(SliderTravel(kMain), 114);
    EXPECT_EQ(SliderPositionToPixel(kMain, 32768), 62);
    EXPECT_EQ(SliderPixelToPosition(kMain, 62), 32767);
    EXPECT_EQ(SliderPixelToPosition(kMain, 5), 0);
    EXPECT_EQ(SliderPixelToPosition(kMain, 119), 65535);
    EXPECT_EQ(SliderPositionToPixel(kMain, 0), 5);
    EXPECT_EQ(SliderPositionToPixel(kMain, 65534), 118); // truncation, not rounding
    EXPECT_EQ(SliderPositionToPixel(kMain, 65535), 119);
    EXPECT_EQ(SliderPositionToPixel(kMain, 40000), 74);
    EXPECT_EQ(SliderPositionToPixel(kMain, 20), 5);
}

TEST(SliderArithmetic, MarginsShiftAndShortenTheTravel) {
    const SliderAxis a{124, 10, 7, 3, 0, 65535};
    EXPECT_EQ(SliderTravel(a), 104);
    EXPECT_EQ(SliderPositionToPixel(a, 0), 12);
    EXPECT_EQ(SliderPositionToPixel(a, 65535), 116);
    EXPECT_EQ(SliderPixelToPosition(a, 12), 0);
    EXPECT_EQ(SliderPixelToPosition(a, 116), 65535);
    EXPECT_EQ(SliderClampCentre(a, 0, false), 12);
    EXPECT_EQ(SliderClampCentre(a, 500, false), 116);
    // A range that does not start at zero.
    const SliderAxis b{124, 10, 0, 0, -100, 100};
    EXPECT_EQ(SliderPositionToPixel(b, 0), 62);
    EXPECT_EQ(SliderPixelToPosition(b, 5), -100);
    EXPECT_EQ(SliderPixelToPosition(b, 6), -98); // -98.2 truncates toward zero
}

TEST(SliderArithmetic, ClampingOrder) {
    EXPECT_EQ(SliderClampPosition(70000, 0, 65535), 65535);
    EXPECT_EQ(SliderClampPosition(-5, 0, 65535), 0);
    EXPECT_EQ(SliderClampPosition(7, 10, 5), 10); // inverted range: the minimum wins
    EXPECT_EQ(SliderClampPosition(3, 10, 5), 10);
    // Centre limits: horizontal raises first, vertical lowers first; it shows when the thumb is
    // larger than the channel.
    const SliderAxis tight{6, 10, 0, 0, 0, 100};
    EXPECT_EQ(SliderClampCentre(tight, 3, false), 1);
    EXPECT_EQ(SliderClampCentre(tight, 3, true), 5);
}

TEST(SliderArithmetic, GripKeepsThePlaceWithinHalfAThumb) {
    EXPECT_EQ(SliderGripOffset(kMain, 65, 32768), 3);
    EXPECT_EQ(SliderGripOffset(kMain, 57, 32768), -5);
    EXPECT_EQ(SliderGripOffset(kMain, 67, 32768), 5);
    EXPECT_EQ(SliderGripOffset(kMain, 68, 32768), 0);
    EXPECT_EQ(SliderGripOffset(kMain, 102, 32768), 0);
}

TEST(SliderArithmetic, DegenerateRangesStayDefined) {
    // Never configured by the program; they must still give numbers, not undefined behaviour.
    const SliderAxis noRange{124, 10, 0, 0, 50, 50};
    EXPECT_EQ(SliderPositionToPixel(noRange, 50), 5);
    const SliderAxis noTravel{10, 10, 0, 0, 0, 100};
    EXPECT_EQ(SliderPixelToPosition(noTravel, 5), 0);
    const SliderAxis huge{124, 10, 0, 0, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
    EXPECT_EQ(SliderPixelToPosition(huge, 119), std::numeric_limits<int>::max());
    EXPECT_EQ(SliderPositionToPixel(huge, std::numeric_limits<int>::max()), 119);
}

TEST(BitmapSlider, Defaults) {
    CBitmapSlider s;
    EXPECT_FALSE(s.IsVertical());
    EXPECT_EQ(s.GetRangeMin(), 0);
    EXPECT_EQ(s.GetRangeMax(), 100);
    EXPECT_EQ(s.GetPos(), 0);
    EXPECT_EQ(s.GetPageSize(), 20);
    EXPECT_EQ(s.drawingSize(), QSize(0, 0));
    EXPECT_EQ(s.focusPolicy(), Qt::ClickFocus); // not a tab stop
}

TEST(BitmapSlider, SetPositionClampsSetRangeDoesNot) {
    SliderRig r;
    r.slider->SetPosition(70000);
    EXPECT_EQ(r.slider->GetPos(), 65535);
    r.slider->SetPosition(-5);
    EXPECT_EQ(r.slider->GetPos(), 0);

    r.slider->SetPosition(50000);
    r.slider->SetRange(0, 100);
    EXPECT_EQ(r.slider->GetPos(), 50000); // until the next change
    r.key(Qt::Key_Left);
    EXPECT_EQ(r.slider->GetPos(), 100);
    EXPECT_EQ(r.delivered(), (std::vector{set(100)}));
    EXPECT_TRUE(r.delivered().empty()); // setting a position from the program posts nothing
}

TEST(BitmapSlider, ThumbBeforeChannelTakesTheClientSizeChannelResizes) {
    Backdrop parent(kBackdrop);
    CBitmapSlider s(&parent);
    s.setGeometry(30, 12, 50, 20);
    s.SetThumbImage(thumbPicture());
    EXPECT_EQ(s.drawingSize(), QSize(50, 20));
    EXPECT_EQ(s.thumbSize(), QSize(10, 9));
    s.SetChannelImage(channelPicture());
    EXPECT_EQ(s.drawingSize(), QSize(124, 9));
    EXPECT_EQ(s.geometry(), QRect(30, 12, 124, 9)); // keeps its place
}

TEST(BitmapSlider, MissingPicturesAreSilent) {
    CBitmapSlider s;
    s.resize(40, 8);
    EXPECT_FALSE(s.SetChannelImage(QImage()));
    EXPECT_FALSE(s.SetThumbImage(QImage()));
    EXPECT_EQ(s.size(), QSize(40, 8));
    EXPECT_EQ(s.drawingSize(), QSize(0, 0));
}

TEST(BitmapSlider, DragToPixel62GivesHalfAndTracksEveryPixelChange) {
    SliderRig r;
    r.slider->SetPosition(32768);
    ASSERT_EQ(r.centre(), 62);

    r.press(62); // on the centre: no jump
    EXPECT_TRUE(r.slider->isDragging());
    EXPECT_TRUE(r.delivered().empty());
    r.move(90);
    const int at90 = SliderPixelToPosition(kMain, 90);
    EXPECT_EQ(r.slider->GetPos(), at90);
    // Posted, not sent: nothing arrives before the event loop delivers it.
    EXPECT_TRUE(r.parent->messages.empty());
    r.move(62);
    EXPECT_EQ(r.slider->GetPos(), 32767);
    r.release(62);
    EXPECT_FALSE(r.slider->isDragging());
    EXPECT_EQ(r.delivered(), (std::vector{track(at90), track(32767), set(32767)}));
}

TEST(BitmapSlider, DraggingBeyondTheEndsStopsTheCentreAtTheEnds) {
    SliderRig r;
    r.slider->SetPosition(32768);
    r.press(62);
    r.move(-40);
    EXPECT_EQ(r.slider->GetPos(), 0);
    EXPECT_EQ(r.centre(), 5);
    r.move(400);
    EXPECT_EQ(r.slider->GetPos(), 65535);
    EXPECT_EQ(r.centre(), 119);
    r.move(500); // still pixel 119: nothing new
    r.release(500);
    EXPECT_EQ(r.delivered(), (std::vector{track(0), track(65535), set(65535)}));
}

TEST(BitmapSlider, PressBesideTheCentreKeepsTheThumbReleaseStillSets) {
    SliderRig r;
    r.slider->SetPosition(32768);
    r.press(65);
    EXPECT_EQ(r.slider->GetPos(), 32768);
    EXPECT_TRUE(r.delivered().empty());
    // The grip is kept: a move by 10 puts the centre 10 further, at 72 (not under the pointer).
    r.move(75);
    EXPECT_EQ(r.slider->GetPos(), SliderPixelToPosition(kMain, 72));
    r.release(75);
    EXPECT_EQ(r.delivered(), (std::vector{track(SliderPixelToPosition(kMain, 72)), set(r.slider->GetPos())}));

    r.slider->SetPosition(32768);
    r.press(65);
    r.release(65);
    EXPECT_EQ(r.delivered(), (std::vector{set(32768)}));
}

TEST(BitmapSlider, PressFarFromTheCentreJumpsAndTracksAtOnce) {
    SliderRig r;
    r.slider->SetPosition(32768);
    r.press(102);
    const int jumped = SliderPixelToPosition(kMain, 102);
    EXPECT_EQ(r.slider->GetPos(), jumped);
    EXPECT_NEAR(r.centre(), 102, 1); // drawn from the truncated position
    EXPECT_EQ(r.delivered(), (std::vector{track(jumped)}));
    r.release(102);
    EXPECT_EQ(r.delivered(), (std::vector{set(jumped)}));
}

TEST(BitmapSlider, PressTakesTheFocus) {
    SliderRig r;
    r.parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(r.parent.get()));
    EXPECT_FALSE(r.slider->hasFocus());
    r.press(62);
    EXPECT_TRUE(r.slider->hasFocus());
    r.release(62);
}

TEST(BitmapSlider, ReleaseWhosePressBeganElsewhereStillSets) {
    SliderRig r;
    r.slider->SetPosition(1234);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(30, 4), r.slider->mapToGlobal(QPointF(30, 4)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(r.slider, &release);
    EXPECT_EQ(r.slider->GetPos(), 1234);
    EXPECT_EQ(r.delivered(), (std::vector{set(1234)}));
}

TEST(BitmapSlider, OtherButtonsAndMovesWithoutAPressDoNothing) {
    SliderRig r;
    r.slider->SetPosition(32768);
    QTest::mousePress(r.slider, Qt::RightButton, {}, QPoint(100, 4));
    QMouseEvent move(QEvent::MouseMove, QPointF(110, 4), r.slider->mapToGlobal(QPointF(110, 4)), Qt::NoButton,
                     Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(r.slider, &move);
    QTest::mouseRelease(r.slider, Qt::RightButton, {}, QPoint(110, 4));
    EXPECT_EQ(r.slider->GetPos(), 32768);
    EXPECT_FALSE(r.slider->isDragging());
    EXPECT_TRUE(r.delivered().empty());
}

TEST(BitmapSlider, KeysMoveAndSetAfterEveryKey) {
    SliderRig r;
    r.key(Qt::Key_PageDown);
    EXPECT_EQ(r.slider->GetPos(), 20);
    EXPECT_EQ(r.centre(), 5); // the thumb has not visibly moved
    r.key(Qt::Key_PageUp);
    r.key(Qt::Key_PageUp); // below the minimum: clamped
    r.key(Qt::Key_End);
    r.key(Qt::Key_Right); // at the maximum: unchanged, still reported
    r.key(Qt::Key_Down);
    r.key(Qt::Key_Left);
    r.key(Qt::Key_Up);
    r.key(Qt::Key_Home);
    r.key(Qt::Key_A); // not a slider key: nothing
    EXPECT_EQ(r.delivered(), (std::vector{set(20), set(0), set(0), set(65535), set(65535), set(65535),
                                          set(65534), set(65533), set(0)}));
}

TEST(BitmapSlider, KeepsEnterAndEscapeFromTheDialog) {
    // The slider wants every key while focused, so the window does not act on them.
    SliderRig r;
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_A}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(r.slider, &press);
        EXPECT_TRUE(press.isAccepted()) << key;
    }
    EXPECT_TRUE(r.delivered().empty());
}

TEST(BitmapSlider, TabStillMovesTheFocusOn) {
    SliderRig r;
    auto* next = new QWidget(r.parent.get());
    next->setFocusPolicy(Qt::StrongFocus);
    r.parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(r.parent.get()));
    r.slider->setFocus();
    ASSERT_TRUE(r.slider->hasFocus());
    r.key(Qt::Key_Tab);
    EXPECT_TRUE(next->hasFocus());
    EXPECT_TRUE(r.delivered().empty());
}

TEST(BitmapSlider, VerticalSliderTravelsDownwards) {
    Backdrop parent(kBackdrop);
    CBitmapSlider s(&parent);
    s.setControlId(7);
    s.SetVertical(true);
    s.SetThumbImage(thumbPicture({9, 10}));
    s.SetChannelImage(channelPicture({9, 124}));
    s.SetRange(0, 65535);
    EXPECT_EQ(s.axis().length, 124);
    EXPECT_EQ(s.axis().thumb, 10);
    s.SetPosition(32768);
    EXPECT_EQ(s.thumbRect(), QRect(0, 57, 9, 10));
    QTest::mousePress(&s, Qt::LeftButton, {}, QPoint(100, 119)); // x plays no part
    EXPECT_EQ(s.GetPos(), 65535);
    QTest::mouseRelease(&s, Qt::LeftButton, {}, QPoint(100, 119));
    QCoreApplication::sendPostedEvents(&parent);
    EXPECT_EQ(parent.messages,
              (std::vector<Message>{{WM_SLIDER_TRACK, 7, 65535}, {WM_SLIDER_SET, 7, 65535}}));
}

TEST(BitmapSlider, PictureIsChannelAndThumbOverTheParent) {
    SliderRig r;
    r.slider->SetPosition(32768); // thumb over pixels 57..66
    const QPoint o = r.slider->pos();
    QImage img = r.parent->grab().toImage();
    EXPECT_EQ(img.pixelColor(o + QPoint(20, 0)), kBackdrop); // key colour of the channel
    EXPECT_EQ(img.pixelColor(o + QPoint(20, 4)), kBar);
    EXPECT_EQ(img.pixelColor(o + QPoint(60, 1)), kThumb);
    EXPECT_EQ(img.pixelColor(o + QPoint(57, 0)), kBackdrop); // the thumb's own key corner
    EXPECT_EQ(img.pixelColor(o + QPoint(66, 8)), kBackdrop);
    EXPECT_EQ(img.pixelColor(o + QPoint(66, 4)), kThumb);

    // Moved: the old place shows the channel again, the thumb is drawn at the new one.
    r.slider->SetPosition(0);
    img = r.parent->grab().toImage();
    EXPECT_EQ(img.pixelColor(o + QPoint(60, 1)), kBackdrop);
    EXPECT_EQ(img.pixelColor(o + QPoint(60, 4)), kBar);
    EXPECT_EQ(img.pixelColor(o + QPoint(3, 1)), kThumb);
}

TEST(BitmapSlider, FocusRectangleOnlyWhenAskedFor) {
    SliderRig r;
    const QImage unfocused = r.slider->grab().toImage();
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(r.slider, &in);
    EXPECT_EQ(r.slider->grab().toImage(), unfocused); // the main window's sliders show none
    r.slider->ShowFocusRect(true);
    EXPECT_NE(r.slider->grab().toImage(), unfocused);
    QFocusEvent out(QEvent::FocusOut, Qt::MouseFocusReason);
    QApplication::sendEvent(r.slider, &out);
    EXPECT_EQ(r.slider->grab().toImage(), unfocused);
}

TEST(BitmapSlider, BuiltInSliderPictures) {
    const QImage channel = res::bitmap(1042);
    if (channel.isNull())
        GTEST_SKIP() << "the built-in slider pictures are not available in this build";
    for (auto [channelId, thumbId] : {std::pair{1042, 320}, std::pair{1043, 319}}) {
        Backdrop parent(kBackdrop);
        CBitmapSlider s(&parent);
        s.ShowFocusRect(false);
        EXPECT_TRUE(s.SetThumbImage(thumbId));
        EXPECT_TRUE(s.SetChannelImage(channelId));
        s.SetRange(0, 65535);
        EXPECT_EQ(s.size(), QSize(124, 9));
        EXPECT_EQ(s.thumbSize(), QSize(10, 9));
        EXPECT_EQ(SliderTravel(s.axis()), 114);
    }
}

TEST(Volume, OneRuleBothWays) {
    EXPECT_EQ(volume::FromSliderPosition(40000, false, 65535), 40000);
    EXPECT_EQ(volume::FromSliderPosition(0, true, 65535), 65535); // top of a vertical slider is loud
    EXPECT_EQ(volume::FromSliderPosition(65535, true, 65535), 0);
    EXPECT_EQ(volume::FromSliderPosition(10, true, 100), 90);
    for (int v : {0, 1, 32767, 65535}) {
        EXPECT_EQ(volume::FromSliderPosition(volume::ToSliderPosition(v, true, 65535), true, 65535), v);
        EXPECT_EQ(volume::ToSliderPosition(v, false, 65535), v);
    }
}

TEST(Volume, InitialPositionFromTheEngine) {
    EXPECT_EQ(volume::InitialSliderPosition(70000, false, 65535), 65535);
    EXPECT_EQ(volume::InitialSliderPosition(40000, false, 65535), 40000);
    EXPECT_EQ(volume::InitialSliderPosition(70000, true, 65535), 0);
    EXPECT_EQ(volume::InitialSliderPosition(65535, false, 65535), 65535);

    // On a main-window slider: 40000 puts the thumb centre at 74, one Right asks for 40001.
    SliderRig r;
    r.slider->SetPosition(volume::InitialSliderPosition(40000, false, r.slider->GetRangeMax()));
    EXPECT_EQ(r.centre(), 74);
    EXPECT_TRUE(r.delivered().empty());
    r.key(Qt::Key_Right);
    const auto got = r.delivered();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(volume::FromSliderPosition(got[0].lParam, r.slider->IsVertical(), r.slider->GetRangeMax()),
              40001);
}
