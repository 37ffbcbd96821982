// The tokens of a whole batch: each statement's result, messages, transaction changes and DONE.
#include "sandbox/tds/Tokens.h"

namespace sandbox::tds {

namespace {
constexpr uint16_t kCmdSelect = 0xC1;
}

void TokenWriter::batch(const BatchResult& r, uint64_t tranDescriptor, const std::string& databaseBefore,
                        bool insideProc) {
    if (r.pieces.empty()) {
        if (r.useDatabaseChanged)
            envChange(kEnvDatabase, r.database, databaseBefore);
        if (!insideProc)
            done(kDone, kDoneFinal, 0, 0);
        return;
    }
    bool databaseSent = false;
    for (size_t i = 0; i < r.pieces.size(); ++i) {
        const Piece& p = r.pieces[i];
        const bool last = i + 1 == r.pieces.size();
        if (p.result) {
            colMetadata(p.result->columns);
            for (const auto& row : p.result->rows)
                this->row(p.result->columns, row);
        }
        bool error = false;
        for (const auto& m : p.messages) {
            // A server announces the new database just before saying it changed context.
            if (m.number == 5701 && r.useDatabaseChanged && !databaseSent) {
                envChange(kEnvDatabase, r.database, databaseBefore);
                databaseSent = true;
            }
            message(m);
            error = error || m.severity > 10;
        }
        switch (p.tran) {
            case TranChange::Begin:
                tranChange(kEnvBeginTran, p.tranDescriptor);
                tranDescriptor = p.tranDescriptor;
                break;
            case TranChange::Commit:
                tranChange(kEnvCommitTran, p.tranDescriptor ? p.tranDescriptor : tranDescriptor);
                tranDescriptor = 0;
                break;
            case TranChange::Rollback:
                tranChange(kEnvRollbackTran, p.tranDescriptor ? p.tranDescriptor : tranDescriptor);
                tranDescriptor = 0;
                break;
            case TranChange::None:
                break;
        }
        if (last && r.useDatabaseChanged && !databaseSent)
            envChange(kEnvDatabase, r.database, databaseBefore);
        uint16_t status = last && !insideProc ? kDoneFinal : kDoneMore;
        if (error)
            status |= kDoneError;
        if (p.rowCount >= 0)
            status |= kDoneCount;
        done(insideProc ? kDoneInProc : kDone, status, p.result ? kCmdSelect : 0,
             p.rowCount >= 0 ? static_cast<uint64_t>(p.rowCount) : 0);
    }
}

}  // namespace sandbox::tds
