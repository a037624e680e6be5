// What the fuzz targets share: a failed property aborts with a readable message (libFuzzer then
// keeps the input as a crash), and a private scratch folder for the parsers that read files.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line, const QString& detail = {}) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "%s\n", detail.toUtf8().constData());
    std::abort();
}

// The code units of a string, so that a failure shows blanks, line breaks and surrogates.
inline QString Dump(const QString& s) {
    QString out = QStringLiteral("\"");
    for (const QChar c : s) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7F && u != '"' && u != '\\')
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QLatin1Char('0'));
    }
    return out + u'"';
}

// A scratch folder that lives as long as the process: under $TMPDIR when the runner sets it,
// else in /dev/shm (memory, so that a file per input costs little), else the system's.
inline QString ScratchBase() {
    const QString base = qEnvironmentVariable("TMPDIR");
    if (!base.isEmpty())
        return base;
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

inline const QString& ScratchDir() {
    static QTemporaryDir dir(ScratchBase() + QStringLiteral("/orvane-fuzz-XXXXXX"));
    if (!dir.isValid())
        Fail("a scratch folder can be made", __FILE__, __LINE__, dir.errorString());
    static const QString path = dir.path();
    return path;
}

// Replaces `path` with exactly these bytes.
inline void WriteFile(const QString& path, const uint8_t* data, size_t size) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        Fail("the input can be written to a file", __FILE__, __LINE__, path + u' ' + file.errorString());
}

} // namespace fuzz

#define FUZZ_CHECK(cond) ((cond) ? void(0) : ::fuzz::Fail(#cond, __FILE__, __LINE__))
#define FUZZ_CHECK_MSG(cond, detail) ((cond) ? void(0) : ::fuzz::Fail(#cond, __FILE__, __LINE__, (detail)))
