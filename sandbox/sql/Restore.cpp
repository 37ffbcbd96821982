// RESTORE VERIFYONLY and RESTORE DATABASE from a file BACKUP DATABASE wrote.
#include "sandbox/sql/Executor.h"

namespace sandbox::sql {

void Executor::restore(const Statement&, Session&, Piece&) {
    raise({.number = 40000, .state = 1, .severity = 16, .text = "RESTORE is not supported here."});
}

}  // namespace sandbox::sql
