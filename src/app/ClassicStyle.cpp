#include "app/ClassicStyle.h"

#include <QApplication>
#include <QPointer>
#include <QProxyStyle>

namespace {
class ClassicStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        if (hint == SH_ComboBox_Popup)
            return 0;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};
}  // namespace

QStyle* classicStyle() {
    static QPointer<QStyle> style;
    if (!style) {
        style = new ClassicStyle;
        style->setParent(qApp);
    }
    return style;
}
