// A batch: parsed whole, compiled where its tables exist, then run statement by statement.
#include "sandbox/sql/Executor.h"

#include <regex>

#include "sandbox/sql/Parse.h"
#include "sandbox/sql/StoreErrors.h"

namespace sandbox::sql {

namespace {

// What each kind of statement is called in messages and in dm_exec_requests.command.
const char* const kVerbs[] = {"SELECT",
                              "DELETE",
                              "INSERT",
                              "DROP DATABASE",
                              "DROP",
                              "USE",
                              "SET",
                              "BEGIN TRANSACTION",
                              "COMMIT TRANSACTION",
                              "ROLLBACK TRANSACTION",
                              "EXECUTE",
                              "BACKUP DATABASE",
                              "RESTORE DATABASE",
                              "KILL",
                              "COND",
                              "COND",
                              "COND",
                              "PRINT",
                              "RAISERROR",
                              "ALTER DATABASE",
                              "RETURN"};

}  // namespace

void Executor::checkFaults(const Statement& st) {
    for (auto c = changes.begin(); c != changes.end(); ++c) {
        if (std::regex_match(st.text, c->re)) {
            store.exec(c->sqlite);
            changes.erase(c);
            break;
        }
    }
    for (auto& f : faults) {
        if (f.remaining == 0)
            continue;
        if (!std::regex_match(st.text, f.re))
            continue;
        if (f.remaining > 0)
            --f.remaining;
        raise(f.message);
    }
}

void Executor::run(const Statement& st, Session& s, Piece& p, BatchResult& out) {
    checkFaults(st);
    bool touchesTable = (st.kind == Statement::Kind::Select && st.from) ||
                        st.kind == Statement::Kind::Delete || st.kind == Statement::Kind::Insert;
    if (s.implicitTransactions && s.tranCount == 0 && touchesTable)
        begin(s, p);
    switch (st.kind) {
        case Statement::Kind::Select:
            select(st, s, p);
            break;
        case Statement::Kind::Delete:
            remove(st, s, p);
            break;
        case Statement::Kind::Insert:
            insert(st, s, p);
            break;
        case Statement::Kind::Backup:
            backup(st, s, p);
            break;
        case Statement::Kind::Restore:
            restore(st, s, p);
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
        case Statement::Kind::Kill:
            kill(s, static_cast<int>(st.killSpid));
            break;
        case Statement::Kind::Print:
            print(st, s, p);
            break;
        case Statement::Kind::Raiserror:
            raiseError(st, s, p);
            break;
        case Statement::Kind::AlterDatabase:
            alterDatabase(st, s);
            break;
        case Statement::Kind::Return:
        case Statement::Kind::If:
        case Statement::Kind::Block:
        case Statement::Kind::Try:
            break;  // statement() hands them to compound()
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

// Statements over tables that exist now are compiled with the batch: an unknown column there
// stops the whole batch before anything runs. A table that doesn't exist yet is left to its
// statement, as the server defers resolving it. False: the batch stops, with its error in out.
bool Executor::compile(const std::vector<Statement>& statements, Session& s, BatchResult& out) {
    for (const auto& st : statements) {
        if (st.kind == Statement::Kind::Use)
            break;
        if (st.kind != Statement::Kind::Select && st.kind != Statement::Kind::Delete &&
            st.kind != Statement::Kind::Insert)
            continue;
        Piece p;
        try {
            if (st.from && !resolve(st.from->parts, s))
                continue;
            if (st.kind == Statement::Kind::Select)
                select(st, s, p, true);
            else if (st.kind == Statement::Kind::Insert)
                insert(st, s, p, true);
            else
                remove(st, s, p, true);
            continue;
        } catch (const SqlError& e) {
            p.messages.push_back(e.m);
            p.messages.back().line = st.line;
            s.lastError = e.m.number;
        } catch (const StoreFailure& f) {
            failed(storeError(f, st, s), st, s, p);
        }
        out.pieces.push_back(std::move(p));
        return false;
    }
    return true;
}

SqlError Executor::storeError(const StoreFailure& f, const Statement& st, const Session& s) {
    StoreFailureSite site{.verb = kVerbs[static_cast<int>(st.kind)],
                          .table = st.from ? st.from->parts.back() : std::string(),
                          .database = st.from && st.from->parts.size() == 3 ? st.from->parts[0] : s.database};
    SqlError e = serverError(f, site);
    // A trigger that rolled back the store's whole transaction ended the session's with it, as a
    // ROLLBACK in a T-SQL trigger does: Msg 3609, and the batch ends.
    if (txOwner == s.spid && !store.inTransaction()) {
        e.more.push_back({.number = 3609,
                          .state = 1,
                          .severity = 16,
                          .text = "The transaction ended in the trigger. The batch has been aborted."});
        e.kind = SqlError::Kind::RuntimeAbort;
        e.endsTransaction = true;
    }
    return e;
}

// The error ends the statement, whose writes are already undone; it ends the transaction too
// under XACT_ABORT ON, or when the store's transaction is gone. True: the batch stops.
bool Executor::failed(const SqlError& e, const Statement& st, Session& s, Piece& p) {
    std::vector<Message> all{e.m};
    all.insert(all.end(), e.more.begin(), e.more.end());
    for (Message& m : all) {
        m.line = st.line;
        p.messages.push_back(std::move(m));
    }
    p.rowCount = -1;
    p.result.reset();
    s.lastError = e.m.number;
    s.lastRowCount = 0;
    bool stop = e.kind != SqlError::Kind::Runtime;
    if (e.kind != SqlError::Kind::Compile && (s.xactAbort || e.endsTransaction)) {
        if (s.tranCount > 0) {
            p.tranDescriptor = s.tranDescriptor;
            abandon(s);
            p.tran = TranChange::Rollback;
        }
        stop = true;
    }
    return stop;
}

BatchResult Executor::batch(Session& s, const std::string& text) {
    log.push_back(text);
    if (logFile)
        *logFile << text << "\ngo\n" << std::flush;
    remember(s);
    BatchResult out;
    sql::ParseResult parsed = sql::parseBatch(text);
    if (!parsed.errors.empty()) {
        Piece p;
        p.messages = parsed.errors;
        s.lastError = parsed.errors.front().number;
        out.pieces.push_back(std::move(p));
    }
    bool stop = !compile(parsed.statements, s, out);
    for (size_t i = 0; i < parsed.statements.size() && !stop; ++i) {
        const Statement& st = parsed.statements[i];
        if (skipped(st, s))
            continue;
        Piece p;
        stop = statement(st, s, p, out);
        if (!isCompound(st) && !out.cancelled && !out.killed)
            out.pieces.push_back(std::move(p));
    }
    if (out.pieces.empty())
        out.pieces.emplace_back();
    out.database = s.database;
    endOfStatement(s);
    SessionInfo& info = sessions[s.spid];
    info.command.clear();
    info.percentComplete = 0;
    remember(s);
    return out;
}

// Runs one statement of the batch; true: the batch stops. Locks taken outside a transaction last
// as long as the statement.
bool Executor::statement(const Statement& st, Session& s, Piece& p, BatchResult& out) {
    if (isCompound(st))
        return compound(st, s, out);
    if (st.kind == Statement::Kind::Return)
        return true;
    sessions[s.spid].command = kVerbs[static_cast<int>(st.kind)];
    bool stop = false;
    try {
        try {
            run(st, s, p, out);
        } catch (const StoreFailure& f) {
            throw storeError(f, st, s);
        }
        s.lastError = 0;
    } catch (const SqlError& e) {
        if (s.tryDepth > 0 && e.kind != SqlError::Kind::Compile) {
            endOfStatement(s);
            throw Caught{e};
        }
        stop = failed(e, st, s, p);
    } catch (const Interrupted& i) {
        interrupted(i, s, out);
        stop = true;
    }
    endOfStatement(s);
    return stop;
}

// A cancelled statement leaves the transaction open unless XACT_ABORT is on; a killed session's
// transaction is rolled back and its connection closed.
void Executor::interrupted(const Interrupted& i, Session& s, BatchResult& out) {
    out.killed = i.killed;
    out.cancelled = !i.killed;
    if (!i.killed && s.xactAbort && s.tranCount > 0) {
        Piece p;
        p.tran = TranChange::Rollback;
        p.tranDescriptor = s.tranDescriptor;
        out.pieces.push_back(std::move(p));
    }
    if (i.killed || s.xactAbort)
        abandon(s);
}

}  // namespace sandbox::sql
