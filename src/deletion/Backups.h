#pragma once

#include <memory>

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "deletion/UndoScript.h"
#include "sql/SqlClient.h"

namespace deletion {

class DeletionHost;

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

namespace BackupSql {
// The instance's default backup folder where the server names it (2019 and later), else Null.
QString defaultDirectory();
// The same folder from the instance's registry key, for older servers; columns Value, Data.
QString registryDirectory();
QString lastFullBackup(const QString& databaseName);  // one value: the finish date, or Null
QString sessionId();
QString backup(const QString& databaseName, const QString& file);
QString verify(const QString& file);
QString percentComplete(int sessionId);
// dir + separator + db_yyyyMMdd_HHmmss.bak, with the separator the folder itself uses.
QString fileIn(const QString& directory, const QString& databaseName, const QDateTime& at);
}  // namespace BackupSql

// The backups before the first drop: what the confirmations say about them, and the backups and
// their verification themselves.
class Backups {
public:
    Backups(SqlClient& sql, DeletionHost& host) : sql_(sql), host_(host) {}

    // Appended to the first confirmation's batch for the listed databases.
    QStringList previewStatements(const QStringList& databases);
    void noteSize(const QString& database, const SqlResult& pages);
    // Reads the answers to previewStatements() from results[first...]; the lines for the details.
    QStringList readPreview(const QList<SqlResult>& results, qsizetype first);

    // The second confirmation, with the check box that chooses the backups.
    bool confirm(const QString& text);

    // Backs up and verifies every database when chosen; false, after a notice, when any step
    // failed or the operator cancelled.
    bool run(const QStringList& databases);

    bool chosen() const { return chosen_; }
    const QList<undo::Backup>& made() const { return made_; }

private:
    struct Step {
        qsizetype index;
        QString what;
    };
    SqlError watched(const QString& statement, const Step& step);
    void poll(const Step& step);
    bool stop(const QString& text, const QString& why);

    SqlClient& sql_;
    DeletionHost& host_;
    QStringList databases_;
    QMap<QString, QString> sizes_;
    QString directory_;
    int sessionId_ = 0;
    bool chosen_ = false;
    QList<undo::Backup> made_;
    BackupView* view_ = nullptr;
    std::unique_ptr<SqlClient> watcher_;
    bool polling_ = false;
    bool cancelSent_ = false;
};

}  // namespace deletion
