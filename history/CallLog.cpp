#include "history/CallLog.h"

#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>

namespace {

using K = ControlKind;
// The template's 8-point dialog font, narrow enough for the tab captions to fit their room.
constexpr FontSpec kTabFont{"Sans Serif", 11, 4};

// Positions in dialog units of the 640 × 271 template; the skin cuts the window to 289 × 412.
// The three lists lie on top of each other; one shows at a time.
const ControlTable& CallLogTemplate() {
    using namespace logctl;
    static const ControlTable table = {
        {Dialled, K::ListBox, "", true, 15, 40, 164, 168, nullptr, {}, cs::MultiSelect, "Dialled calls"},
        {Received, K::ListBox, "", true, 15, 40, 164, 168, nullptr, {}, cs::MultiSelect, "Received calls"},
        {Missed, K::ListBox, "", true, 16, 40, 163, 168, nullptr, {}, cs::MultiSelect, "Missed calls"},
        {DialledTab, K::Label, "Dialed", true, 27, 31, 20, 8, nullptr, kTabFont, cs::Notify},
        {ReceivedTab, K::Label, "Recieved", true, 82, 31, 31, 8, nullptr, kTabFont, cs::Notify},
        {MissedTab, K::Label, "Missed", true, 147, 31, 21, 8, nullptr, kTabFont, cs::Notify},
        {Clear, K::BitmapButton, "cmdClear", true, 33, 209, 36, 12},
        {Close, K::BitmapButton, "cmdClose", true, 111, 210, 36, 12},
    };
    return table;
}

struct PageControls {
    CallLogPage page;
    CallKind kind;
    int list;
    int tab;
};
constexpr PageControls kPages[] = {
    {CallLogPage::Received, CallKind::Received, logctl::Received, logctl::ReceivedTab},
    {CallLogPage::Dialled, CallKind::Dialled, logctl::Dialled, logctl::DialledTab},
    {CallLogPage::Missed, CallKind::Missed, logctl::Missed, logctl::MissedTab},
};

const PageControls& ControlsOf(CallLogPage page) {
    for (const PageControls& p : kPages)
        if (p.page == page)
            return p;
    return kPages[1];
}

const PageControls* ControlsOfList(int list) {
    for (const PageControls& p : kPages)
        if (p.list == list)
            return &p;
    return nullptr;
}

} // namespace

CCallLog::CCallLog(Phone& phone, QWidget* parent)
    : SkinnedDialog(parent, Qt::Dialog, logctl::Skin, 640, 271), phone_(phone), lists_(phone.history) {
    setObjectName(QStringLiteral("callLogWindow"));
    createControls(CallLogTemplate());
    applyLabelFonts();
    for (const PageControls& p : kPages)
        controlAs<QLabel>(p.tab)->setAlignment(Qt::AlignCenter);
    setTabOrder({logctl::DialledTab, logctl::ReceivedTab, logctl::MissedTab, logctl::Dialled,
                 logctl::Received, logctl::Missed, logctl::Clear, logctl::Close});
}

void CCallLog::showEvent(QShowEvent* event) {
    SkinnedDialog::showEvent(event);
    if (opened_)
        return;
    opened_ = true;
    lists_.load();
    for (CallKind kind : {CallKind::Missed, CallKind::Received, CallKind::Dialled})
        showRows(kind);
    loadButtonImages({logctl::Close, logctl::Clear});
    MainState& st = phone_.st;
    showPage(OpeningPage(st.receivedCall, st.missedCall, st.rejected));
}

void CCallLog::showRows(CallKind kind) {
    for (const PageControls& p : kPages)
        if (p.kind == kind)
            setListRows(p.list, lists_.rows(kind));
}

void CCallLog::showPage(CallLogPage page) {
    page_ = page;
    pageWord_ = PageWord(page);
    // The shown page's tab is red, the others black.
    for (const PageControls& p : kPages) {
        QWidget* tab = control(p.tab);
        QPalette pal = tab->palette();
        pal.setColor(QPalette::WindowText, p.page == page ? QColor(255, 0, 0) : QColor(Qt::black));
        tab->setPalette(pal);
        control(p.list)->setVisible(p.page == page);
    }
    update();
}

void CCallLog::onCommand(int id) {
    switch (id) {
    case logctl::DialledTab:
        showPage(CallLogPage::Dialled);
        break;
    case logctl::ReceivedTab:
        showPage(CallLogPage::Received);
        break;
    case logctl::MissedTab:
        showPage(CallLogPage::Missed);
        break;
    case logctl::Clear: {
        const PageControls& p = ControlsOf(page_);
        auto* list = controlAs<QListWidget>(p.list);
        QList<int> rows;
        for (const QModelIndex& index : list->selectionModel()->selectedRows())
            rows << index.row();
        if (rows.isEmpty())
            return;
        lists_.removeRows(p.kind, rows);
        showRows(p.kind);
        break;
    }
    case logctl::Close:
        // A window still flashing after a missed call stops.
        phone_.view.stopTimer(timer::Flash);
        if (save({CallKind::Dialled, CallKind::Received, CallKind::Missed}))
            accept();
        break;
    default:
        break;
    }
}

void CCallLog::onListDoubleClicked(int id) {
    const PageControls* p = ControlsOfList(id);
    if (!p || !save({p->kind}))
        return;
    chosen_ = lists_.number(p->kind, controlAs<QListWidget>(id)->currentRow());
    accept();
}

bool CCallLog::save(const QList<CallKind>& kinds) {
    for (CallKind kind : kinds) {
        if (!lists_.save(kind)) {
            phone_.box.show(
                QStringLiteral("The call history could not be saved in %1.\nCheck that the folder can "
                               "be written, then close the call history again.")
                    .arg(phone_.history.dir()),
                kAppTitle, BoxIcon::Warning);
            return false;
        }
    }
    return true;
}

void CCallLog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        accept(); // removals made here are dropped; no call follows
        break;
    case Qt::Key_Escape:
        reject();
        break;
    default:
        SkinnedDialog::keyPressEvent(event);
    }
}
