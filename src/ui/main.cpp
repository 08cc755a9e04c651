// Kestrovane: the measuring window.
#include <QApplication>

#include "ui/Application.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    kv::CKestrovaneApp instance;
    if (!instance.InitInstance()) return 1;
    return QApplication::exec();
}
