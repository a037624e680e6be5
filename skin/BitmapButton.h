// A command button drawn from two pictures named after its caption: caption + "U" when up and
// caption + "D" while pressed. Key-coloured pixels let the skin show through.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QPixmap>
#include <QString>

class CBitmapButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CBitmapButton(QWidget* parent = nullptr);

    // Loads the built-in pictures caption + "U" (required) and caption + "D" (optional) by name,
    // case-insensitively, and sizes the button to the up picture. Without an up picture the button
    // keeps its size and the result is false. The caption becomes the object name.
    bool AutoLoad(const QString& caption);
    // The same with pictures at hand; a null `down` shows `up` while pressed.
    bool LoadImages(const QImage& up, const QImage& down);

    QString caption() const { return caption_; }
    bool hasUpImage() const { return !up_.isNull(); }
    bool hasDownImage() const { return hasDown_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    QPixmap up_;
    QPixmap down_;
    bool hasDown_ = false;
};
