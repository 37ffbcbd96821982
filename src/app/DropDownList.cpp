#include "app/DropDownList.h"

#include "app/ClassicStyle.h"

#include <QAbstractItemView>
#include <QStyleOptionComboBox>
#include <QStylePainter>

DropDownList::DropDownList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setStyle(classicStyle());
}

void DropDownList::showPopup() {
    emit aboutToDropDown();
    QComboBox::showPopup();
}

void DropDownList::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    // Styles draw a non-editable combo box as a button; drawn as an editable one it gets a field
    // in the box colour with the arrow beside it, the look of a classic drop-down list.
    opt.editable = true;
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);

    QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    const bool focused = hasFocus() && !view()->isVisible();
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Normal : QPalette::Disabled;
    if (focused && !currentText().isEmpty()) {
        painter.fillRect(field, palette().brush(group, QPalette::Highlight));
        painter.setPen(palette().color(group, QPalette::HighlightedText));
    } else {
        painter.setPen(palette().color(group, QPalette::Text));
        if (focused) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = field.adjusted(1, 1, -1, -1);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }
    field.adjust(2, 0, -1, 0);
    painter.drawText(field, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(currentText(), Qt::ElideNone, field.width()));
}
