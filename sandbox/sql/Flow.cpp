// Control of flow as scripts use it: IF ... ELSE, BEGIN ... END, TRY ... CATCH, PRINT, RAISERROR,
// SET NOEXEC; EXISTS and scalar subqueries; ALTER DATABASE ... SET of a state or user access.
#include "sandbox/sql/Collation.h"
#include "sandbox/sql/Executor.h"

namespace sandbox::sql {

namespace {

// Under NOEXEC a batch is compiled, not run; SET NOEXEC OFF is the one statement that still acts:
// https://learn.microsoft.com/en-us/sql/t-sql/statements/set-noexec-transact-sql
bool endsNoExec(const Statement& st) {
    return st.kind == Statement::Kind::Set && st.option == "NOEXEC";
}

// RAISERROR's format: %s, %d and %i take the arguments in order, %% is a percent sign.
// https://learn.microsoft.com/en-us/sql/t-sql/language-elements/raiserror-transact-sql
std::string formatted(const std::string& format, const std::vector<Cell>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 >= format.size()) {
            out += format[i];
            continue;
        }
        const char f = format[++i];
        if (f == '%') {
            out += '%';
        } else if (f == 's' || f == 'd' || f == 'i') {
            out += next < args.size() ? (args[next].v.null ? "(null)" : cellText(args[next])) : "(null)";
            ++next;
        } else {
            out += '%';
            out += f;
        }
    }
    return out;
}

}  // namespace

bool Executor::isCompound(const Statement& st) {
    return st.kind == Statement::Kind::If || st.kind == Statement::Kind::Block ||
           st.kind == Statement::Kind::Try;
}

bool Executor::skipped(const Statement& st, const Session& s) {
    return s.noExec && !endsNoExec(st);
}

// The statements of a block, each as the batch runs its own; true: the batch stops.
bool Executor::body(const std::vector<Statement>& list, Session& s, BatchResult& out) {
    for (const auto& st : list) {
        if (skipped(st, s))
            continue;
        Piece p;
        const bool stop = statement(st, s, p, out);
        if (!isCompound(st) && !out.cancelled && !out.killed)
            out.pieces.push_back(std::move(p));
        if (stop)
            return true;
    }
    return false;
}

// An error inside TRY goes to its CATCH block, unsent; what ends the batch at compile time (a name
// resolved late) is not caught at the same level, as on the server:
// https://learn.microsoft.com/en-us/sql/t-sql/language-elements/try-catch-transact-sql
bool Executor::compound(const Statement& st, Session& s, BatchResult& out) {
    if (st.kind == Statement::Kind::Block)
        return body(st.body, s, out);
    if (st.kind == Statement::Kind::If) {
        std::optional<bool> yes;
        try {
            Ctx c;
            c.s = &s;
            yes = truth(eval(*st.where, c));
        } catch (const SqlError& e) {
            if (s.tryDepth > 0 && e.kind != SqlError::Kind::Compile)
                throw Caught{e};
            Piece p;
            const bool stop = failed(e, st, s, p);
            out.pieces.push_back(std::move(p));
            return stop;
        }
        return body(yes.value_or(false) ? st.body : st.orElse, s, out);
    }
    std::optional<SqlError> caught;
    ++s.tryDepth;
    try {
        const bool stop = body(st.body, s, out);
        --s.tryDepth;
        if (stop)
            return true;
    } catch (const Caught& c) {
        --s.tryDepth;
        caught = c.e;
    } catch (...) {
        --s.tryDepth;
        throw;
    }
    if (!caught)
        return false;
    // ERROR_MESSAGE() is the error that ended the TRY block: of RESTORE's two, the last (3013).
    s.caught.push_back(caught->more.empty() ? caught->m : caught->more.back());
    const bool stop = body(st.orElse, s, out);
    s.caught.pop_back();
    return stop;
}

void Executor::print(const Statement& st, Session& s, Piece& p) {
    Ctx c;
    c.s = &s;
    const Cell v = eval(*st.procArgs[0], c);
    p.messages.push_back({.number = 0, .state = 1, .severity = 0, .text = v.v.null ? "" : cellText(v)});
}

void Executor::raiseError(const Statement& st, Session& s, Piece& p) {
    Ctx c;
    c.s = &s;
    std::vector<Cell> a;
    for (const auto& e : st.procArgs)
        a.push_back(eval(*e, c));
    if (a.size() < 3)
        raise({.number = 102, .state = 1, .severity = 15, .text = "Incorrect syntax near ')'."});
    Message m{.number = 50000,
              .state = static_cast<int>(toInt(a[2], ColType::Int)),
              .severity = static_cast<int>(toInt(a[1], ColType::Int)),
              .text = formatted(a[0].v.null ? "" : cellText(a[0]), {a.begin() + 3, a.end()})};
    if (m.severity <= 10) {
        p.messages.push_back(std::move(m));
        return;
    }
    raise(std::move(m));
}

// What EXISTS and a scalar subquery read: the rows of the inner SELECT.
Cell Executor::subquery(const Expr& e, const Ctx& c) {
    Piece p;
    select(*e.query, const_cast<Session&>(*c.s), p);
    const size_t n = p.result ? p.result->rows.size() : 0;
    if (e.kind == Expr::Kind::Exists)
        return boolCell(n > 0);
    if (n > 1)
        raise({.number = 512,
               .state = 1,
               .severity = 16,
               .text =
                   "Subquery returned more than 1 value. This is not permitted when the subquery follows =, "
                   "!=, <, <= , >, >= or when the subquery is used as an expression."});
    if (n == 0 || p.result->columns.empty())
        return nullCell();
    Cell x;
    x.t = p.result->columns[0].type;
    x.v = p.result->rows[0][0];
    return x;
}

// SINGLE_USER and RESTRICTED_USER need every other session out of the database, a state change as
// much; WITH NO_WAIT fails at once where the server would otherwise wait (the sandbox never waits
// here). 5061, 5069, 5070:
// https://learn.microsoft.com/en-us/sql/relational-databases/errors-events/database-engine-events-and-errors-5000-to-5999
// https://learn.microsoft.com/en-us/sql/t-sql/statements/alter-database-transact-sql-set-options
void Executor::alterDatabase(const Statement& st, Session& s) {
    const std::string& name = st.names[0];
    const auto statementFailed = [](Message m) {
        SqlError e{std::move(m), SqlError::Kind::Runtime, {}, false};
        e.more.push_back(
            {.number = 5069, .state = 1, .severity = 16, .text = "ALTER DATABASE statement failed."});
        throw e;
    };
    auto d = store.findDatabase(name);
    if (!d)
        statementFailed({.number = 5011,
                         .state = 5,
                         .severity = 14,
                         .text = "User does not have permission to alter database '" + name +
                                 "', the database does not exist, or the database is not in a state that "
                                 "allows access checks."});
    if (userAccessCode(st.option) < 0 && stateCode(st.option) < 0)
        raise({.number = 102,
               .state = 1,
               .severity = 15,
               .text = "Incorrect syntax near '" + st.option + "'."});
    bool used = false;
    for (const auto& lock : databaseLocks())
        used = used || (lock.spid != s.spid && compareText(lock.database, d->name) == 0);
    if (used && (st.option == "SINGLE_USER" || st.option == "RESTRICTED_USER"))
        statementFailed({.number = 5061,
                         .state = 1,
                         .severity = 16,
                         .text = "ALTER DATABASE failed because a lock could not be placed on database '" +
                                 d->name + "'. Try again later."});
    if (used && stateCode(st.option) >= 0)
        statementFailed(
            {.number = 5070,
             .state = 2,
             .severity = 16,
             .text = "Database state cannot be changed while other users are using the database '" + d->name +
                     "'"});
    setDatabaseState(d->name, st.option);
}

}  // namespace sandbox::sql
