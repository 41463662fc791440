// src/app/Main.cpp: start-up of the window application.
#include <QApplication>

#include "app/MainForm.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zeloro::InitApplication();
    zeloro::Tmain window;
    window.show();
    window.activateWindow();
    return QApplication::exec();
}
