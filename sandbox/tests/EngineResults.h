#pragma once
// Engine tests' helpers: the demo installation with one session, the first error's number and text, the rows
// as text.

#include <QStringList>
#include <memory>

#include "sandbox/Engine.h"

namespace sandbox::testing {

inline const Message* firstError(const BatchResult& r) {
    for (const auto& p : r.pieces)
        for (const auto& m : p.messages)
            if (m.severity > 10)
                return &m;
    return nullptr;
}

inline int errorNumber(const BatchResult& r) {
    const Message* m = firstError(r);
    return m ? m->number : 0;
}

inline QString errorText(const BatchResult& r) {
    const Message* m = firstError(r);
    return m ? QString::fromStdString(m->text) : QString();
}

inline QString cellText(const Value& v, ColType t) {
    if (v.null)
        return QStringLiteral("NULL");
    if (t == ColType::NVarChar || t == ColType::DateTime)
        return QString::fromStdString(v.text);
    if (t == ColType::Float)
        return QString::number(v.f);
    return QString::number(v.i);
}

// Every row of the first result set, cells joined by "|".
inline QStringList resultRows(const BatchResult& r) {
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

// The demo installation and one session in TQSystem, as the tool opens it.
struct DemoEngine {
    Engine engine;
    std::unique_ptr<Session> s;
    DemoEngine() {
        engine.seedDemo();
        s = engine.openSession("TQSystem", "sa", "desk-01", "acctset-remover");
    }
    BatchResult run(const std::string& sql) { return engine.execBatch(*s, sql); }
    QStringList rows(const std::string& sql) { return resultRows(run(sql)); }
};

}  // namespace sandbox::testing
