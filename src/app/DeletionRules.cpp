// The delete request and the delete-databases box.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>

#include "app/FrmBackupProgress.h"
#include "app/FrmMain.h"
#include "app/FrmShowDel.h"
#include "app/MessageBox.h"
#include "app/ScriptDialog.h"
#include "catalogue/AccountCatalogue.h"
#include "catalogue/YearList.h"
#include "deletion/Deletion.h"
#include "deletion/Restore.h"
#include "deletion/RestoreText.h"
#include "deletion/UndoCapture.h"

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

    void notice(const QString& text, const QString& details) override {
        MessageBox::notice(&w_, text, details);
    }
    bool confirm(const QString& text, const QString& details) override {
        return MessageBox::confirm(&w_, text, details) == MessageBox::Ok;
    }
    bool noticeWithAction(const QString& text, const QString& details, const QString& action) override {
        return MessageBox::noticeWithAction(&w_, text, details, action) == MessageBox::Action;
    }

    bool confirmWithCheck(const QString& text, const QString& details, const QString& checkText,
                          bool* checked) override {
        return MessageBox::confirmWithCheck(&w_, text, details, checkText, checked) == MessageBox::Ok;
    }
    QString serverName() override { return w_.connectedSpec().server; }
    QString login() override { return w_.connectedSpec().login; }
    // With the credentials of the open connection: the password box may have been edited since.
    std::unique_ptr<SqlClient> secondConnection() override {
        std::unique_ptr<SqlClient> c = w_.makeClient();
        if (!c || c->open(w_.connectedSpec()).isError())
            return nullptr;
        return c;
    }
    deletion::BackupView* backupView() override {
        if (!progress_)
            progress_ = std::make_unique<FrmBackupProgress>(&w_);
        return progress_.get();
    }
    deletion::BackupView* restoreView() override {
        if (!restoreProgress_)
            restoreProgress_ = std::make_unique<FrmBackupProgress>(&w_, deletion::text::restoreWindowTitle(),
                                                                   QStringLiteral("正在准备还原…"),
                                                                   QStringLiteral("正在取消还原…"));
        return restoreProgress_.get();
    }

    void showWait() override { FrmShowDel::Show(); }
    void closeWait() override { FrmShowDel::Close(); }
    void yield() override { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

private:
    FrmMain& w_;
    std::unique_ptr<FrmBackupProgress> progress_;
    std::unique_ptr<FrmBackupProgress> restoreProgress_;
};

}  // namespace

void FrmMain::CmdDel_Click() {
    if (deleting_)
        return;
    deleting_ = true;
    {
        InputGuard guard(this);
        // The run works from what the window showed at the press; the guard keeps it so.
        const deletion::Request request{AccountCatalogue::boxValue(TxtAccNo->text()), ChkDelDB->isChecked(),
                                        YearList::fromText(AccountCatalogue::boxValue(txtYear->text()))};
        // The number box's check runs as when the box loses the focus, its look-up and message
        // included; the run then looks the account set up for itself, since the check's notice may
        // have waited for the operator, and its answer decides the request's own message.
        TxtAccNo_LostFocus();
        WindowHost host(*this);
        if (deletion::run(request, host) != deletion::Outcome::Stopped) {
            // Reconnect, refresh the list and clear the request, whatever the outcome said.
            CmdLink_Click();
            TxtAccNo->setText(QString());
            ChkDelDB->setChecked(false);
            ChkDelDB_Click();
        }
    }
    deleting_ = false;
    if (std::exchange(closeAfterDeletion_, false))
        close();
}

// A restore from an undo script the operator picks, on the open connection; the window takes no
// input meanwhile, as during a deletion.
void FrmMain::menu_restore_Click() {
    if (deleting_ || !Cnn().isOpen())
        return;
    const QString script = ScriptDialog::choose(this, deletion::undoFolder());
    if (script.isEmpty())
        return;
    deleting_ = true;
    {
        InputGuard guard(this);
        WindowHost host(*this);
        if (deletion::restore({script, {}}, host) != deletion::RestoreOutcome::Stopped) {
            // The account set is listed again: the list as the server has it now.
            CmdLink_Click();
            TxtAccNo->setText(QString());
        }
    }
    deleting_ = false;
    if (std::exchange(closeAfterDeletion_, false))
        close();
}
