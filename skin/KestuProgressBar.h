// The audio level bars: plain vertical progress bars.
#pragma once

#include <QProgressBar>

class CKestuProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit CKestuProgressBar(QWidget* parent = nullptr) : QProgressBar(parent) {
        setOrientation(Qt::Vertical);
        setTextVisible(false);
    }
};
