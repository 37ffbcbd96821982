#pragma once
// What the deletion run tests share: a scripted installation, a host that records what the operator
// was shown, and the request and run helpers.
#include <QtTest>

#include "deletion/Backups.h"
#include "deletion/Deletion.h"
#include "support/FakeInstallation.h"
#include "support/JournalLines.h"

namespace runtest {

using deletion::Outcome;
using deletion::Request;
using namespace Expected;

const QString kConfirmAccount = QStringLiteral(
    "此操作将会从系统数据库TqSystem的关键数据表中删除帐套001的信息,此操作不可恢复,确认删除帐套?");
const QString kNotQueried = QStringLiteral("无法查询数据库服务器,删除操作已停止,没有删除任何数据!");

// Records what the progress window was told; cancels when the backup of a given database starts.
class View final : public deletion::BackupView {
public:
    void start(const QStringList& dbs) override { started = dbs; }
    void progress(qsizetype, int, const QString& what) override {
        steps << what;
        if (!cancelAt.isEmpty() && what == cancelAt)
            isCancelled = true;
    }
    bool cancelled() const override { return isCancelled; }
    void finish() override { finished = true; }

    QStringList started;
    QStringList steps;
    QString cancelAt;
    bool isCancelled = false;
    bool finished = false;
};

class Host final : public deletion::DeletionHost {
public:
    explicit Host(std::shared_ptr<FakeScript> s) : client_(std::move(s)) { client_.open({}); }

    SqlClient& client() override { return client_; }
    void notice(const QString& text, const QString& details) override {
        shown << text;
        lastDetails = details;
    }
    bool confirm(const QString& text, const QString& details) override {
        shown << text;
        if (confirmations++ == 0)
            previewDetails = details;
        return answers.isEmpty() || answers.takeFirst();
    }
    bool confirmWithCheck(const QString& text, const QString& details, const QString& checkText,
                          bool* checked) override {
        checkShown = checkText + (*checked ? " [x]" : " [ ]");
        checkDetails = details;
        *checked = backupsChosen;
        return confirm(text, details);
    }
    QString serverName() override { return "SRV01"; }
    deletion::BackupView* backupView() override { return &view; }
    void showWait() override { waiting = true; }
    void closeWait() override { waiting = false; }
    void yield() override {}

    QList<bool> answers;  // OK unless told otherwise
    QStringList shown;
    QString lastDetails;
    QString previewDetails;
    int confirmations = 0;
    bool waiting = false;
    bool backupsChosen = true;
    QString checkShown;
    QString checkDetails;
    View view;

private:
    FakeSqlClient client_;
};

inline Request request(const QString& number, const QString& years = {}) {
    return {number, !years.isNull(), YearList::fromText(years)};
}

struct RunFixture {
    std::shared_ptr<FakeScript> script;
    FakeInstallation inst;
    std::unique_ptr<Host> host;
    QStringList duringWait;  // statements sent while the wait window was up

    Outcome run(const Request& r, QList<bool> answers = {}) {
        host->answers = answers;
        script->log.clear();
        script->roundTrips = 0;
        return deletion::run(r, *host);
    }

    // Nothing on the server changed.
    void verifyUntouched() {
        for (const QString& s : script->log) {
            QVERIFY2(!s.startsWith("delete", Qt::CaseInsensitive) && !s.startsWith("drop"), qPrintable(s));
            QVERIFY(s != "BEGIN TRANSACTION");
        }
        QVERIFY(inst.accounts.contains("001"));
        QVERIFY(!host->waiting);
    }

    QTemporaryDir undoDir;

    QStringList savedScripts() const {
        const QDir d(undoDir.path());
        QStringList out;
        for (const QString& f : d.entryList({"*.sql"}, QDir::Files))
            out << d.filePath(f);
        return out;
    }
    QString savedScript() const {
        QFile f(savedScripts().value(0));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString journalPath() const { return QDir(undoDir.path()).filePath("deletions.log"); }
    // The journal's lines, each split into its fields.
    QList<QStringList> journal() const { return journalLines(journalPath()); }

    bool setUpOnce() {
        if (!undoDir.isValid())
            return false;
        qputenv("ACCTSET_UNDO_DIR", undoDir.path().toUtf8());
        return true;
    }

    void setUp() {
        for (const QString& f : savedScripts())
            QFile::remove(f);
        QFile::remove(journalPath());
        inst = FakeInstallation{};
        inst.databases = {"tqdata_001_2002", "tqdata_001_2003", "tqdata_002_2002"};
        script = std::make_shared<FakeScript>();
        duringWait.clear();
        script->onStatement = [this](const QString& sql) {
            if (host && host->waiting)
                duringWait << sql;
            script->answer(sql, inst.answer(sql), 1);
        };
        host = std::make_unique<Host>(script);
    }
};

}  // namespace runtest
