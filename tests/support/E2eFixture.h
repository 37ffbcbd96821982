#pragma once
// What every end-to-end test of the window stands on: a sandbox on loopback, the real window on the
// real driver stack (or on a scripted connection), the driver that works it, and the check that
// every message box shown was taken by the test. A test class holds one, calls setUp() from init()
// (or from the test, when it needs a scripted connection) and checks tearDown() in cleanup().
#include <memory>
#include <string>

#include <QString>
#include <QStringList>

#include "app/FrmMain.h"
#include "app/MessageBox.h"
#include "sandbox/Sandbox.h"
#include "support/FakeSqlClient.h"
#include "support/WindowDriver.h"

class E2eFixture {
public:
    std::unique_ptr<sandbox::Server> server;
    std::unique_ptr<WindowDriver> drive;

    // Boxes answered through the seam; the window shown and active (false when it is not). With a
    // script the window's connections are scripted, else they go through the driver stack.
    bool setUp(std::shared_ptr<FakeScript> script = nullptr) {
        MessageBox::setTestMode(true);
        MessageBox::takeShown();
        drive = script ? std::make_unique<WindowDriver>(std::move(script)) : std::make_unique<WindowDriver>();
        return drive->show();
    }

    // A sandbox with these options, started on loopback; it replaces one started before.
    bool startServer(const sandbox::Options& options = {}, std::string* error = nullptr) {
        server = std::make_unique<sandbox::Server>(options);
        return server->start(error);
    }

    // The window goes, then the server. True when every box shown was taken by the test: a box
    // left unanswered is a test that does not know what the operator was told.
    [[nodiscard]] bool tearDown() {
        drive.reset();
        const bool allTaken = MessageBox::takeShown().isEmpty();
        MessageBox::setTestMode(false);
        server.reset();
        return allTaken;
    }

    FrmMain& window() { return drive->window(); }
    sandbox::Engine& engine() { return server->engine(); }
    QString serverName() const { return QString::fromStdString(server->serverName()); }

    // Types the sandbox's name and the password into the window and presses 测试连接.
    void connect(const QString& password = QStringLiteral("sandbox")) {
        drive->connectAs(serverName(), password);
    }

    // Every batch the server received, in order.
    QStringList log() {
        QStringList out;
        for (const std::string& s : engine().statementLog())
            out << QString::fromStdString(s);
        return out;
    }
};

// For cleanup(): the fixture torn down, and a test that left a box unchecked fails.
#define E2E_TEAR_DOWN(fixture) QVERIFY2((fixture).tearDown(), "a test left a message box unchecked")
