#pragma once

#include <QString>

// What the tool sets on its connection right after logging in.
namespace SessionOptions {

// How long one statement waits for a lock another session holds before the server gives up with
// 1222 (the default is to wait for ever). The suite's own transactions on the catalogue (log-in
// bookkeeping in UA_log, period and rights edits) commit within a fraction of a second, so 10 s
// waits out any ordinary one many times over; a lock held longer belongs to a session that is
// stuck or waiting for a person, and the operator should be told who it is rather than watch a
// frozen window. It stays under the 15 s the tool gives a silent server to answer a log-in.
// https://learn.microsoft.com/sql/t-sql/statements/set-lock-timeout-transact-sql
inline constexpr int kLockTimeoutMs = 10000;

// XACT_ABORT makes a time-out end its whole batch (and roll back its transaction), so a batch of
// reads waits at most once, not once per locked table; without it the server cancels only the
// statement: https://learn.microsoft.com/sql/t-sql/statements/set-xact-abort-transact-sql
inline QString statement() {
    return QStringLiteral("SET LOCK_TIMEOUT %1;\nSET XACT_ABORT ON").arg(kLockTimeoutMs);
}

}  // namespace SessionOptions
