// orvmon: the monitor program's entry.
#include <QApplication>
#include <QStringList>
#include <cstdio>

#include "core/codeORVmain.h"
#include "core/dde.h"
#include "core/forms.h"

namespace {
const char *const Usage =
    "usage: orvmon [SYMBOL-FILE]\n"
    "       orvmon --help | --version\n"
    "Monitors one controller: polls it, shows and edits its values, transfers\n"
    "programs and serves its values to other programs (orvdde).\n"
    "The whole argument text names a symbol file (.SYM) to load at start.\n"
    "\n"
    "Environment:\n"
    "  ORVMON_SETTINGS   the settings file (default ~/.config/orvmon/settings.txt)\n"
    "  ORVMON_DATA_DIR   the folder of SYMBOL.MDB (default ~/.local/share/orvmon)\n"
    "  ORVMON_DDE        the DDE service's name or socket path (default orvmon)\n"
    "  ORVMON_SYSINFO    the program the about window's System Info button starts\n"
    "  ORVCOMM_COM<n>    the device of COM port n (default /dev/ttyS<n-1>)\n"
    "  VISUAL, EDITOR    the editor for text files\n";
}  // namespace

int main(int argc, char **argv) {
    // The whole argument text names the symbol file; take it before Qt reads
    // its own options out of the arguments.
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const QString commandLine = args.join(u' ');
    // The two options of the command line; anything else names a symbol file.
    if (commandLine == QLatin1String("--help") || commandLine == QLatin1String("-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (commandLine == QLatin1String("--version")) {
        std::printf("orvmon %s\n", ORV_VERSION);
        return 0;
    }

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
