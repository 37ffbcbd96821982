#include <QApplication>

#include "FirstPaintProbe.h"
#include "FrmMain.h"
#include "Startup.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    setUpApplication(app);
    FrmMain w;
    FirstPaintProbe::watch(&w);
    w.show();
    return app.exec();
}
