#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "sql/SqlClient.h"

namespace deletion {

// The window that shows the backups while they run. The run drives it; the operator's only act
// is 取消.
class BackupView {
public:
    virtual ~BackupView() = default;
    virtual void start(const QStringList& databases) = 0;
    // percent of database index; what: the step under way, in the operator's words
    virtual void progress(qsizetype index, int percent, const QString& what) = 0;
    virtual bool cancelled() const = 0;
    virtual void finish() = 0;
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
    // A notice with one more button beside 确定: true when the operator chose that one.
    virtual bool noticeWithAction(const QString& text, const QString& details, const QString& action) {
        (void)action;
        notice(text, details);
        return false;
    }
    // The server as the operator named it, for the undo script's name and header.
    virtual QString serverName() { return {}; }
    // The login of the open connection, for the deletions journal.
    virtual QString login() { return QStringLiteral("sa"); }
    // A connection of its own to the same server, to watch a backup; null when there is none.
    virtual std::unique_ptr<SqlClient> secondConnection() { return nullptr; }
    virtual BackupView* backupView() { return nullptr; }
    // The window that shows restores from an undo script; null when there is none.
    virtual BackupView* restoreView() { return nullptr; }
};

}  // namespace deletion
