#include <QApplication>

#include "FrmMain.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    FrmMain w;
    w.show();
    return app.exec();
}
