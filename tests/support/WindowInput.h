#pragma once
// Input as the operator gives it, for tests that drive the real window.

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>

#include "DropDownList.h"

namespace WindowInput {

// Key events carrying the text, as a keyboard delivers it (QTest::keyClicks refuses non-ASCII).
inline void typeText(QWidget* target, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(target, &release);
    }
}

// Text committed by an input method, as a Chinese IME delivers it.
inline void commitFromInputMethod(QWidget* target, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(target, &commit);
}

inline QStringList items(const DropDownList* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

}  // namespace WindowInput
