// BACKUP DATABASE: the database's rows and a payload written to a file of the sandbox's format.
#include "sandbox/sql/Executor.h"

namespace sandbox::sql {

void Executor::backup(const Statement&, Session&, Piece&) {
    raise({.number = 40000, .state = 1, .severity = 16, .text = "BACKUP is not supported here."});
}

}  // namespace sandbox::sql
