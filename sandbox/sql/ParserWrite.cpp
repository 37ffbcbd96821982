// The parser's statements that write: INSERT ... VALUES, SET IDENTITY_INSERT, BACKUP and RESTORE.
#include "sandbox/sql/Parser.h"

#include <cctype>

#include "sandbox/Text.h"

namespace sandbox::sql {

// INSERT [INTO] t [(a, b)] VALUES (...), (...)
void Parser::insertBody(Statement& st) {
    st.kind = Statement::Kind::Insert;
    acceptWord("into");
    st.from = tableRef(false);
    if (acceptOp("(")) {
        do
            st.names.push_back(name());
        while (acceptOp(","));
        expectOp(")");
    }
    expectWord("values");
    do
        st.values.push_back(valueList());
    while (acceptOp(","));
}

std::vector<ExprPtr> Parser::valueList() {
    std::vector<ExprPtr> row;
    expectOp("(");
    do
        row.push_back(expr());
    while (acceptOp(","));
    expectOp(")");
    return row;
}

// SET IDENTITY_INSERT t ON|OFF: the table in names, ON/OFF in optionValue.
void Parser::identityInsert(Statement& st) {
    st.option = "IDENTITY_INSERT";
    TableRef r = tableRef(false);
    st.names = {r.parts.back(), r.written};
    st.from = r;
    if (acceptWord("on"))
        st.optionValue = "ON";
    else if (acceptWord("off"))
        st.optionValue = "OFF";
    else
        fail();
}

// BACKUP DATABASE db TO DISK = N'file' [WITH option [= value], ...]
void Parser::backupBody(Statement& st) {
    st.kind = Statement::Kind::Backup;
    expectWord("database");
    st.names.push_back(name());
    diskAndOptions(st, "to");
}

// RESTORE VERIFYONLY | HEADERONLY | FILELISTONLY FROM DISK = ... | RESTORE DATABASE db FROM DISK = ...
// [WITH ...]: the word after RESTORE in option.
void Parser::restoreBody(Statement& st) {
    st.kind = Statement::Kind::Restore;
    for (const char* only : {"verifyonly", "headeronly", "filelistonly"}) {
        if (acceptWord(only)) {
            st.option = only;
            for (auto& c : st.option)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            break;
        }
    }
    if (st.option.empty()) {
        expectWord("database");
        st.names.push_back(name());
        st.option = "DATABASE";
    }
    diskAndOptions(st, "from");
}

void Parser::diskAndOptions(Statement& st, const char* preposition) {
    expectWord(preposition);
    expectWord("disk");
    expectOp("=");
    const Token& f = peek();
    if (f.kind != Token::Kind::String && f.kind != Token::Kind::NString)
        fail();
    st.device = f.value;
    ++k_;
    if (!acceptWord("with"))
        return;
    do {
        const Token& w = peek();
        if (w.kind != Token::Kind::Ident)
            fail();
        ++k_;
        std::string option = w.value;
        for (auto& c : option)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (acceptOp("=")) {
            option += "=" + peek().value;
            ++k_;
        }
        st.with.push_back(option);
    } while (acceptOp(","));
}

}  // namespace sandbox::sql
