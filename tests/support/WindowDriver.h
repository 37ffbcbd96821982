#pragma once
// Drives the real main window as the operator does (typing, clicking, moving the focus, closing it
// from the window manager), against the scripted client or, with the default factory, the real
// driver stack and the sandbox. Window tests say what the operator does; the gestures live here.

#include <memory>

#include <qpa/qwindowsysteminterface.h>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "app/DropDownList.h"
#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "support/FakeSqlClient.h"

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

// Puts the focus into the box, selects what it holds and types over it.
inline void retype(QLineEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    typeText(box, text);
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

// The close a window manager asks for (WM_DELETE_WINDOW, Alt+F4): queued on the platform's
// window, as the xcb plugin queues it, not a QWidget::close() that Qt would always carry out.
inline void askToCloseFromWindowManager(QWidget* window) {
    QWindowSystemInterface::handleCloseEvent(window->windowHandle());
}

}  // namespace WindowInput

class WindowDriver {
public:
    // The real driver stack: pair it with a sandbox server.
    WindowDriver() : w_(std::make_unique<FrmMain>()) {}
    // The scripted client: every statement answered and logged by the script.
    explicit WindowDriver(std::shared_ptr<FakeScript> script)
        : script_(std::move(script)),
          w_(std::make_unique<FrmMain>([s = script_] { return std::make_unique<FakeSqlClient>(s); })) {}

    FrmMain& window() { return *w_; }
    FrmMain* operator->() { return w_.get(); }
    FakeScript& script() { return *script_; }

    // Shown and active, as after start.
    bool show() {
        w_->show();
        w_->activateWindow();
        return QTest::qWaitForWindowActive(w_.get());
    }

    // Types the server name and the password and presses the connect button.
    void connectAs(const QString& server, const QString& password = {}) {
        WindowInput::retype(w_->txtSqlSrvName, server);
        WindowInput::retype(w_->txtSaPwd, password);
        QTest::mouseClick(w_->CmdLink, Qt::LeftButton);
    }

    // Opens the account list and clicks one of its items; the window is active again afterwards.
    bool choose(int row) {
        w_->ComAccList->setFocus();
        return WindowInput::pickFromList(w_->ComAccList, row) && WindowInput::settleActive(w_.get());
    }

    // Types over the box's text and moves on with Tab, so the box loses the focus.
    bool typeAndLeave(QLineEdit* box, const QString& text) {
        if (!WindowInput::settleActive(w_.get()))
            return false;
        WindowInput::retype(box, text);
        QTest::keyClick(box, Qt::Key_Tab);
        return true;
    }
    bool typeNumberAndLeave(const QString& text) { return typeAndLeave(w_->TxtAccNo, text); }

    // Clicks the delete-databases box until it shows the wanted tick.
    void tickDeleteDatabases(bool ticked) {
        if (w_->ChkDelDB->isChecked() != ticked)
            QTest::mouseClick(w_->ChkDelDB, Qt::LeftButton, {}, QPoint(5, w_->ChkDelDB->height() / 2));
    }

    // A connected window made ready for the delete button: the number typed, the box ticked or
    // not, the year list typed (set directly while its box is hidden), the focus on the button.
    void prepareDelete(const QString& number, bool tick = false, const QString& years = {}) {
        WindowInput::retype(w_->TxtAccNo, number);
        tickDeleteDatabases(tick);
        if (w_->txtYear->isVisible())
            WindowInput::retype(w_->txtYear, years);
        else
            w_->txtYear->setText(years);
        w_->CmdDel->setFocus();
    }

    // The answers the confirmations will get, in order, then a click on the delete button.
    void pressDelete(const QList<MessageBox::Answer>& answers = {}) {
        MessageBox::queueAnswers(answers);
        QTest::mouseClick(w_->CmdDel, Qt::LeftButton);
    }

    void closeFromWindowManager() { WindowInput::askToCloseFromWindowManager(w_.get()); }

private:
    std::shared_ptr<FakeScript> script_;
    std::unique_ptr<FrmMain> w_;
};
