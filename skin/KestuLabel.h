// A label for skinned windows: its text is drawn straight onto whatever lies beneath, with no
// background of its own.
#pragma once

#include <QLabel>

class CKestuLabel : public QLabel {
    Q_OBJECT
public:
    explicit CKestuLabel(QWidget* parent = nullptr);
    explicit CKestuLabel(const QString& text, QWidget* parent = nullptr);

    // Stores the text and repaints the parent under the label at once, so the new text is drawn on
    // fresh skin (no trace of a longer old text) and is on screen before a slow step that follows.
    // Hides QLabel::setText, which would only schedule the repaint.
    void setText(const QString& text);

    // A link label takes the press and reports it; a plain one lets presses through to the
    // window beneath (which drags the window by them).
    void setClickable(bool on) { clickable_ = on; }
    bool isClickable() const { return clickable_; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // A link label with the keyboard focus is pressed with Space.
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool clickable_ = false;
};
