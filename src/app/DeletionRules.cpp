// The delete request and the delete-databases box.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include "deletion/Deletion.h"
#include "app/FrmMain.h"
#include "app/FrmShowDel.h"
#include "app/MessageBox.h"

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::TabletMove:
            return true;
        default:
            return false;
    }
}

// While a deletion runs, the main window and the wait window take no input: a second request, a
// connect or an edit inside the first would act on a half-removed account set. The message boxes
// of the deletion stay answerable.
class InputGuard final : public QObject {
public:
    explicit InputGuard(QWidget* window) : window_(window) { qApp->installEventFilter(this); }
    ~InputGuard() override {
        // Input that queued up during the run is delivered now, and dropped.
        QCoreApplication::processEvents();
        qApp->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!isUserInput(event->type()) || !watched->isWidgetType())
            return false;
        const QWidget* top = static_cast<QWidget*>(watched)->window();
        return top == window_ || top == FrmShowDel::current();
    }

private:
    QPointer<QWidget> window_;
};

class WindowHost final : public deletion::DeletionHost {
public:
    explicit WindowHost(FrmMain& w) : w_(w) {}

    SqlClient& client() override { return w_.Cnn(); }
    void checkAccountNumber() override { w_.TxtAccNo_LostFocus(); }
    QString accountNumberText() override { return w_.TxtAccNo->text(); }
    bool deleteDatabasesTicked() override { return w_.ChkDelDB->isChecked(); }
    QString yearText() override { return w_.txtYear->text(); }

    void notice(const QString& text, const QString& details) override {
        MessageBox::notice(&w_, text, details);
    }
    bool confirm(const QString& text, const QString& details) override {
        return MessageBox::confirm(&w_, text, details) == MessageBox::Ok;
    }

    void showWait() override { FrmShowDel::Show(); }
    void closeWait() override { FrmShowDel::Close(); }
    void yield() override { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

    void reset() override {
        w_.CmdLink_Click();
        w_.TxtAccNo->setText(QString());
        w_.ChkDelDB->setChecked(false);
        w_.ChkDelDB_Click();
    }

private:
    FrmMain& w_;
};

}  // namespace

void FrmMain::ChkDelDB_Click() {
    const bool ticked = ChkDelDB->isChecked();
    txtYear->setVisible(ticked);
    lblYear->setVisible(ticked);
}

void FrmMain::CmdDel_Click() {
    if (deleting_)
        return;
    deleting_ = true;
    {
        InputGuard guard(this);
        WindowHost host(*this);
        deletion::run(host);
    }
    deleting_ = false;
    if (std::exchange(closeAfterDeletion_, false))
        close();
}
