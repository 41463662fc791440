// src/app/Main.cpp: start-up of the window application.
#include <QApplication>
#include <QObject>
#include <cstdio>
#include <exception>
#include <string>

#include "app/MainForm.h"
#include "app/StartOptions.h"
#include "app/WindowInstance.h"
#include "tagging/FrontEnd.h"

int main(int argc, char** argv) {
    // Answered before the application object is made: they need no display, and there may be none.
    switch (zeloro::StartRequestOf(argc, argv)) {
        case zeloro::StartRequest::version:
            std::printf("%s\n", zeloro::WindowVersionText().c_str());
            return 0;
        case zeloro::StartRequest::help:
            std::fputs(zeloro::WindowUsageText().c_str(), stdout);
            return 0;
        case zeloro::StartRequest::window:
            break;
    }
    QApplication app(argc, argv);
    zeloro::InitApplication();
    // Resolved once, before the window: the claim on the window goes by the folder, and the window reports
    // a folder that could not be set up at its creation, as it always has.
    std::string dataFolder;
    std::exception_ptr unresolved;
    try {
        dataFolder = zeloro::ResolveDataFolder();
    } catch (...) {
        unresolved = std::current_exception();
    }
    zeloro::WindowInstance instance(dataFolder, zeloro::DefaultInstanceFolder());
    if (!instance.Claim()) {
        zeloro::ReportAlreadyOpen();
        return 0;
    }
    zeloro::MainOptions options;
    options.resolveDataFolder = [dataFolder, unresolved] {
        if (unresolved) {
            std::rethrow_exception(unresolved);
        }
        return dataFolder;
    };
    zeloro::Tmain window(std::move(options));
    QObject::connect(&instance, &zeloro::WindowInstance::FrontRequested, &window,
                     [&window] { zeloro::BringToFront(window); });
    window.show();
    window.activateWindow();
    return QApplication::exec();
}
