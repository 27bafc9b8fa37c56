// tonvero: the desktop application.

#include "app/CTonveroApp.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tonvero"));
    QCoreApplication::setApplicationName(QStringLiteral("Tonvero"));

    tonvero::AppOptions options;
    options.argv0 = argc > 0 ? argv[0] : "";
    QString error;
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))) {
        std::printf("%s\n", qPrintable(tonvero::commandLineUsage()));
        return 0;
    }
    if (!tonvero::parseCommandLine(arguments, options, error)) {
        std::fprintf(stderr, "tonvero: %s\n%s\n", qPrintable(error), qPrintable(tonvero::commandLineUsage()));
        return 2;
    }

    tonvero::CTonveroApp app(std::move(options));
    if (!app.initInstance()) return 1;
    return application.exec();
}
