#include "platform/MessageBox.h"

#include <QMessageBox>

void QtMessageBox::show(const QString& text, const QString& title, BoxIcon icon) {
    QMessageBox::Icon qicon = QMessageBox::NoIcon;
    switch (icon) {
    case BoxIcon::None:
        break;
    case BoxIcon::Information:
        qicon = QMessageBox::Information;
        break;
    case BoxIcon::Warning:
        qicon = QMessageBox::Warning;
        break;
    case BoxIcon::Error:
        qicon = QMessageBox::Critical;
        break;
    }
    QMessageBox box(qicon, title, text, QMessageBox::Ok, parent_);
    // Texts quote links, numbers and server answers: never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
