#pragma once
// Builds a dialog from its resource table: title, size and controls in dialog
// units, converted to pixels with the dialog font's metrics (a horizontal unit
// is a quarter of the font's average character width, a vertical unit an
// eighth of its height), so every dialog keeps the proportions it was laid
// out in. Controls are made in table order, which is also the tab order.
//
// Threads: user-interface thread only.

#include <QFont>
#include <QMap>
#include <QString>

#include <vector>

class QDialog;
class QWidget;

namespace tonvero {

enum class ControlKind {
    Label,
    RightLabel,    // a label whose text stands against its right edge
    Edit,          // bordered single-line edit
    DropDownList,  // non-editable combo box; `sorted` keeps its entries sorted
    PushButton,
    DefaultButton,  // the push button Enter presses
    CheckBox,       // automatic check box
    RadioButton,    // automatic radio button; `group` starts a new group
    GroupBox,
    HScrollBar,
    Trackbar,  // horizontal slider
    Custom,    // an area for a widget the dialog makes itself (e.g. a drawing)
};

struct ControlLayout {
    ControlKind kind;
    int id;  // 0 for a label with no id of its own
    QString caption;
    int x, y, width, height;  // dialog units
    bool sorted = false;
    bool group = false;
};

struct DialogLayout {
    QString title;
    int width, height;  // dialog units
    std::vector<ControlLayout> controls;
};

// Dialog units to pixels for a font.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(int units) const;
    int y(int units) const;

private:
    int baseX_;
    int baseY_;
};

class DialogTemplate {
public:
    // Sets the dialog's title and fixed size and makes every control as a child.
    // Custom controls are left to the caller: `place` positions a widget made
    // for one.
    DialogTemplate(QDialog& dialog, const DialogLayout& table);
    // Makes the controls as children of `parent` (a part of a dialog laid
    // out by a table of its own), in its coordinates and its font's units.
    DialogTemplate(QWidget& parent, const std::vector<ControlLayout>& controls);

    // The control with this id (null if none). Labels have none unless given one.
    QWidget* control(int id) const { return controls_.value(id, nullptr); }
    template <class T>
    T* get(int id) const {
        return qobject_cast<T*>(control(id));
    }
    // Positions a widget over a control's rectangle.
    void place(QWidget* widget, int id) const;
    const DialogUnits& units() const { return units_; }

private:
    void build(QWidget& parent, const std::vector<ControlLayout>& controls);

    DialogUnits units_;
    QMap<int, QWidget*> controls_;
    QMap<int, ControlLayout> byId_;
};

}  // namespace tonvero
