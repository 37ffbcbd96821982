#pragma once
// The shared engine fixture with the first error's text and the rows of a statement, for the states and
// collation tests.

#include "EngineFixture.h"

namespace sandbox::testing {

inline const Message* firstError(const BatchResult& r) {
    for (const auto& p : r.pieces)
        for (const auto& m : p.messages)
            if (m.severity > 10)
                return &m;
    return nullptr;
}

inline int errorNumber(const BatchResult& r) { return errorOf(r); }

inline QString errorText(const BatchResult& r) {
    const Message* m = firstError(r);
    return m ? QString::fromStdString(m->text) : QString();
}

inline QStringList resultRows(const BatchResult& r) { return rows(r); }

// The demo installation and one session in TQSystem, as the tool opens it.
struct DemoEngine : Fixture {
    QStringList rows(const std::string& sql) { return resultRows(run(sql)); }
};

}  // namespace sandbox::testing
