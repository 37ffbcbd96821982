#pragma once
// Input as the operator gives it, for tests that drive the real window.

#include <QAbstractItemView>
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTest>

#include "app/DropDownList.h"

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

// The offscreen platform may activate a popup late, even after it has closed, where a window
// manager would hand the focus back. Waits until the window is active and stays so.
inline bool settleActive(QWidget* window) {
    int stable = 0;
    for (int i = 0; i < 1000 && stable < 5; ++i) {
        if (QApplication::activeWindow() == window) {
            ++stable;
        } else {
            stable = 0;
            window->activateWindow();
        }
        QTest::qWait(5);
    }
    return QApplication::activeWindow() == window;
}

// Opens the list as a click opens it and clicks one of its items; true once the list has closed.
inline bool pickFromList(DropDownList* list, int row) {
    list->showPopup();
    QAbstractItemView* view = list->view();
    if (!QTest::qWaitFor([view] { return view->isVisible(); }))
        return false;
    const QRect item = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    return QTest::qWaitFor([view] { return !view->isVisible(); });
}

inline QStringList items(const DropDownList* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i);
    return out;
}

}  // namespace WindowInput
