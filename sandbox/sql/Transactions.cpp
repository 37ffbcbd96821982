// Transactions: one store transaction held by one session at a time, nested counts, rollback.
#include "sandbox/sql/Executor.h"

#include "sandbox/sql/StoreErrors.h"

namespace sandbox::sql {

// The store holds one transaction at a time: a session's transaction takes it at its first
// write. Another session that would write meanwhile times out at once rather than wait.
void Executor::beforeWrite(Session& s) {
    if (txOwner != 0 && txOwner != s.spid)
        raise(
            {.number = 1222, .state = 51, .severity = 16, .text = "Lock request time out period exceeded."});
    if (s.tranCount > 0 && txOwner == 0) {
        store.run("BEGIN");
        txOwner = s.spid;
    }
}

void Executor::begin(Session& s, Piece& p) {
    if (s.tranCount == 0) {
        s.tranDescriptor = nextDescriptor++;
        p.tran = TranChange::Begin;
        p.tranDescriptor = s.tranDescriptor;
    }
    ++s.tranCount;
}

void Executor::commit(Session& s, Piece& p) {
    if (s.tranCount == 0)
        raise({.number = 3902,
               .state = 1,
               .severity = 16,
               .text = "The COMMIT TRANSACTION request has no corresponding BEGIN TRANSACTION."});
    if (--s.tranCount == 0) {
        if (txOwner == s.spid)
            commitStore(s);
        p.tran = TranChange::Commit;
        p.tranDescriptor = s.tranDescriptor;
        s.tranDescriptor = 0;
    }
}

void Executor::rollback(Session& s, Piece& p) {
    if (s.tranCount == 0)
        raise({.number = 3903,
               .state = 1,
               .severity = 16,
               .text = "The ROLLBACK TRANSACTION request has no corresponding BEGIN TRANSACTION."});
    p.tranDescriptor = s.tranDescriptor;
    abandon(s);
    p.tran = TranChange::Rollback;
}

// A store that will not commit (a deferred constraint, a busy file) has committed nothing: the
// transaction is rolled back, and the batch ends with the error, as when a T-SQL COMMIT fails.
void Executor::commitStore(Session& s) {
    try {
        store.run("COMMIT");
        txOwner = 0;
    } catch (const StoreFailure& f) {
        SqlError e = serverError(f, {.verb = "COMMIT TRANSACTION", .table = {}, .database = s.database});
        e.kind = SqlError::Kind::RuntimeAbort;
        e.endsTransaction = true;
        s.tranCount = 1;  // still open until the batch rolls it back
        throw e;
    }
}

// Rolls back the session's transaction, whatever its nesting. Unchecked: SQLite refuses a
// rollback only when no transaction is left to roll back (a trigger already ended it).
void Executor::abandon(Session& s) {
    if (s.tranCount == 0)
        return;
    if (txOwner == s.spid) {
        if (store.inTransaction())
            store.exec("ROLLBACK");
        txOwner = 0;
    }
    s.tranCount = 0;
    s.tranDescriptor = 0;
}

}  // namespace sandbox::sql
