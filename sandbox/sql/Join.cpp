// Joins: the tables of FROM … JOIN as one source, its rows made by nested loops when the statement runs.
#include "sandbox/sql/Executor.h"

namespace sandbox::sql {

Source Executor::openJoined(const Statement& st, const Session& s) {
    Source out;
    out.joins = &st.joins;
    out.parts.push_back(open(*st.from, s));
    for (const auto& j : st.joins)
        out.parts.push_back(open(j.table, s));
    for (size_t k = 0; k < out.parts.size(); ++k) {
        const Source& p = out.parts[k];
        const bool outer = k > 0 && st.joins[k - 1].left;
        for (Column c : p.cols) {
            c.nullable = c.nullable || outer;
            out.cols.push_back(std::move(c));
            out.qualifiers.push_back(p.alias.empty() ? p.name : p.alias);
        }
    }
    out.used.assign(out.cols.size(), 0);
    for (const auto& j : st.joins)
        bind(*j.on, &out, false, false);
    return out;
}

// The rows of the join, each as wide as all its tables; a LEFT JOIN keeps a row without a match,
// nulls on the right.
void Executor::join(Source& src, const Session& s) {
    size_t offset = 0;
    for (Source& p : src.parts) {
        for (size_t c = 0; c < p.cols.size(); ++c)
            p.used[c] = src.used[offset + c];
        offset += p.cols.size();
        if (p.userTable)
            filter(p, nullptr, s);
    }
    const size_t width = src.cols.size();
    std::vector<std::vector<Value>> rows;
    for (const auto& r : src.parts[0].rows) {
        rows.push_back(r);
        rows.back().resize(width);
    }
    offset = src.parts[0].cols.size();
    Ctx c;
    c.s = &s;
    c.src = &src;
    for (size_t k = 1; k < src.parts.size(); ++k) {
        const Source& p = src.parts[k];
        const JoinClause& j = (*src.joins)[k - 1];
        std::vector<std::vector<Value>> next;
        for (const auto& left : rows) {
            bool matched = false;
            for (const auto& right : p.rows) {
                std::vector<Value> row = left;
                std::copy(right.begin(), right.end(), row.begin() + static_cast<ptrdiff_t>(offset));
                c.row = &row;
                if (truth(eval(*j.on, c)).value_or(false)) {
                    next.push_back(std::move(row));
                    matched = true;
                }
            }
            if (!matched && j.left)
                next.push_back(left);
        }
        rows = std::move(next);
        offset += p.cols.size();
    }
    src.rows = std::move(rows);
    src.parts.clear();
}

}  // namespace sandbox::sql
