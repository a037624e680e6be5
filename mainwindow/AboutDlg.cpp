#include "mainwindow/AboutDlg.h"

#include "res/Resources.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About KestuSoftPhone"));
    setObjectName(QStringLiteral("aboutBox"));
    auto* icon = new QLabel;
    icon->setPixmap(res::appIcon().pixmap(32, 32));
    auto* version = new QLabel(QStringLiteral("KestuSoftPhone Version 1.0"));
    auto* line =
        new QLabel(QStringLiteral("Orvane Softphone, the SIP phone of the Orvane prepaid calling service."));
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* texts = new QVBoxLayout;
    texts->addWidget(version);
    texts->addWidget(line);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(texts, 1);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addWidget(ok);
}
