#include "editor/DialogTemplate.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>

namespace tonvero {

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX_ = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
    baseY_ = metrics.height();
    if (baseX_ < 1) baseX_ = 1;
    if (baseY_ < 1) baseY_ = 1;
}

int DialogUnits::x(int units) const { return (units * baseX_ + 2) / 4; }
int DialogUnits::y(int units) const { return (units * baseY_ + 4) / 8; }

DialogTemplate::DialogTemplate(QDialog& dialog, const DialogLayout& table) : units_(dialog.font()) {
    dialog.setWindowTitle(table.title);
    dialog.setFixedSize(units_.x(table.width), units_.y(table.height));
    build(dialog, table.controls);
}

DialogTemplate::DialogTemplate(QWidget& parent, const std::vector<ControlLayout>& controls) : units_(parent.font()) {
    build(parent, controls);
}

void DialogTemplate::build(QWidget& parent, const std::vector<ControlLayout>& controls) {
    QButtonGroup* radioGroup = nullptr;
    QLabel* pendingLabel = nullptr;
    for (const ControlLayout& c : controls) {
        QWidget* widget = nullptr;
        switch (c.kind) {
        case ControlKind::Label: widget = new QLabel(c.caption, &parent); break;
        case ControlKind::RightLabel: {
            auto* label = new QLabel(c.caption, &parent);
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            widget = label;
            break;
        }
        case ControlKind::Edit: widget = new QLineEdit(&parent); break;
        case ControlKind::DropDownList: {
            auto* combo = new QComboBox(&parent);
            combo->setEditable(false);
            combo->setMaxVisibleItems(qMax(1, c.height / 10));
            widget = combo;
            break;
        }
        case ControlKind::PushButton:
        case ControlKind::DefaultButton: {
            auto* button = new QPushButton(c.caption, &parent);
            button->setAutoDefault(false);
            button->setDefault(c.kind == ControlKind::DefaultButton);
            widget = button;
            break;
        }
        case ControlKind::CheckBox: widget = new QCheckBox(c.caption, &parent); break;
        case ControlKind::RadioButton: {
            auto* radio = new QRadioButton(c.caption, &parent);
            // A group runs from the radio button that starts it to the next
            // one that starts a group, whatever controls stand between them.
            if (c.group || !radioGroup) radioGroup = new QButtonGroup(&parent);
            radioGroup->addButton(radio);
            widget = radio;
            break;
        }
        case ControlKind::GroupBox: widget = new QGroupBox(c.caption, &parent); break;
        case ControlKind::HScrollBar: widget = new QScrollBar(Qt::Horizontal, &parent); break;
        case ControlKind::Trackbar: widget = new QSlider(Qt::Horizontal, &parent); break;
        case ControlKind::Custom: break;
        }
        if (c.id != 0) byId_.insert(c.id, c);
        if (!widget) continue;
        // A drop-down's height is that of its opened list; closed it is one line high.
        const int height = c.kind == ControlKind::DropDownList ? units_.y(14) : units_.y(c.height);
        widget->setGeometry(units_.x(c.x), units_.y(c.y), units_.x(c.width), height);
        const bool label = c.kind == ControlKind::Label || c.kind == ControlKind::RightLabel;
        if (c.kind == ControlKind::GroupBox || label) widget->setFocusPolicy(Qt::NoFocus);
        if (c.id != 0) {
            widget->setObjectName(QStringLiteral("control%1").arg(c.id));
            controls_.insert(c.id, widget);
        }
        // A label's mnemonic moves the focus to the control after it in tab order.
        if (pendingLabel && widget->focusPolicy() != Qt::NoFocus) {
            pendingLabel->setBuddy(widget);
            pendingLabel = nullptr;
        }
        if (label) pendingLabel = static_cast<QLabel*>(widget);
    }
}

void DialogTemplate::place(QWidget* widget, int id) const {
    const auto it = byId_.find(id);
    if (it == byId_.end() || !widget) return;
    const ControlLayout& c = it.value();
    widget->setGeometry(units_.x(c.x), units_.y(c.y), units_.x(c.width), units_.y(c.height));
    widget->setObjectName(QStringLiteral("control%1").arg(id));
}

}  // namespace tonvero
