#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "sql/SqlClient.h"

// What the server says about the listed databases and about who holds the locks a deletion
// waits for, read into the lines the operator sees.
namespace deletion::checks {

inline constexpr int kLockTimedOut = 1222;  // "Lock request time out period exceeded."

// A listed database that must not be dropped now.
struct Hazard {
    QString database;
    QStringList reasons;  // plain Chinese
    QString raw;          // the server's values, for the details
};

struct DatabaseStates {
    QList<Hazard> hazards;
    QStringList offline;  // may be dropped, but their files stay on the server's disk
};

// The results of DeletionSql::databaseHazards.
struct HazardResults {
    SqlResult databases;
    SqlResult snapshots;
    SqlResult mirroring;
};

// The listed databases judged from their hazards and DeletionSql::databaseSessions.
DatabaseStates judge(const QStringList& names, const HazardResults& hazards, const SqlResult& sessions);

// "会话53(登录名 sa, 主机 PC-ACC, 程序 报表工具)" for one row of a session list.
QString sessionLine(const SqlResult& sessions, qsizetype row);
// One line per session, naming the databases it uses.
QStringList sessionsByDatabase(const SqlResult& sessions);
// The sessions of one database.
QStringList sessionsOf(const SqlResult& sessions, const QString& database);

// The major version of "10.50.1600.1"; 0 when unreadable.
int majorVersion(const SqlResult& version);

// Who held the locks a statement gave up waiting for, from the results of DeletionSql::lockHolders,
// for a message; says so when no one was found (the holder may have ended since).
QString lockHolderLines(const SqlResult& openTransactions, const SqlResult& locking);

}  // namespace deletion::checks
