#include "res/Resources.h"

#include <QRegularExpression>

// The images live in an rcc blob compiled into this static library. Registering it here, from
// the only file its users reach, makes the linker keep it without any call on their side.
static void registerImages() {
    static const bool done = [] {
        Q_INIT_RESOURCE(orvane_images);
        return true;
    }();
    (void)done;
}

namespace res {

QImage bitmap(int id) {
    registerImages();
    if (id < 0)
        return {};
    return QImage(QStringLiteral(":/orvane/bitmaps/%1.png").arg(id));
}

QImage namedBitmap(const QString& name) {
    registerImages();
    // Resource names are plain identifiers; anything else cannot name one of ours.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_]+\\z"));
    if (!plain.match(name).hasMatch())
        return {};
    return QImage(QStringLiteral(":/orvane/buttons/%1.png").arg(name.toUpper()));
}

QIcon appIcon() {
    registerImages();
    QIcon icon;
    for (int size : {16, 32, 48, 256})
        icon.addFile(QStringLiteral(":/orvane/icon/128-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace res
