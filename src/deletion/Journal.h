#pragma once

#include <memory>
#include <utility>

#include <QDateTime>
#include <QString>
#include <QStringList>

class QLockFile;

// deletions.log, beside the undo scripts: the server keeps no record of a dropped database, so the
// tool keeps one. UTF-8 without a byte-order mark, one line per deletion that got past the
// confirmations and one per restore, eight tab-separated fields, no header line:
//
//   time       ISO 8601 local time with its offset: 2026-12-08T10:15:02+08:00
//   server     as the operator named it
//   login
//   account    the account set's number
//   years      ';'-joined; empty when no database was asked for
//   outcome    succeeded | partly | failed | stopped before any change | restored | restore failed |
//              restore stopped before any change | interrupted
//   script     the undo script's full path; empty when none
//   backups    ';'-joined backup files on the server's disk; empty when none
//
// A field's tabs, line breaks and other control characters are written as spaces. The file is only
// ever appended to. A line is written in two appends: the first five fields before the first change,
// the rest at the end, so a crash in between leaves the attempt on record as a line without its
// outcome. The next begin() closes such a line as "interrupted", with no script or backups. From
// begin() to complete() the journal is locked (deletions.log.lock), so that a second copy of the
// tool neither closes a line still under way nor writes into the middle of it.
namespace deletion {

class Journal {
public:
    enum class Outcome { Succeeded, Partly, Failed, Stopped, Restored, RestoreFailed, RestoreStopped };

    struct Entry {
        QDateTime at;  // local
        QString server;
        QString login;
        QString accountNo;
        QStringList years;
    };

    // deletions.log in undoFolder().
    static QString defaultPath();
    static QString word(Outcome outcome);
    // The time field: the time with its offset written out, never "Z" (currentDateTime() gives the
    // local one).
    static QString timeField(const QDateTime& at);

    explicit Journal(QString path = defaultPath());
    ~Journal();
    const QString& path() const { return path_; }

    // The first five fields, flushed to the disk, after closing a line a crash left open. false,
    // with the reason in the file system's words, when the line could not be written.
    bool begin(const Entry& entry, QString* error);
    // The outcome, the undo script and the backups, and the line's end; only after a begin() that
    // succeeded, once.
    bool complete(Outcome outcome, const QString& script, const QStringList& backups, QString* error);

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;  // held while a line of this journal's waits for its outcome
};

}  // namespace deletion
