// Draws every image and sound the program ships.
//   orvane_resgen <image dir> <sound dir> <preview dir> <icon dir>
// Images go to <image dir> with an rcc collection file (orvane_images.qrc) listing them;
// sounds go to <sound dir>; pictures of the windows with their controls in place go to
// <preview dir>, for checking the layout by eye; the icon for the desktop's icon theme
// (icon-48.png, icon-128.png, icon-256.png and the scalable icon.svg) goes to <icon dir>.
#include "Artwork.h"
#include "Sounds.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>

namespace gen {
void writePreviews(const QString& dir, const std::map<int, QImage>& skins,
                   const std::map<QString, QImage>& named, const std::map<int, QImage>& bitmaps);
}

namespace {

bool save(const QImage& img, const QString& dir, const QString& relative, QStringList& listed) {
    const QString path = dir + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (img.isNull() || !img.save(path, "PNG")) {
        std::fprintf(stderr, "orvane_resgen: cannot write %s\n", qPrintable(path));
        return false;
    }
    listed << relative;
    return true;
}

bool writeQrc(const QString& path, const QStringList& files) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&f);
    out << "<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/orvane\">\n";
    for (const QString& file : files)
        out << "    <file>" << file << "</file>\n";
    out << "</qresource>\n</RCC>\n";
    return out.status() == QTextStream::Ok;
}

} // namespace

int main(int argc, char** argv) {
    // A build machine has no display; the fonts only need the offscreen platform.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: orvane_resgen <image dir> <sound dir> <preview dir> <icon dir>\n");
        return 2;
    }
    const QString imageDir = QString::fromLocal8Bit(argv[1]);
    const QString soundDir = QString::fromLocal8Bit(argv[2]);
    const QString previewDir = QString::fromLocal8Bit(argv[3]);
    const QString iconDir = QString::fromLocal8Bit(argv[4]);

    bool ok = true;
    QStringList listed;

    std::map<int, QImage> skins;
    for (int id : {355, 332, 329, 331})
        skins[id] = gen::drawSkin(id);

    std::map<int, QImage> bitmaps = skins;
    bitmaps[1042] = gen::drawChannel(1042, skins.at(355));
    bitmaps[1043] = gen::drawChannel(1043, skins.at(355));
    bitmaps[320] = gen::drawThumb(320, skins.at(355));
    bitmaps[319] = gen::drawThumb(319, skins.at(355));
    bitmaps[350] = gen::drawCloseImage(skins.at(331));
    for (const auto& [id, img] : bitmaps)
        ok = save(img, imageDir, QStringLiteral("bitmaps/%1.png").arg(id), listed) && ok;

    std::map<QString, QImage> named;
    for (const gen::Named& b : gen::drawButtons(skins)) {
        named[b.name] = b.image;
        ok = save(b.image, imageDir, QStringLiteral("buttons/%1.png").arg(b.name), listed) && ok;
    }

    for (int size : {16, 32, 48, 256})
        ok = save(gen::drawIcon(size), imageDir, QStringLiteral("icon/128-%1.png").arg(size), listed) && ok;
    // The desktop's copies stay out of the collection: the program does not load them.
    QStringList desktopIcons;
    for (int size : {48, 128, 256})
        ok = save(gen::drawIcon(size), iconDir, QStringLiteral("icon-%1.png").arg(size), desktopIcons) && ok;
    if (!gen::writeIconSvg(iconDir + QStringLiteral("/icon.svg"))) {
        std::fprintf(stderr, "orvane_resgen: cannot write the scalable icon into %s\n", qPrintable(iconDir));
        ok = false;
    }

    if (!writeQrc(imageDir + QStringLiteral("/orvane_images.qrc"), listed)) {
        std::fprintf(stderr, "orvane_resgen: cannot write the collection file\n");
        ok = false;
    }
    if (!gen::writeSounds(soundDir)) {
        std::fprintf(stderr, "orvane_resgen: cannot write the sounds into %s\n", qPrintable(soundDir));
        ok = false;
    }
    gen::writePreviews(previewDir, skins, named, bitmaps);
    return ok ? 0 : 1;
}
