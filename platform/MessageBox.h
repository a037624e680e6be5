// Message boxes go through this interface so that logic never opens a modal box itself: the
// program shows a QMessageBox, tests record the texts.
#pragma once

#include <QString>

class QWidget;

enum class BoxIcon { None, Information, Warning, Error };

// The title of every box that does not name its own.
inline const QString kAppTitle = QStringLiteral("Orvane Softphone");

class IMessageBox {
public:
    virtual ~IMessageBox() = default;
    // A modal box with an OK button; returns when the user has closed it.
    virtual void show(const QString& text, const QString& title = kAppTitle,
                      BoxIcon icon = BoxIcon::None) = 0;
};

// The real boxes, owned by `parent` (none: a box of its own).
class QtMessageBox : public IMessageBox {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const QString& text, const QString& title = kAppTitle, BoxIcon icon = BoxIcon::None) override;

private:
    QWidget* parent_;
};
