#include <QApplication>

#include "app/FirstPaintProbe.h"
#include "app/FrmMain.h"
#include "app/Startup.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setUpApplication(app);
    FrmMain w;
    FirstPaintProbe::watch(&w);
    w.show();
    return app.exec();
}
