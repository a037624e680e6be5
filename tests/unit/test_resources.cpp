// The built-in images and the sound files: names, sizes, key colours, placement on the skins,
// and that every dial-pad tone really is its DTMF pair.
#include "platform/Paths.h"
#include "res/Resources.h"
#include "test_skin_support.h"

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace {

using skintest::kKey;

bool isKey(QRgb c) {
    return (c & 0xFFFFFF) == (kKey & 0xFFFFFF);
}

// Anti-aliasing against the key colour leaves pinkish blends that show as a fringe once the
// key colour is cut out; no opaque pixel may come near it.
bool nearKey(QRgb c) {
    return !isKey(c) && std::abs(qRed(c) - 255) + std::abs(qGreen(c) - 48) + std::abs(qBlue(c) - 255) < 90;
}

int countPixels(const QImage& img, bool (*pred)(QRgb)) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += pred(img.pixel(x, y)) ? 1 : 0;
    return n;
}

QRect du(int x, int y, int w, int h) {
    return QRect(x * 6 / 4, y * 13 / 8, w * 6 / 4, h * 13 / 8);
}
QPoint duPos(int x, int y) {
    return QPoint(x * 6 / 4, y * 13 / 8);
}

// ---------------------------------------------------------------------------------------------
// Command buttons: every row of the button table, with its size and whether it has a down image.

struct ButtonRow {
    const char* caption;
    int w, h;
    bool hasDown;
};

const ButtonRow kButtons[] = {
    {"feedback", 79, 24, true},     {"cmdRedial", 25, 26, true}, {"cmdOne", 36, 32, true},
    {"cmdTwo", 36, 32, true},       {"cmdThree", 36, 32, true},  {"cmdFour", 36, 32, true},
    {"cmdFive", 36, 32, true},      {"cmdSix", 36, 32, true},    {"cmdSeven", 36, 32, true},
    {"cmdEight", 36, 32, true},     {"cmdNine", 36, 32, true},   {"cmdZero", 36, 32, true},
    {"cmdStar", 36, 32, true},      {"cmdPound", 36, 32, true},  {"cmdPickup", 65, 40, true},
    {"cmdHangup", 65, 40, true},    {"cmdAudio", 79, 24, true},  {"cmdCallHistory", 79, 24, true},
    {"cmdRate", 79, 23, true},      {"cmdPhone", 79, 24, true},  {"cmdRegister", 68, 28, true},
    {"cmdMinimize", 17, 11, false}, {"cmdCross", 19, 16, false}, {"cmdLogOff", 26, 24, false},
    {"cmdAccount", 50, 21, true},   {"cmdBack", 25, 25, true},   {"cmdClear", 78, 43, true},
    {"cmd_clear1", 25, 25, true},   {"cmdClose", 75, 38, true},  {"cmdLogin", 97, 34, true},
    {"cmdExit", 97, 33, true},      {"cmdAdd", 60, 36, true},    {"cmdEdit", 62, 36, true},
    {"cmdDelete", 63, 36, true},    {"cmdCall", 60, 36, true},
};

QString upName(const ButtonRow& b) {
    return QString::fromLatin1(b.caption).toUpper() + QLatin1Char('U');
}
QString downName(const ButtonRow& b) {
    return QString::fromLatin1(b.caption).toUpper() + QLatin1Char('D');
}

TEST(ButtonImages, EveryButtonHasItsUpImageAtItsExactSize) {
    for (const ButtonRow& b : kButtons) {
        SCOPED_TRACE(b.caption);
        const QImage up = res::namedBitmap(upName(b));
        ASSERT_FALSE(up.isNull());
        EXPECT_EQ(up.size(), QSize(b.w, b.h));
        EXPECT_FALSE(up.hasAlphaChannel());
        // Something is drawn: at least half of the image is not cut out.
        EXPECT_GT(countPixels(up, [](QRgb c) { return !isKey(c); }), b.w * b.h / 2);
    }
}

TEST(ButtonImages, DownImagesExistExactlyWhereListedAndLookPressed) {
    for (const ButtonRow& b : kButtons) {
        SCOPED_TRACE(b.caption);
        const QImage down = res::namedBitmap(downName(b));
        if (!b.hasDown) {
            EXPECT_TRUE(down.isNull());
            continue;
        }
        ASSERT_FALSE(down.isNull());
        const QImage up = res::namedBitmap(upName(b));
        ASSERT_EQ(down.size(), up.size());
        int differing = 0;
        for (int y = 0; y < up.height(); ++y)
            for (int x = 0; x < up.width(); ++x) {
                const QRgb u = up.pixel(x, y), d = down.pixel(x, y);
                if (std::abs(qRed(u) - qRed(d)) + std::abs(qGreen(u) - qGreen(d)) +
                        std::abs(qBlue(u) - qBlue(d)) >
                    30)
                    ++differing;
            }
        EXPECT_GT(differing, up.width() * up.height() / 4) << "the pressed picture barely differs";
    }
}

TEST(ButtonImages, NamesAreCaseInsensitiveAndNothingElseIsFound) {
    const QImage upper = res::namedBitmap(QStringLiteral("CMDPICKUPU"));
    ASSERT_FALSE(upper.isNull());
    EXPECT_EQ(res::namedBitmap(QStringLiteral("cmdPickupU")), upper);
    EXPECT_EQ(res::namedBitmap(QStringLiteral("cmdpickupu")), upper);
    EXPECT_EQ(res::namedBitmap(QStringLiteral("Cmd_Clear1d")),
              res::namedBitmap(QStringLiteral("CMD_CLEAR1D")));
    EXPECT_FALSE(res::namedBitmap(QStringLiteral("Cmd_Clear1d")).isNull());

    EXPECT_TRUE(res::namedBitmap(QStringLiteral("CMDNOSUCHU")).isNull());
    EXPECT_TRUE(res::namedBitmap(QStringLiteral("CMDPICKUP")).isNull()); // no state letter
    EXPECT_TRUE(res::namedBitmap(QString()).isNull());
    EXPECT_TRUE(res::namedBitmap(QStringLiteral("../bitmaps/355")).isNull());
    EXPECT_TRUE(res::namedBitmap(QStringLiteral("CMDPICKUPU.png")).isNull());
}

TEST(ButtonImages, NoEdgeBlendsWithTheKeyColour) {
    for (const ButtonRow& b : kButtons)
        for (const QString& name : {upName(b), downName(b)}) {
            const QImage img = res::namedBitmap(name);
            if (!img.isNull()) {
                EXPECT_EQ(countPixels(img, nearKey), 0) << qPrintable(name);
            }
        }
}

// ---------------------------------------------------------------------------------------------
// Skins.

struct SkinRow {
    int id;
    int w, h;
};

const SkinRow kSkins[] = {{355, 285, 473}, {332, 289, 412}, {329, 289, 300}, {331, 289, 412}};

TEST(Skins, SizesKeyColourAndCleanOutline) {
    for (const SkinRow& s : kSkins) {
        SCOPED_TRACE(s.id);
        const QImage img = res::bitmap(s.id);
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.size(), QSize(s.w, s.h));
        EXPECT_FALSE(img.hasAlphaChannel());
        EXPECT_EQ(img.pixel(0, 0) & 0xFFFFFF, kKey & 0xFFFFFF);
        // Rounded outline: all four corners are cut out, the middle is the window.
        EXPECT_TRUE(isKey(img.pixel(s.w - 1, 0)));
        EXPECT_TRUE(isKey(img.pixel(0, s.h - 1)));
        EXPECT_TRUE(isKey(img.pixel(s.w - 1, s.h - 1)));
        EXPECT_FALSE(isKey(img.pixel(s.w / 2, s.h / 2)));
        EXPECT_EQ(countPixels(img, nearKey), 0) << "the outline is blended with the key colour";
        // Cut-out pixels only round the corners: no holes inside the window.
        EXPECT_LT(countPixels(img, isKey), s.w * s.h / 50);
    }
}

TEST(Skins, UnknownIdsGiveNothing) {
    EXPECT_TRUE(res::bitmap(9999).isNull());
    EXPECT_TRUE(res::bitmap(-1).isNull());
    EXPECT_TRUE(res::bitmap(0).isNull());
}

// A control placed on a cut-out part of its skin would be invisible or clipped: every visible
// control must lie on opaque skin.
void expectOpaqueUnder(const QImage& skin, const QRect& r, const char* what) {
    int cut = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (!skin.valid(x, y) || isKey(skin.pixel(x, y)))
                ++cut;
    EXPECT_EQ(cut, 0) << what << " at " << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

struct Placed {
    const char* what; // image name base for buttons, else a description
    int x, y, w, h;   // dialog units; w = h = 0 for buttons (their image gives the size)
};

void expectPlaced(int skinId, std::initializer_list<Placed> controls) {
    const QImage skin = res::bitmap(skinId);
    ASSERT_FALSE(skin.isNull());
    for (const Placed& c : controls) {
        QRect r = du(c.x, c.y, c.w, c.h);
        if (c.w == 0) {
            const QImage img = res::namedBitmap(QString::fromLatin1(c.what) + QLatin1Char('U'));
            ASSERT_FALSE(img.isNull()) << c.what;
            r = QRect(duPos(c.x, c.y), img.size());
        }
        expectOpaqueUnder(skin, r, c.what);
    }
}

TEST(Skins, MainWindowControlsLieOnTheSkin) {
    expectPlaced(355, {
                          {"number field", 25, 93, 86, 12},
                          {"registration status", 23, 47, 84, 8},
                          {"balance", 23, 58, 84, 8},
                          {"call status", 23, 69, 84, 8},
                          {"call timer", 24, 81, 49, 8},
                          {"web link", 9, 14, 105, 13},
                          {"microphone slider", 24, 251, 83, 6}, // 124 x 9 px
                          {"speaker slider", 24, 264, 83, 6},
                          {"CMDPICKUP", 24, 128, 0, 0},
                          {"CMDHANGUP", 67, 128, 0, 0},
                          {"CMDONE", 24, 155, 0, 0},
                          {"CMDTHREE", 83, 155, 0, 0},
                          {"CMDSTAR", 24, 225, 0, 0},
                          {"CMDPOUND", 83, 225, 0, 0},
                          {"CMDRATE", 113, 156, 0, 0},
                          {"CMDCALLHISTORY", 113, 229, 0, 0},
                          {"CMDACCOUNT", 33, 109, 0, 0},
                          {"CMDREDIAL", 90, 108, 0, 0},
                          {"CMD_CLEAR1", 113, 108, 0, 0},
                          {"CMDBACK", 136, 108, 0, 0},
                          {"CMDMINIMIZE", 150, 15, 0, 0},
                          {"CMDCROSS", 163, 14, 0, 0},
                      });
}

TEST(Skins, SecondaryWindowControlsLieOnTheirSkins) {
    expectPlaced(332, {
                          {"lists", 15, 40, 164, 168},
                          {"tab Dialed", 27, 31, 20, 8},
                          {"tab Missed", 147, 31, 21, 8},
                          {"CMDCLEAR", 33, 209, 0, 0},
                          {"CMDCLOSE", 111, 210, 0, 0},
                      });
    expectPlaced(329, {
                          {"user name", 81, 54, 80, 12},
                          {"password", 81, 77, 80, 12},
                          {"save box", 85, 100, 10, 10},
                          {"label Username", 29, 54, 48, 10},
                          {"CMDLOGIN", 27, 144, 0, 0},
                          {"CMDEXIT", 106, 144, 0, 0},
                      });
    expectPlaced(331, {
                          {"close image", 166, 12, 13, 10},
                          {"list", 12, 26, 171, 150},
                          {"name field", 69, 179, 85, 14},
                          {"number field", 69, 195, 85, 13},
                          {"CMDADD", 16, 212, 0, 0},
                          {"CMDDELETE", 136, 212, 0, 0},
                      });
}

// ---------------------------------------------------------------------------------------------
// Slider parts, the phone book's close image and the icon.

TEST(SliderImages, ChannelsAndThumbsHaveTheirSizesAndKeyedCorners) {
    const std::pair<int, QSize> parts[] = {
        {1042, {124, 9}}, {1043, {124, 9}}, {320, {10, 9}}, {319, {10, 9}}};
    for (const auto& [id, size] : parts) {
        SCOPED_TRACE(id);
        const QImage img = res::bitmap(id);
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.size(), size);
        EXPECT_TRUE(isKey(img.pixel(0, 0)));
        EXPECT_GT(countPixels(img, [](QRgb c) { return !isKey(c); }), size.width() * 2);
        EXPECT_EQ(countPixels(img, nearKey), 0);
    }
    // The thumb is round: the key colour shows around it, so the channel shows beside it.
    EXPECT_GT(countPixels(res::bitmap(320), isKey), 4);
}

TEST(SliderImages, PhoneBookCloseImageExists) {
    const QImage img = res::bitmap(350);
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(19, 16));
}

TEST(AppIcon, OffersTheUsualSizes) {
    const QIcon icon = res::appIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    for (int s : {16, 32, 48, 256})
        EXPECT_TRUE(sizes.contains(QSize(s, s))) << s;
    const QImage img = icon.pixmap(QSize(48, 48)).toImage();
    ASSERT_FALSE(img.isNull());
    EXPECT_EQ(img.size(), QSize(48, 48));
}

// ---------------------------------------------------------------------------------------------
// Sounds.

struct Wav {
    int format = 0, channels = 0, rate = 0, bits = 0;
    std::vector<double> samples; // -1 .. 1
    bool ok = false;
};

// Little-endian fields read byte by byte (the compiler cannot prove a QByteArray's data is
// longer than its shared empty buffer, and warns about qFromLittleEndian on it).
quint32 le(const QByteArray& b, qsizetype at, int bytes) {
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(b[at + i]);
    return v;
}

Wav readWav(const QString& path) {
    Wav w;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return w;
    const QByteArray b = f.readAll();
    if (b.size() < 12 || b.left(4) != "RIFF" || b.mid(8, 4) != "WAVE")
        return w;
    if (le(b, 4, 4) != quint32(b.size() - 8))
        return w;
    bool haveFmt = false;
    qsizetype pos = 12;
    while (pos + 8 <= b.size()) {
        const QByteArray id = b.mid(pos, 4);
        const quint32 len = le(b, pos + 4, 4);
        const qsizetype body = pos + 8;
        if (body + qsizetype(len) > b.size())
            return w;
        if (id == "fmt " && len >= 16) {
            w.format = quint16(le(b, body, 2));
            w.channels = quint16(le(b, body + 2, 2));
            w.rate = int(le(b, body + 4, 4));
            w.bits = quint16(le(b, body + 14, 2));
            haveFmt = true;
        } else if (id == "data" && haveFmt && w.bits == 16) {
            for (quint32 i = 0; i + 1 < len; i += 2)
                w.samples.push_back(static_cast<qint16>(le(b, body + i, 2)) / 32768.0);
            w.ok = true;
        }
        pos = body + len + (len & 1);
    }
    return w;
}

// Power of one frequency in the signal (Goertzel), normalised by the signal's length.
double powerAt(const std::vector<double>& x, double freq, int rate) {
    const double k = 2 * std::cos(2 * std::numbers::pi * freq / rate);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s = v + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double p = s1 * s1 + s2 * s2 - k * s1 * s2;
    return p / (double(x.size()) * double(x.size()));
}

struct ToneRow {
    const char* file;
    double low, high;
};

const ToneRow kTones[] = {
    {"Dtmf-1.wav", 697, 1209},    {"Dtmf-2.wav", 697, 1336}, {"Dtmf-3.wav", 697, 1477},
    {"Dtmf-4.wav", 770, 1209},    {"Dtmf-5.wav", 770, 1336}, {"Dtmf-6.wav", 770, 1477},
    {"Dtmf-7.wav", 852, 1209},    {"Dtmf-8.wav", 852, 1336}, {"Dtmf-9.wav", 852, 1477},
    {"Dtmf-star.wav", 941, 1209}, {"Dtmf-0.wav", 941, 1336}, {"Dtmf-pound.wav", 941, 1477},
};

const double kDtmfFreqs[] = {697, 770, 852, 941, 1209, 1336, 1477};

void expectPlayableFormat(const Wav& w) {
    ASSERT_TRUE(w.ok);
    EXPECT_EQ(w.format, 1); // PCM
    EXPECT_EQ(w.channels, 1);
    EXPECT_EQ(w.rate, 16000);
    EXPECT_EQ(w.bits, 16);
    // Fades in and out: no click at either end, and never clipped.
    ASSERT_GT(w.samples.size(), 100u);
    EXPECT_LT(std::abs(w.samples.front()), 0.02);
    EXPECT_LT(std::abs(w.samples.back()), 0.02);
    double peak = 0;
    for (double v : w.samples)
        peak = std::max(peak, std::abs(v));
    EXPECT_GT(peak, 0.2);
    EXPECT_LT(peak, 0.999);
}

TEST(Sounds, EveryDialPadToneIsItsOwnDtmfPair) {
    const QString dir = paths::soundDir();
    for (const ToneRow& t : kTones) {
        SCOPED_TRACE(t.file);
        const Wav w = readWav(dir + QLatin1Char('/') + QLatin1String(t.file));
        expectPlayableFormat(w);
        if (!w.ok)
            continue;
        const double seconds = double(w.samples.size()) / w.rate;
        EXPECT_GE(seconds, 0.1);
        EXPECT_LE(seconds, 0.25);
        const double low = powerAt(w.samples, t.low, w.rate);
        const double high = powerAt(w.samples, t.high, w.rate);
        EXPECT_GT(low, 0.01);
        EXPECT_GT(high, 0.01);
        EXPECT_LT(std::abs(low - high), 0.5 * std::max(low, high)) << "the two tones differ in level";
        for (double f : kDtmfFreqs) {
            if (f == t.low || f == t.high)
                continue;
            EXPECT_LT(powerAt(w.samples, f, w.rate), 0.02 * std::min(low, high)) << f << " Hz is present";
        }
    }
}

TEST(Sounds, RingbackIsAboutTwoSecondsOfItsTwoTones) {
    const Wav w = readWav(paths::soundDir() + QStringLiteral("/ring.wav"));
    expectPlayableFormat(w);
    ASSERT_TRUE(w.ok);
    const double seconds = double(w.samples.size()) / w.rate;
    EXPECT_GE(seconds, 1.5);
    EXPECT_LE(seconds, 2.5);
    const double a = powerAt(w.samples, 440, w.rate);
    const double b = powerAt(w.samples, 480, w.rate);
    EXPECT_GT(a, 0.005);
    EXPECT_GT(b, 0.005);
    for (double f : {350.0, 620.0, 697.0, 1209.0})
        EXPECT_LT(powerAt(w.samples, f, w.rate), 0.02 * std::min(a, b)) << f;
}

} // namespace
