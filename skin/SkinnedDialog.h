// The common body of the skinned windows (main, login, call history, phone book): a frameless
// dialog cut to its skin picture and dragged by its background, whose controls are built from a
// template table and whose clicks, double-clicks, selection changes and field focus come to a few
// virtual handlers by control identifier.
#pragma once

#include "skin/ControlTemplate.h"

#include <QDialog>
#include <QList>
#include <QMap>

class ShapedWindow;
class QListWidget;

class SkinnedDialog : public QDialog {
    Q_OBJECT
public:
    // `templateSize` in dialog units; the skin's outline then cuts and sizes the window.
    SkinnedDialog(QWidget* parent, Qt::WindowFlags flags, int skinBitmapId, int templateWidth,
                  int templateHeight);

    QWidget* control(int id) const { return controls_.value(id); }
    template <class T> T* controlAs(int id) const { return qobject_cast<T*>(controls_.value(id)); }
    ShapedWindow* shape() const { return shape_; }

    // The text of an edit, label or button; empty for other controls.
    QString controlText(int id) const;
    // Sets the text of an edit or label (a skinned label repaints the skin under it at once).
    void setControlText(int id, const QString& text);
    // The rows of a list box, top to bottom.
    QStringList listRows(int id) const;
    // Replaces the rows of a list box without reporting a selection change.
    void setListRows(int id, const QStringList& rows);

    // Gives each bitmap button its pictures by its caption, keeping its place.
    void loadButtonImages(const QList<int>& ids);
    // Gives the controls of the table their tooltips.
    void applyTooltips();
    // Gives the labels of the table that name a font that font.
    void applyLabelFonts();
    // Tab goes through these controls in this order (the order the face of the window shows
    // them in).
    void setTabOrder(const QList<int>& ids);

    // The desktop session is ending while this window is open: it ends the way a user's
    // choice to keep or drop its changes would, without asking anything. By default, as by
    // Escape.
    virtual void sessionEnds() { reject(); }

protected:
    // Builds the skin picture and the table's controls, and routes their notifications.
    void createControls(const ControlTable& table);
    const ControlTable& table() const { return *table_; }

    // A click of a button or of a control that reports clicks.
    virtual void onCommand(int id) { (void)id; }
    // The user selected another row of a list box; programmatic changes are not reported, nor
    // is the current row the list takes when it merely receives the keyboard focus.
    virtual void onListSelectionChanged(int id) { (void)id; }
    virtual void onListDoubleClicked(int id) { (void)id; }
    // An edit field received the keyboard focus.
    virtual void onFieldFocus(int id) { (void)id; }

private:
    QWidget* createControl(const ControlDef& def);

    int skinBitmapId_;
    ShapedWindow* shape_ = nullptr;
    const ControlTable* table_ = nullptr;
    QMap<int, QWidget*> controls_;
    bool settingRows_ = false;
};
