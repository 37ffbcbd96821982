#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "catalogue/YearList.h"
#include "sql/SqlClient.h"

namespace deletion {

class BackupView;

// One press of the delete button, as the window showed it at the press.
struct Request {
    QString accountNo;             // the number box, trimmed
    bool deleteDatabases = false;  // 删除数据库 ticked
    YearList years;                // the year box, trimmed
};

// The services the run needs from its surroundings. The run never touches a widget, so it can be
// driven without one.
class DeletionHost {
public:
    virtual ~DeletionHost() = default;

    virtual SqlClient& client() = 0;
    virtual void notice(const QString& text, const QString& details = {}) = 0;
    virtual bool confirm(const QString& text, const QString& details = {}) = 0;  // true on OK
    virtual void showWait() = 0;
    virtual void closeWait() = 0;
    virtual void yield() = 0;  // let windows repaint; takes no input

    // A confirmation with a check box: *checked comes in as the box's first state and leaves as
    // the operator left it.
    virtual bool confirmWithCheck(const QString& text, const QString& details, const QString& checkText,
                                  bool* checked) {
        (void)checkText;
        (void)checked;
        return confirm(text, details);
    }
    // The server as the operator named it, for the undo script's name and header.
    virtual QString serverName() { return {}; }
    // A connection of its own to the same server, to watch a backup; null when there is none.
    virtual std::unique_ptr<SqlClient> secondConnection() { return nullptr; }
    virtual BackupView* backupView() { return nullptr; }
};

// The messages of a deletion.
namespace text {
QString enterAccountNumber();
QString accountMissing(const QString& accountNo);
QString confirmAccount(const QString& accountNo);
QString confirmDatabases(const QString& accountNo);
QString cancelled();
QString enterYears();
QString databaseMissing(const QString& accountNo, const QString& year);
QString queryFailed();
QString databasesInUse(const QStringList& lines);
QString lockWaitStopped(const QString& holders);
QString databasesUnsafe(const QStringList& lines);
QString successEmpty(const QString& accountNo);
QString successWithYears(const QString& accountNo, const QString& years);
QString failure();
QString offlinePreview(const QStringList& databases);
QString offlineNotBackedUp(const QStringList& databases);
QString claimFailed(const QString& database, const QStringList& sessions);
QString changedSinceScript(const QString& accountNo, const QString& table);
QString droppedWithBackups(const QStringList& lines, const QString& undoScript);
}  // namespace text

enum class Outcome {
    Stopped,       // the request stopped before anything changed on the server
    Succeeded,     // the account set is gone (and every listed database)
    PartlyFailed,  // the account set is gone, but a database could not be dropped
    Failed,        // the purge was rolled back, or something of the account set is still there
};

// From the checks to the outcome message. The window's reset is the caller's, after any outcome
// but Stopped.
Outcome run(const Request& request, DeletionHost& host);

}  // namespace deletion
