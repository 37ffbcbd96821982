// A batch: parsed whole, compiled where its tables exist, then run statement by statement.
#include "sandbox/sql/Executor.h"

#include <regex>
#include "sandbox/sql/Parse.h"

namespace sandbox::sql {

void Executor::checkFaults(const Statement& st) {
    for (auto& f : faults) {
        if (f.remaining == 0)
            continue;
        if (!std::regex_match(st.text, f.re))
            continue;
        if (f.remaining > 0)
            --f.remaining;
        throw SqlError{f.message, SqlError::Kind::Runtime};
    }
}

void Executor::run(const Statement& st, Session& s, Piece& p, BatchResult& out) {
    checkFaults(st);
    bool touchesTable = (st.kind == Statement::Kind::Select && st.from) || st.kind == Statement::Kind::Delete;
    if (s.implicitTransactions && s.tranCount == 0 && touchesTable)
        begin(s, p);
    switch (st.kind) {
        case Statement::Kind::Select:
            select(st, s, p);
            break;
        case Statement::Kind::Delete:
            remove(st, s, p);
            break;
        case Statement::Kind::DropDatabase:
            dropDatabase(st, s);
            break;
        case Statement::Kind::DropOther:
            raise({.number = 3701,
                   .state = 5,
                   .severity = 11,
                   .text = "Cannot drop the " + st.names[1] + " '" + st.names[0] +
                           "', because it does not exist or you do not have permission."});
        case Statement::Kind::Use:
            use(st, s, p, out);
            break;
        case Statement::Kind::Set:
            set(st, s, p);
            break;
        case Statement::Kind::BeginTran:
            begin(s, p);
            break;
        case Statement::Kind::CommitTran:
            commit(s, p);
            break;
        case Statement::Kind::RollbackTran:
            rollback(s, p);
            break;
        case Statement::Kind::Exec:
            execProc(st, p);
            break;
    }
}

void Executor::remember(const Session& s) {
    auto& info = sessions[s.spid];
    info.database = s.database;
    info.login = s.login;
    info.host = s.host;
    info.program = s.program;
    info.tranCount = s.tranCount;
    if (info.loginTime.empty())
        info.loginTime = nowText();
}

BatchResult Executor::batch(Session& s, const std::string& text) {
    log.push_back(text);
    remember(s);
    BatchResult out;
    sql::ParseResult parsed = sql::parseBatch(text);
    if (!parsed.errors.empty()) {
        Piece p;
        p.messages = parsed.errors;
        s.lastError = parsed.errors.front().number;
        out.pieces.push_back(std::move(p));
    }
    // Statements over tables that exist now are compiled with the batch: an unknown column
    // there stops the whole batch before anything runs. A table that doesn't exist yet is
    // left to its statement, as the server defers resolving it.
    for (const auto& st : parsed.statements) {
        if (st.kind == Statement::Kind::Use)
            break;
        if (st.kind != Statement::Kind::Select && st.kind != Statement::Kind::Delete)
            continue;
        if (st.from && !resolve(st.from->parts, s))
            continue;
        try {
            Piece dry;
            if (st.kind == Statement::Kind::Select)
                select(st, s, dry, true);
            else
                remove(st, s, dry, true);
        } catch (const SqlError& e) {
            Piece p;
            p.messages.push_back(e.m);
            p.messages.back().line = st.line;
            s.lastError = e.m.number;
            out.pieces.push_back(std::move(p));
            out.database = s.database;
            return out;
        }
    }
    for (const auto& st : parsed.statements) {
        Piece p;
        bool stop = false;
        try {
            run(st, s, p, out);
            s.lastError = 0;
        } catch (const SqlError& e) {
            Message m = e.m;
            m.line = st.line;
            p.messages.push_back(m);
            p.rowCount = -1;
            p.result.reset();
            s.lastError = m.number;
            stop = e.kind != SqlError::Kind::Runtime;
            if (e.kind != SqlError::Kind::Compile && s.xactAbort) {
                if (s.tranCount > 0) {
                    p.tranDescriptor = s.tranDescriptor;
                    abandon(s);
                    p.tran = TranChange::Rollback;
                }
                stop = true;
            }
        }
        out.pieces.push_back(std::move(p));
        if (stop)
            break;
    }
    if (out.pieces.empty())
        out.pieces.emplace_back();
    out.database = s.database;
    remember(s);
    return out;
}

}  // namespace sandbox::sql
