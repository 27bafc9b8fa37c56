// tonvero: the desktop application.
//
// The command line is read before the QApplication is made, so --help,
// --version and a wrong option are answered on a machine without a display
// as well.

#include "app/CTonveroApp.h"
#include "tonvero/Version.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);

    tonvero::AppOptions options;
    options.argv0 = argc > 0 ? argv[0] : "";
    QString error;
    if (!tonvero::parseCommandLine(arguments, options, error)) {
        std::fprintf(stderr, "tonvero: %s\n%s\n", qPrintable(error), qPrintable(tonvero::commandLineUsage()));
        return 2;
    }
    if (options.help) {
        std::printf("%s\n", qPrintable(tonvero::commandLineUsage()));
        return 0;
    }
    if (options.version) {
        std::printf("tonvero %s\n", tonvero::kVersionText);
        return 0;
    }

    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tonvero"));
    QCoreApplication::setApplicationName(QStringLiteral("Tonvero"));

    tonvero::CTonveroApp app(std::move(options));
    if (!app.initInstance()) return 1;
    return application.exec();
}
