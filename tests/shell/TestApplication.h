#pragma once

#include <QApplication>

#include <cstdio>
#include <string>

#include "support/TempDir.h"

namespace vesperine::testing {

// One QApplication on the offscreen platform for the whole test process.
inline QApplication& testApplication() {
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt's warnings about the missing tray would mix with what the
        // delegate itself writes to standard error.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        static int argc = 1;
        static char name[] = "shell_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Everything written to a FILE* by `body`.
template <typename Body>
std::string captureFile(Body body) {
    std::FILE* file = std::tmpfile();
    body(file);
    return drainAndClose(file);
}

}  // namespace vesperine::testing
