#include "support/TestMain.h"

#include <cstring>
#include <vector>

#include <QTest>
#ifdef QT_WIDGETS_LIB
#include <QApplication>
#else
#include <QCoreApplication>
#endif

namespace {

struct Entry {
    const char* name;
    testmain::Factory make;
};

// Filled by static initialisers, so it must exist before the first of them runs.
std::vector<Entry>& registry() {
    static std::vector<Entry> entries;
    return entries;
}

}  // namespace

bool testmain::add(const char* name, Factory make) {
    registry().push_back({name, make});
    return true;
}

int main(int argc, char** argv) {
    // As QTEST_MAIN does for each kind of program.
#ifdef QT_WIDGETS_LIB
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
#else
    QCoreApplication app(argc, argv);
#endif
    std::vector<char*> args(argv, argv + argc);
    const char* only = nullptr;
    if (args.size() > 1) {
        for (const Entry& e : registry()) {
            if (std::strcmp(e.name, args[1]) == 0)
                only = e.name;
        }
        if (only)
            args.erase(args.begin() + 1);
    }
    int status = 0;
    for (const Entry& e : registry()) {
        if (only && std::strcmp(e.name, only) != 0)
            continue;
        std::unique_ptr<QObject> test = e.make();
        status |= QTest::qExec(test.get(), int(args.size()), args.data());
    }
    return status;
}
