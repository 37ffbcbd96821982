#pragma once

#include <functional>
#include <memory>

#include <QRegularExpression>

#include "sql/SqlClient.h"

// A scripted stand-in for the connection: answers statements from rules and records every call,
// so tests can assert the exact statements sent. Shared with the test through a shared_ptr,
// since the window owns (and may release) the client it is handed.
struct FakeScript {
    struct Rule {
        QRegularExpression pattern;  // matched against the whole statement
        SqlResult result;            // for a command only result.error counts
        int remaining = -1;          // answers left; -1 for every time
    };

    QList<Rule> rules;
    QStringList log;              // every statement, in order; "OPEN server" / "CLOSE" too
    int roundTrips = 0;           // queries, commands and batches sent (a batch counts once)
    SqlError openError;           // what open() answers
    QList<ConnectionSpec> opens;  // every spec open() was given
    bool open = false;
    int liveClients = 0;
    std::function<void(const QString&)> onStatement;  // runs before the answer (e.g. to tick a box)

    // Exact statement text.
    void answer(const QString& statement, const SqlResult& result, int times = -1) {
        rules.prepend(
            {QRegularExpression(QRegularExpression::anchoredPattern(QRegularExpression::escape(statement))),
             result, times});
    }
    void answerMatching(const QString& regex, const SqlResult& result, int times = -1) {
        rules.prepend({QRegularExpression(QRegularExpression::anchoredPattern(regex)), result, times});
    }
    void fail(const QString& statement, int nativeCode, const QString& message, int times = -1) {
        SqlResult r;
        r.error = {SqlError::Kind::Statement, nativeCode, message};
        answer(statement, r, times);
    }

    static SqlResult rows(const QStringList& columns, const QList<QVariantList>& rows) {
        SqlResult r;
        r.columns = columns;
        r.rows = rows;
        return r;
    }

    SqlResult run(const QString& sql) {
        log << sql;
        if (onStatement)
            onStatement(sql);
        if (!open) {
            SqlResult r;
            r.error = {SqlError::Kind::Connection, 0, QStringLiteral("Connection is not open")};
            return r;
        }
        for (Rule& rule : rules) {
            if (rule.remaining != 0 && rule.pattern.match(sql).hasMatch()) {
                if (rule.remaining > 0)
                    --rule.remaining;
                return rule.result;
            }
        }
        return {};
    }
};

class FakeSqlClient final : public SqlClient {
public:
    explicit FakeSqlClient(std::shared_ptr<FakeScript> script) : s_(std::move(script)) { ++s_->liveClients; }
    // The script stands for one server: it closes with the last client.
    ~FakeSqlClient() override {
        if (--s_->liveClients == 0)
            s_->open = false;
    }

    SqlError open(const ConnectionSpec& spec) override {
        s_->log << QStringLiteral("OPEN ") + spec.server;
        s_->opens << spec;
        s_->open = !s_->openError.isError();
        return s_->openError;
    }
    void close() override {
        s_->log << QStringLiteral("CLOSE");
        s_->open = false;
    }
    bool isOpen() const override { return s_->open; }
    SqlResult query(const QString& sql) override {
        ++s_->roundTrips;
        return s_->run(sql);
    }
    SqlError command(const QString& sql) override {
        ++s_->roundTrips;
        return s_->run(sql).error;
    }
    // Each statement is logged and answered on its own; the first error ends the batch, as a
    // failure under XACT_ABORT or a missing table does on the server.
    QList<SqlResult> batch(const QStringList& statements) override {
        ++s_->roundTrips;
        QList<SqlResult> out;
        for (const QString& sql : statements) {
            out << s_->run(sql);
            if (!out.last().ok())
                break;
        }
        if (out.isEmpty())
            out << SqlResult{};
        return out;
    }

private:
    std::shared_ptr<FakeScript> s_;
};
