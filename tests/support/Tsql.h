#pragma once
// FreeTDS's own command-line client, run the way the sandbox tests run it: a UTF-8 locale, the
// batches on its standard input, killed if it hangs.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

struct TsqlRun {
    int exitCode = -1;
    QString out;  // result rows, prompts, "(n rows affected)"
    QString err;  // server messages, client errors
};

// env: variables set on top of this process's (FREETDSCONF, TDSDUMP); TDSDUMP is otherwise unset.
inline TsqlRun runTsql(const QStringList& args, const QString& input,
                       const QList<QPair<QString, QString>>& env = {}, int timeoutMs = 30000) {
    TsqlRun run;
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("tsql"));
    if (exe.isEmpty()) {
        run.err = QStringLiteral("tsql not installed (freetds-bin)");
        return run;
    }
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    e.remove(QStringLiteral("TDSDUMP"));
    for (const auto& [name, value] : env)
        e.insert(name, value);
    p.setProcessEnvironment(e);
    p.start(exe, args);
    p.write(input.toUtf8());
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    run.out = QString::fromUtf8(p.readAllStandardOutput());
    run.err = QString::fromUtf8(p.readAllStandardError());
    return run;
}
