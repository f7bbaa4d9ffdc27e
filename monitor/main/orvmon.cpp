// orvmon: the monitor program's entry.
#include <QApplication>
#include <QStringList>

#include "core/codeORVmain.h"
#include "core/dde.h"
#include "core/forms.h"

int main(int argc, char **argv) {
    // The whole argument text names the symbol file; take it before Qt reads
    // its own options out of the arguments.
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const QString commandLine = args.join(u' ');

    QApplication app(argc, argv);
    QApplication::setOrganizationName(VersionInfo::CompanyName);
    QApplication::setApplicationName(VersionInfo::InternalName);
    QApplication::setApplicationVersion(VersionInfo::FileVersion);
    QApplication::setQuitOnLastWindowClosed(false);
    useDesignFont();

    int rc = 1;
    if (Main(commandLine)) rc = app.exec();
    DdeServer::instance().stop();
    FormRegistry::destroyAll();
    return rc;
}
