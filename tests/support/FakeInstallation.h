#pragma once
// A small installation behind the scripted connection: registered account sets, catalogue rows,
// yearly databases, sessions using them and the catalogue's transaction. Statements it does not
// model succeed without rows.

#include <QMap>
#include <QRegularExpression>
#include <QSet>

#include "support/ExpectedText.h"
#include "support/FakeSqlClient.h"

struct FakeInstallation {
    QStringList accounts{"001", "002"};
    QStringList databases;
    QStringList tables = Expected::kPurgeTables;
    QMap<QString, QList<QVariantList>> sessions;  // database -> spid, login, host, program
    QString version = "16.0.1000.6";              // SERVERPROPERTY('ProductVersion')
    QMap<QString, QString> states;                // database -> state_desc (ONLINE when absent)
    QStringList singleUser;                       // user_access_desc SINGLE_USER
    QStringList published, mergePublished, subscribed, mirrored, inAvailabilityGroup;
    QMap<QString, QString> snapshots;      // snapshot -> its source database
    QList<QVariantList> lockHolders;       // spid, login, host, program: holding catalogue locks
    QList<QVariantList> openTransactions;  // spid, login, host, program
    QMap<QString, SqlError> failures;      // exact statement -> the server's refusal
    QStringList keptBy;                    // tables whose deletes quietly keep the rows
    QStringList keptDatabases;             // databases a drop quietly leaves in place
    QSet<QString> purged;                  // "table/account" whose rows are gone
    bool inTransaction = false;
    QList<QPair<QString, QString>> pending;            // deletes of the open transaction
    QString backupDir = QStringLiteral("D:\\Backup");  // empty: the server names none
    QStringList backupFiles;                           // files BACKUP wrote, in order
    QMap<QString, SqlError> backupFailures;            // database -> the server's refusal

    static SqlError serverError(int code, const QString& message) {
        return {SqlError::Kind::Statement, code, message};
    }
    static QString unquote(const QString& s, QChar q) {
        return QString(s).replace(QString(2, q), QString(q));
    }

    // EAILog counts 3 rows per account set, the registration row 1, every other table 2.
    int rowsIn(const QString& table, const QString& account) const {
        if (!tables.contains(table, Qt::CaseInsensitive) || purged.contains(table + '/' + account))
            return 0;
        if (table.compare("UA_account", Qt::CaseInsensitive) == 0)
            return accounts.contains(account) ? 1 : 0;
        return table == "EAILog" ? 3 : 2;
    }

    SqlResult answer(const QString& sql) {
        if (failures.contains(sql)) {
            SqlResult r;
            r.error = failures.value(sql);
            pending.clear();  // as with XACT_ABORT: the transaction is gone
            inTransaction = false;
            return r;
        }
        if (auto r = catalogue(sql))
            return *r;
        if (auto r = server(sql))
            return *r;
        if (auto r = backups(sql))
            return *r;
        return transaction(sql);
    }

private:
    // Every catalogue table has an identity, the account number and a note; rows as rowsIn says.
    SqlResult columns(const QString& table) const {
        if (!tables.contains(table, Qt::CaseInsensitive))
            return FakeScript::rows({"", "", "", ""}, {});
        return FakeScript::rows({"name", "", "is_identity", "is_computed"},
                                {{"id", "int", true, false},
                                 {"cacc_id", "nvarchar", false, false},
                                 {"note", "nvarchar", false, false}});
    }
    SqlResult rowsOf(const QString& table, const QString& account) const {
        QList<QVariantList> rows;
        for (int i = 0; i < rowsIn(table, account); ++i)
            rows << QVariantList{i + 1, account, QStringLiteral("%1 行%2").arg(table).arg(i + 1)};
        return FakeScript::rows({"id", "cacc_id", "note"}, rows);
    }

    std::optional<SqlResult> backups(const QString& sql) {
        if (auto m = match(sql, ".* from sys\\.columns c where c\\.object_id = OBJECT_ID\\('(\\w+)'\\).*");
            m.hasMatch())
            return columns(m.captured(1));
        if (auto m = match(sql, "select \\* from EAILog where " + eaiCondition()); m.hasMatch())
            return rowsOf("EAILog", unquote(m.captured(1), '\''));
        if (auto m = match(sql, "select \\* from (\\w+) where cacc_id=" + lit()); m.hasMatch())
            return rowsOf(m.captured(1), unquote(m.captured(2), '\''));
        if (sql.contains("SERVERPROPERTY('InstanceDefaultBackupPath')"))
            return FakeScript::rows({""}, {{backupDir.isEmpty() ? QVariant() : QVariant(backupDir)}});
        if (sql == "select @@SPID")
            return FakeScript::rows({""}, {{55}});
        if (auto m = match(
                sql, "BACKUP DATABASE \\[(.*)\\] TO DISK = N" + lit() + " WITH COPY_ONLY, CHECKSUM, INIT");
            m.hasMatch()) {
            SqlResult r;
            r.error = backupFailures.value(m.captured(1));
            if (!r.error.isError())
                backupFiles << unquote(m.captured(2), '\'');
            return r;
        }
        if (auto m = match(sql, "RESTORE VERIFYONLY FROM DISK = N" + lit() + " WITH CHECKSUM");
            m.hasMatch()) {
            SqlResult r;
            if (!backupFiles.contains(unquote(m.captured(1), '\'')))
                r.error = serverError(3201, "Cannot open backup device.");
            return r;
        }
        return std::nullopt;
    }

    static QRegularExpressionMatch match(const QString& sql, const QString& pattern) {
        return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(sql);
    }
    static QString lit() { return QStringLiteral("N?'((?:[^']|'')*)'"); }
    static QString eaiCondition() {
        return QStringLiteral(
            "Ea_Account = N?'tqdata_((?:[^']|'')*)' or Ea_Account like N?'tqdata\\[_\\].*\\[_\\]%'");
    }
    static QStringList literals(const QString& list) {
        QStringList out;
        auto it = QRegularExpression(lit()).globalMatch(list);
        while (it.hasNext())
            out << unquote(it.next().captured(1), '\'');
        return out;
    }

    std::optional<SqlResult> catalogue(const QString& sql) {
        if (sql == Expected::kList) {
            QList<QVariantList> rows;
            for (const QString& a : accounts)
                rows << QVariantList{a, QStringLiteral("帐套") + a};
            return FakeScript::rows({"cacc_id", "cacc_name"}, rows);
        }
        if (auto m = match(sql, "select \\* from ua_account where c[aA]cc_id=" + lit()); m.hasMatch()) {
            const QString id = unquote(m.captured(1), '\'');
            // The registration row with the columns every catalogue table has here.
            return FakeScript::rows({"id", "cacc_id", "note"},
                                    accounts.contains(id) ? QList<QVariantList>{{1, id, "UA_account 行1"}}
                                                          : QList<QVariantList>{});
        }
        if (sql == Expected::kTables) {
            QList<QVariantList> rows;
            for (const QString& t : tables)
                rows << QVariantList{t};
            return FakeScript::rows({"name"}, rows);
        }
        if (auto m = match(sql, "select count\\(\\*\\) from EAILog where " + eaiCondition()); m.hasMatch())
            return FakeScript::rows({""}, {{rowsIn("EAILog", unquote(m.captured(1), '\''))}});
        if (auto m = match(sql, "select count\\(\\*\\) from (\\w+) where cacc_id=" + lit()); m.hasMatch())
            return FakeScript::rows({""}, {{rowsIn(m.captured(1), unquote(m.captured(2), '\''))}});
        return std::nullopt;
    }

    std::optional<SqlResult> server(const QString& sql) {
        if (auto m = match(sql, "select \\* from master\\.dbo\\.sysdatabases where name=" + lit());
            m.hasMatch()) {
            const QString db = unquote(m.captured(1), '\'');
            return FakeScript::rows(
                {"name"}, databases.contains(db) ? QList<QVariantList>{{db}} : QList<QVariantList>{});
        }
        if (auto m = match(sql, "select name from master\\.dbo\\.sysdatabases where name in \\((.*)\\)");
            m.hasMatch()) {
            QList<QVariantList> rows;
            for (const QString& db : literals(m.captured(1))) {
                if (databases.contains(db))
                    rows << QVariantList{db};
            }
            return FakeScript::rows({"name"}, rows);
        }
        if (auto m = match(sql, "drop database \\[((?:[^\\]]|\\]\\])*)\\]"); m.hasMatch()) {
            const QString db = unquote(m.captured(1), ']');
            SqlResult r;
            if (!databases.contains(db))
                r.error =
                    serverError(3701, "Cannot drop the database '" + db + "', because it does not exist.");
            else if (!sessions.value(db).isEmpty())
                r.error =
                    serverError(3702, "Cannot drop database \"" + db + "\" because it is currently in use.");
            else if (!keptDatabases.contains(db))
                databases.removeAll(db);
            return r;
        }
        if (auto m = match(sql,
                           ".*from sys\\.dm_tran_locks l join sys\\.dm_exec_sessions s .*"
                           "l\\.resource_type='DATABASE' and l\\.resource_database_id in \\((.*)\\) and "
                           "l\\.request_session_id<>@@SPID");
            m.hasMatch()) {
            QList<QVariantList> rows;
            for (const QString& db : literals(m.captured(1))) {
                for (QVariantList row : sessions.value(db))
                    rows << (row.insert(1, db), row);
            }
            return FakeScript::rows({"spid", "dbname", "login_name", "host_name", "program_name"}, rows);
        }
        if (match(sql, ".*from sys\\.dm_tran_locks .*l\\.resource_type='OBJECT'.*").hasMatch())
            return FakeScript::rows({"spid", "login_name", "host_name", "program_name"}, lockHolders);
        if (match(sql, ".*from master\\.dbo\\.sysprocesses where open_tran>0 and spid<>@@SPID").hasMatch())
            return FakeScript::rows({"spid", "login_name", "host_name", "program_name"}, openTransactions);
        if (sql == "select convert(nvarchar(128),SERVERPROPERTY('ProductVersion'))")
            return FakeScript::rows({""}, {{version}});
        if (auto r = hazards(sql))
            return *r;
        if (auto m = match(sql,
                           "select DB_NAME\\(database_id\\) as dbname,physical_name from sys\\.master_files "
                           "where database_id in \\((.*)\\) order by database_id,file_id");
            m.hasMatch()) {
            QList<QVariantList> rows;
            for (const QString& db : literals(m.captured(1))) {
                if (databases.contains(db))
                    rows << QVariantList{db, "D:\\Data\\" + db + ".mdf"}
                         << QVariantList{db, "E:\\Log\\" + db + "_log.ldf"};
            }
            return FakeScript::rows({"dbname", "physical_name"}, rows);
        }
        if (auto m = match(sql, ".*from master\\.dbo\\.sysaltfiles where dbid=DB_ID\\(" + lit() + "\\)");
            m.hasMatch()) {
            const bool exists = databases.contains(unquote(m.captured(1), '\''));
            return FakeScript::rows({""}, {{exists ? QVariant(2560) : QVariant()}});
        }
        if (auto m = match(
                sql, "select convert\\(nvarchar\\(128\\),DATABASEPROPERTYEX\\(" + lit() + ",'Status'\\)\\)");
            m.hasMatch())
            return FakeScript::rows({""}, {{states.value(unquote(m.captured(1), '\''), "ONLINE")}});
        return std::nullopt;
    }

    std::optional<SqlResult> hazards(const QString& sql) {
        if (auto m = match(sql,
                           "select name,state_desc,user_access_desc,is_published,is_subscribed,"
                           "is_merge_published(,convert\\(nvarchar\\(36\\),replica_id\\) as replica_id)? "
                           "from sys\\.databases where name in \\((.*)\\)");
            m.hasMatch()) {
            const bool ag = !m.captured(1).isEmpty();
            QStringList columns{"name",         "state_desc",    "user_access_desc",
                                "is_published", "is_subscribed", "is_merge_published"};
            if (ag)
                columns << "replica_id";
            QList<QVariantList> rows;
            for (const QString& db : literals(m.captured(2))) {
                if (!databases.contains(db))
                    continue;
                QVariantList row{db,
                                 states.value(db, "ONLINE"),
                                 singleUser.contains(db) ? "SINGLE_USER" : "MULTI_USER",
                                 published.contains(db),
                                 subscribed.contains(db),
                                 mergePublished.contains(db)};
                if (ag)
                    row << (inAvailabilityGroup.contains(db)
                                ? QVariant("8B1C2D3E-0000-0000-0000-000000000001")
                                : QVariant());
                rows << row;
            }
            return FakeScript::rows(columns, rows);
        }
        if (auto m = match(sql,
                           "select name,db_name\\(source_database_id\\) as source from sys\\.databases where "
                           "source_database_id in \\((.*)\\)");
            m.hasMatch()) {
            QList<QVariantList> rows;
            const QStringList listed = literals(m.captured(1));
            for (auto it = snapshots.cbegin(); it != snapshots.cend(); ++it) {
                if (listed.contains(it.value()))
                    rows << QVariantList{it.key(), it.value()};
            }
            return FakeScript::rows({"name", "source"}, rows);
        }
        if (auto m = match(
                sql,
                "select db_name\\(database_id\\) as name,mirroring_role_desc from "
                "sys\\.database_mirroring where mirroring_guid is not null and database_id in \\((.*)\\)");
            m.hasMatch()) {
            QList<QVariantList> rows;
            for (const QString& db : literals(m.captured(1))) {
                if (mirrored.contains(db))
                    rows << QVariantList{db, "PRINCIPAL"};
            }
            return FakeScript::rows({"name", "mirroring_role_desc"}, rows);
        }
        return std::nullopt;
    }

    SqlResult transaction(const QString& sql) {
        SqlResult r;
        if (auto m = match(sql, "Delete from EAILog where " + eaiCondition()); m.hasMatch()) {
            pending.append({"EAILog", unquote(m.captured(1), '\'')});
        } else if (auto d = match(sql, "(?i)delete from (\\w+) where cacc_id ?= ?" + lit()); d.hasMatch()) {
            pending.append({d.captured(1), unquote(d.captured(2), '\'')});
            if (!inTransaction)
                r.error = serverError(0, "outside the transaction");
        } else if (sql == "BEGIN TRANSACTION") {
            inTransaction = true;
        } else if (sql == "COMMIT TRANSACTION") {
            for (const auto& [table, account] : std::exchange(pending, {})) {
                if (keptBy.contains(table))
                    continue;
                purged << table + '/' + account;
                if (table == "UA_account")
                    accounts.removeAll(account);
            }
            inTransaction = false;
        } else if (sql == "ROLLBACK TRANSACTION") {
            if (!inTransaction)
                r.error = serverError(
                    3903, "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION.");
            pending.clear();
            inTransaction = false;
        }
        return r;
    }
};
