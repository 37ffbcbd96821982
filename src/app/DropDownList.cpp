#include "app/DropDownList.h"

#include "app/ClassicStyle.h"

#include <QAbstractItemView>
#include <QHash>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QStylePainter>

DropDownList::DropDownList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setStyle(classicStyle());
}

void DropDownList::showPopup() {
    emit aboutToDropDown();
    QComboBox::showPopup();
    fitPopupToItems();
}

namespace {

// A text's width as the sum of its characters' advances, each measured once: shaping every one
// of tens of thousands of names would hold the list up for half a second.
class WidthEstimate {
public:
    explicit WidthEstimate(const QFont& font) : metrics_(font) {}

    int of(QStringView text) {
        int width = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            const QStringView c = text.mid(i, n);
            const char32_t key = n == 2 ? QChar::surrogateToUcs4(c[0], c[1]) : c[0].unicode();
            auto it = advances_.find(key);
            if (it == advances_.end())
                it = advances_.insert(key, metrics_.horizontalAdvance(c.toString()));
            width += *it;
            i += n - 1;
        }
        return width;
    }
    int exact(const QString& text) const { return metrics_.horizontalAdvance(text); }

private:
    QFontMetrics metrics_;
    QHash<char32_t, int> advances_;
};

}  // namespace

// Qt sizes the list to the field and elides longer names in the middle, where the part that tells
// two companies apart often is.
void DropDownList::fitPopupToItems() {
    QAbstractItemView* list = view();
    QWidget* popup = list->window();
    if (!popup->isVisible() || popup == window() || count() == 0)
        return;
    WidthEstimate estimate(list->font());
    int widestRow = 0;
    int widest = -1;
    for (int row = 0; row < count(); ++row) {
        const int width = estimate.of(itemText(row));
        if (width > widest) {
            widest = width;
            widestRow = row;
        }
    }
    // The widest item as the list draws it (margins included), with room for the estimate's
    // error, plus the popup's frame and scroll bar.
    const QModelIndex index = model()->index(widestRow, modelColumn(), rootModelIndex());
    const int item =
        list->sizeHintForIndex(index).width() + qMax(0, widest - estimate.exact(itemText(widestRow)));
    const int wanted = item + popup->width() - list->viewport()->width();
    const QRect screenArea = screen()->availableGeometry();
    QRect area = popup->geometry();
    area.setWidth(qMin(qMax(area.width(), wanted), screenArea.width()));
    if (area.right() > screenArea.right())
        area.moveRight(screenArea.right());
    if (area.left() < screenArea.left())
        area.moveLeft(screenArea.left());
    popup->setGeometry(area);
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
