#include "core/codeORVmain.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/dde.h"
#include "core/eventpump.h"
#include "core/forms.h"
#include "core/frmSplash.h"
#include "core/globals.h"
#include "core/mainwindow.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"

bool Main(const QString &commandLine) {
    try {
        frmSplash &splash = form<frmSplash>();
        splash.Show();
        splash.repaint();
        DoEvents();

        if (!commandLine.isEmpty()) {
            SymbolFilePath = commandLine;
            if (!QFileInfo::exists(SymbolFilePath)) {
                MsgBox(QStringLiteral("Cannot find ") + SymbolFilePath, mbExclamation);
                SymbolFilePath.clear();
            }
        }

        MainWindow &main = mainWindow();
        // Other programs reach the monitor's values through its DDE service;
        // a second monitor finds the service taken and runs without it.
        if (!DdeServer::instance().start()) {
            main.setStatusText(QStringLiteral("DDE service not available: ") + DdeServer::instance().why());
            qWarning("orvmon: DDE service not available: %s", qPrintable(DdeServer::instance().why()));
        }
        Pause(0.5f);
        unloadForm<frmSplash>();
        mainWindow().mainForm().Show();
        return true;
    } catch (const std::exception &e) {
        MsgBox(QStringLiteral("Cannot Start ORV Monitor !!!") + describeException(e), mbOKOnly, appTitle());
        return false;
    }
}

QByteArray AppendChecksum(QByteArray &frame) {
    unsigned sum = 0;
    for (qsizetype i = 2; i < frame.size(); ++i) sum += static_cast<uint8_t>(frame[i]);
    const auto checksum = static_cast<char>(255 - (sum % 256));
    frame.append(checksum);
    frame.append(static_cast<char>(0xFF));
    return frame;
}

void Pause(float seconds) {
    QElapsedTimer clock;
    clock.start();
    auto elapsed = [&] { return clock.nsecsElapsed() / 1e9; };
    while (elapsed() <= seconds) {
        DoEvents();
        // Give the processor back between rounds; events still run at once.
        if (seconds - elapsed() > 0.002) QThread::usleep(500);
    }
}

bool StartWinsock() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

QString IpFromBytes(const QByteArray &address) {
    QStringList parts;
    for (int i = 0; i < 4; ++i) parts << QString::number(i < address.size() ? static_cast<uint8_t>(address[i]) : 0);
    return parts.join(u'.');
}

QString IpFromHostName(const QString &hostName) {
    if (!StartWinsock()) {
        MsgBox(QStringLiteral("Failed to open Socket."));
        return QString();
    }
    // The name ends at its first NUL, as the lookup receives it.
    QByteArray name = hostName.toLocal8Bit();
    const int nul = name.indexOf('\0');
    if (nul >= 0) name.truncate(nul);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *result = nullptr;
    if (getaddrinfo(name.constData(), nullptr, &hints, &result) != 0 || !result) return QString();
    QString dotted;
    for (addrinfo *a = result; a; a = a->ai_next) {
        if (a->ai_family != AF_INET) continue;
        const auto *sin = reinterpret_cast<const sockaddr_in *>(a->ai_addr);
        dotted = IpFromBytes(QByteArray(reinterpret_cast<const char *>(&sin->sin_addr.s_addr), 4));
        break;
    }
    freeaddrinfo(result);
    return dotted;
}
