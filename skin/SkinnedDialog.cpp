#include "skin/SkinnedDialog.h"

#include "res/Resources.h"
#include "skin/BitmapButton.h"
#include "skin/BitmapSlider.h"
#include "skin/DialogUnits.h"
#include "skin/Fonts.h"
#include "skin/KestuEdit.h"
#include "skin/KestuLabel.h"
#include "skin/KestuProgressBar.h"
#include "skin/KeyedImage.h"
#include "skin/ShapedWindow.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

const ControlDef* FindControl(const ControlTable& table, int id) {
    for (const ControlDef& c : table)
        if (c.id == id)
            return &c;
    return nullptr;
}

QString AccessibleNameOf(const ControlDef& def) {
    if (def.name)
        return QString::fromLatin1(def.name);
    if (def.tooltip)
        return QString::fromLatin1(def.tooltip);
    if (def.kind == ControlKind::Label || def.kind == ControlKind::PlainStatic ||
        def.kind == ControlKind::Picture)
        return QString();
    QString caption = QString::fromLatin1(def.caption);
    for (const char* prefix : {"cmd_", "cmd"})
        if (caption.startsWith(QLatin1String(prefix)) && caption.size() > int(qstrlen(prefix)))
            caption = caption.mid(int(qstrlen(prefix)));
    QString readable;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar c = caption.at(i);
        if (i > 0 && c.isUpper() && caption.at(i - 1).isLower())
            readable += QLatin1Char(' ');
        readable += i == 0 ? c.toUpper() : c;
    }
    return readable;
}

SkinnedDialog::SkinnedDialog(QWidget* parent, Qt::WindowFlags flags, int skinBitmapId, int templateWidth,
                             int templateHeight)
    : QDialog(parent, flags | Qt::FramelessWindowHint), skinBitmapId_(skinBitmapId) {
    setWindowTitle(QStringLiteral("Orvane Softphone"));
    resize(dlu::x(templateWidth), dlu::y(templateHeight));
    shape_ = new ShapedWindow(this, skinBitmapId);
}

void SkinnedDialog::createControls(const ControlTable& table) {
    table_ = &table;
    // The skin lies under every control and lets presses through, so that they reach the window
    // and drag it.
    auto* skin = new QLabel(this);
    skin->setObjectName(QStringLiteral("skin"));
    const QImage picture = res::bitmap(skinBitmapId_);
    skin->setPixmap(QPixmap::fromImage(picture));
    skin->setGeometry(QRect(QPoint(0, 0), picture.size()));
    skin->setAttribute(Qt::WA_TransparentForMouseEvents);
    skin->lower();

    for (const ControlDef& def : table) {
        QWidget* w = createControl(def);
        const QString caption = QString::fromLatin1(def.caption);
        w->setObjectName(caption.isEmpty() || def.kind == ControlKind::Picture
                             ? QStringLiteral("ctl%1").arg(def.id)
                             : caption);
        w->setProperty("controlId", def.id);
        w->setGeometry(dlu::rect(def.x, def.y, def.w, def.h));
        if (def.kind == ControlKind::Picture)
            w->resize(w->sizeHint()); // a picture takes its bitmap's size
        if (const QString name = AccessibleNameOf(def); !name.isEmpty())
            w->setAccessibleName(name);
        w->setVisible(def.shown);
        controls_[def.id] = w;
    }
}

QWidget* SkinnedDialog::createControl(const ControlDef& def) {
    const int id = def.id;
    const QString caption = QString::fromLatin1(def.caption);
    switch (def.kind) {
    case ControlKind::Edit: {
        auto* e = new CKestuEdit(this);
        if (def.style & cs::Password)
            e->setEchoMode(QLineEdit::Password);
        if (def.style & cs::Centred)
            e->setAlignment(Qt::AlignCenter);
        e->setFrame(false);
        connect(e, &CKestuEdit::focusReceived, this, [this, id] { onFieldFocus(id); });
        return e;
    }
    case ControlKind::BitmapButton: {
        auto* b = new CBitmapButton(this);
        b->setText(caption);
        // Reached by Tab (and pressed with Space) for those who use the keyboard; a click does
        // not take the focus from the number field.
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QAbstractButton::clicked, this, [this, id] { onCommand(id); });
        return b;
    }
    case ControlKind::PlainButton: {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        connect(b, &QAbstractButton::clicked, this, [this, id] { onCommand(id); });
        return b;
    }
    case ControlKind::Label:
    case ControlKind::Picture: {
        auto* l = new CKestuLabel(def.kind == ControlKind::Label ? caption : QString(), this);
        if (def.kind == ControlKind::Picture)
            l->setPixmap(QPixmap::fromImage(KeyedImage(res::bitmap(caption.toInt()))));
        if (def.style & cs::Notify) {
            l->setClickable(true);
            l->setFocusPolicy(Qt::TabFocus);
            connect(l, &CKestuLabel::clicked, this, [this, id] { onCommand(id); });
        }
        return l;
    }
    case ControlKind::PlainStatic: {
        auto* l = new QLabel(caption, this);
        l->setTextFormat(Qt::PlainText);
        return l;
    }
    case ControlKind::LevelBar:
        return new CKestuProgressBar(this);
    case ControlKind::Slider: {
        auto* s = new CBitmapSlider(this);
        s->setControlId(id);
        return s;
    }
    case ControlKind::DatePicker:
        return new QDateTimeEdit(QDate::currentDate(), this);
    case ControlKind::CheckBox: {
        auto* c = new QCheckBox(this);
        connect(c, &QAbstractButton::clicked, this, [this, id] { onCommand(id); });
        return c;
    }
    case ControlKind::ListBox: {
        auto* list = new QListWidget(this);
        list->setSelectionMode((def.style & cs::MultiSelect) ? QAbstractItemView::ExtendedSelection
                                                             : QAbstractItemView::SingleSelection);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        list->setUniformItemSizes(true);
        QPalette pal = list->palette();
        pal.setColor(QPalette::Text, Qt::black);
        list->setPalette(pal);
        // The selection, not the current row: a list given the focus by Tab makes its first row
        // current without the user choosing it.
        connect(list, &QListWidget::itemSelectionChanged, this, [this, id] {
            if (!settingRows_)
                onListSelectionChanged(id);
        });
        connect(list, &QListWidget::itemDoubleClicked, this, [this, id] { onListDoubleClicked(id); });
        return list;
    }
    }
    return new QWidget(this);
}

QString SkinnedDialog::controlText(int id) const {
    const QWidget* w = controls_.value(id);
    if (const auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (const auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (const auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    return QString();
}

void SkinnedDialog::setControlText(int id, const QString& text) {
    QWidget* w = controls_.value(id);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* kl = qobject_cast<CKestuLabel*>(w))
        kl->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
}

QStringList SkinnedDialog::listRows(int id) const {
    QStringList rows;
    if (const auto* list = qobject_cast<const QListWidget*>(controls_.value(id)))
        for (int i = 0; i < list->count(); ++i)
            rows << list->item(i)->text();
    return rows;
}

void SkinnedDialog::setListRows(int id, const QStringList& rows) {
    auto* list = qobject_cast<QListWidget*>(controls_.value(id));
    if (!list)
        return;
    settingRows_ = true;
    list->clear();
    list->addItems(rows);
    settingRows_ = false;
}

void SkinnedDialog::loadButtonImages(const QList<int>& ids) {
    for (int id : ids) {
        auto* b = qobject_cast<CBitmapButton*>(controls_.value(id));
        if (!b)
            continue;
        const QPoint at = b->pos();
        b->AutoLoad(b->text());
        b->move(at);
    }
}

void SkinnedDialog::applyTooltips() {
    if (!table_)
        return;
    for (const ControlDef& def : *table_)
        if (def.tooltip)
            controls_.value(def.id)->setToolTip(QString::fromLatin1(def.tooltip));
}

void SkinnedDialog::applyLabelFonts() {
    if (!table_)
        return;
    for (const ControlDef& def : *table_)
        if (def.font.face && def.kind == ControlKind::Label)
            controls_.value(def.id)->setFont(
                LogicalFont(QString::fromLatin1(def.font.face), def.font.height, def.font.width));
}

void SkinnedDialog::setTabOrder(const QList<int>& ids) {
    QWidget* previous = nullptr;
    for (int id : ids) {
        QWidget* w = controls_.value(id);
        if (!w)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}
