#pragma once

#include <memory>

#include <QObject>

// Several test classes in one program, so that they share one link and one moc step: each file
// registers its class, and the program runs the class its first argument names (CTest gives one
// class a test, so each still runs in a process of its own) or, without one, every class.
namespace testmain {

using Factory = std::unique_ptr<QObject> (*)();
bool add(const char* name, Factory make);

}  // namespace testmain

#define ACCTSET_TEST_CLASS(Class)                                \
    [[maybe_unused]] static const bool acctsetTestAdded##Class = \
        testmain::add(#Class, []() -> std::unique_ptr<QObject> { return std::make_unique<Class>(); });
