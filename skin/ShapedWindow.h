// Gives a frameless window the outline of its skin bitmap and lets the user drag it by its
// background. The window creates one ShapedWindow for itself and does nothing else: the helper
// watches the window's resizes and mouse presses.
#pragma once

#include "skin/DialogUnits.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRegion>
#include <QSize>

#include <functional>

class QWidget;

class ShapedWindow : public QObject {
    Q_OBJECT
public:
    using SkinLoader = std::function<QImage()>;

    // The skin is a built-in bitmap (res::bitmap) ...
    ShapedWindow(QWidget* window, int skinBitmapId);
    // ... or whatever the loader returns. The loader runs once, at the window's first resize.
    ShapedWindow(QWidget* window, SkinLoader loader);

    bool isShaped() const { return shaped_; }
    QSize skinSize() const { return skinSize_; }
    QRegion shape() const { return shape_; }
    const QImage& skin() const { return skin_; }

    // What the window's every resize runs: the first time, build the outline, apply it, give the
    // window the skin's size and centre it on the primary screen; every later time, only apply the
    // stored outline again (no reload, no rescan, no move).
    void applyShape();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildShape();

    QWidget* window_;
    SkinLoader loader_;
    QImage skin_;
    QSize skinSize_;
    QRegion shape_;
    bool shaped_ = false;

    // Dragging by hand, for platforms that will not run a move of their own.
    bool manualDrag_ = false;
    QPoint dragStartGlobal_;
    QPoint dragStartWindow_;
};
