#include "Sounds.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace gen {

namespace {

constexpr int kRate = 16000;

struct Key {
    const char* name;
    double low, high;
};

// The DTMF keypad: rows 697/770/852/941 Hz, columns 1209/1336/1477 Hz.
constexpr Key kKeys[] = {
    {"1", 697, 1209}, {"2", 697, 1336},    {"3", 697, 1477}, {"4", 770, 1209},
    {"5", 770, 1336}, {"6", 770, 1477},    {"7", 852, 1209}, {"8", 852, 1336},
    {"9", 852, 1477}, {"star", 941, 1209}, {"0", 941, 1336}, {"pound", 941, 1477},
};

// Two sines of equal level, with raised-cosine fades so the tone starts and stops without a
// click.
std::vector<qint16> dualTone(double f1, double f2, double seconds, double level, double fade) {
    const int n = int(std::lround(seconds * kRate));
    const int fadeN = int(std::lround(fade * kRate));
    std::vector<qint16> out(n);
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        double v =
            level * (std::sin(2 * std::numbers::pi * f1 * t) + std::sin(2 * std::numbers::pi * f2 * t));
        const int edge = std::min(i, n - 1 - i);
        if (edge < fadeN)
            v *= 0.5 - 0.5 * std::cos(std::numbers::pi * edge / fadeN);
        out[i] = qint16(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
    return out;
}

template <typename T> void put(QByteArray& b, T v) {
    const T le = qToLittleEndian(v);
    b.append(reinterpret_cast<const char*>(&le), sizeof le);
}

bool writeWav(const QString& path, const std::vector<qint16>& samples) {
    const quint32 dataBytes = quint32(samples.size() * sizeof(qint16));
    QByteArray b;
    b.append("RIFF");
    put<quint32>(b, 36 + dataBytes);
    b.append("WAVE");
    b.append("fmt ");
    put<quint32>(b, 16);
    put<quint16>(b, 1); // PCM
    put<quint16>(b, 1); // mono
    put<quint32>(b, kRate);
    put<quint32>(b, kRate * 2); // bytes per second
    put<quint16>(b, 2);         // bytes per frame
    put<quint16>(b, 16);        // bits per sample
    b.append("data");
    put<quint32>(b, dataBytes);
    for (qint16 s : samples)
        put<qint16>(b, s);
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(b) == b.size();
}

} // namespace

bool writeSounds(const QString& dir) {
    if (!QDir().mkpath(dir))
        return false;
    bool ok = true;
    for (const Key& k : kKeys)
        ok = writeWav(dir + QStringLiteral("/Dtmf-%1.wav").arg(QLatin1String(k.name)),
                      dualTone(k.low, k.high, 0.15, 0.35, 0.005)) &&
             ok;
    // Ringback: the program plays it again every 3 s, so 2 s of tone leave a 1 s pause.
    ok = writeWav(dir + QStringLiteral("/ring.wav"), dualTone(440, 480, 2.0, 0.25, 0.02)) && ok;
    return ok;
}

} // namespace gen
