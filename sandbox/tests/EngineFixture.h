#pragma once
// What the engine tests share: a demo installation with one session, and readers of a batch's result.

#include <QStringList>

#include <memory>
#include <string>

#include "sandbox/Engine.h"

namespace sandbox::testing {

inline int errorOf(const Piece& p) {
    for (const auto& m : p.messages)
        if (m.severity > 10)
            return m.number;
    return 0;
}
inline int errorOf(const BatchResult& r) {
    for (const auto& p : r.pieces)
        if (int e = errorOf(p))
            return e;
    return 0;
}

inline QString cellText(const Value& v, ColType t) {
    if (v.null)
        return "NULL";
    if (t == ColType::NVarChar || t == ColType::DateTime)
        return QString::fromStdString(v.text);
    if (t == ColType::Float)
        return QString::number(v.f);
    return QString::number(v.i);
}

// Every row of the first result set, cells joined by "|".
inline QStringList rows(const BatchResult& r) {
    QStringList out;
    for (const auto& p : r.pieces) {
        if (!p.result)
            continue;
        for (const auto& row : p.result->rows) {
            QStringList cells;
            for (size_t i = 0; i < row.size(); ++i)
                cells << cellText(row[i], p.result->columns[i].type);
            out << cells.join('|');
        }
        break;
    }
    return out;
}

struct Fixture {
    Engine engine;
    std::unique_ptr<Session> s;
    explicit Fixture(const std::string& storePath = ":memory:") : engine(storePath) {
        engine.seedDemo();
        s = engine.openSession("TQSystem", "sa", "desk-01", "acctset-remover");
    }
    BatchResult run(const std::string& sql) { return engine.execBatch(*s, sql); }
    int count(const std::string& table, const std::string& where) {
        auto r = engine.queryRaw("SELECT count(*) FROM " + table + " WHERE " + where);
        return r.empty() ? -1 : std::stoi(r[0]);
    }
};

}  // namespace sandbox::testing
