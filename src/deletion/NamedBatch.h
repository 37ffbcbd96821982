#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include "sql/SqlClient.h"

namespace deletion {

// The queries of one round trip, each under a name, and their results read back by that name:
// a statement added to the batch later cannot shift what another one is read from.
class NamedBatch {
public:
    void add(const QString& name, const QString& query) {
        at_.insert(name, statements_.size());
        statements_ << query;
    }
    bool isEmpty() const { return statements_.isEmpty(); }
    const QStringList& statements() const { return statements_; }

    // Queries only, so each gives one result, unless an error ended the batch early.
    void send(SqlClient& sql) {
        results_ = statements_.isEmpty() ? QList<SqlResult>{} : sql.batch(statements_);
    }

    // The named query's result; one the batch never reached carries the error that ended it.
    SqlResult operator[](const QString& name) const {
        return resultAt(results_, at_.value(name, statements_.size()));
    }
    // The first query that failed or was never reached, in the order they were sent.
    SqlError error() const {
        for (qsizetype i = 0; i < statements_.size(); ++i) {
            if (const SqlResult r = resultAt(results_, i); !r.ok())
                return r.error;
        }
        return SqlError::none();
    }
    // Every query answered (a failure ends a batch early).
    bool complete() const { return results_.size() >= statements_.size(); }
    SqlError firstFailure() const { return firstError(results_); }

private:
    QStringList statements_;
    QHash<QString, qsizetype> at_;
    QList<SqlResult> results_;
};

}  // namespace deletion
