#include "core/codeORVmain.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include "core/dde.h"
#include "core/eventpump.h"
#include "core/forms.h"
#include "core/frmSplash.h"
#include "core/globals.h"
#include "core/msgbox.h"
#include "core/runtime_error.h"
#include "main/frmMain.h"
#include "windows/frmStatus.h"

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

        frmMain &main = form<frmMain>();
        // Other programs reach the monitor's values through its DDE service;
        // a second monitor finds the service taken and runs without it.
        if (!DdeServer::instance().start()) {
            main.Message->setText(QStringLiteral("DDE service not available: ") + DdeServer::instance().why());
            qWarning("orvmon: DDE service not available: %s", qPrintable(DdeServer::instance().why()));
        }
        Pause(0.5f);
        unloadForm<frmSplash>();
        form<frmMain>().Show();
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

namespace {

// How a fault's data number enters its text.
enum class FaultNumber {
    None,     // not at all
    Spaced,   // decimal, a leading space when not negative
    Servo,    // as Spaced, counted from 1 (the controller counts servos from 0)
    Bare,     // decimal, no leading space
};

struct FaultRow {
    const char *head;
    FaultNumber number;
    const char *tail;
};

// Codes 1 to 39; code 27 is worded by its data number and kept apart.
constexpr FaultRow FaultTable[40] = {
    {" - Unknown Error", FaultNumber::None, ""},
    {" - Illegal Function", FaultNumber::None, ""},
    {" - Corrupt Program Data", FaultNumber::None, ""},
    {" - Destination Step is Empty", FaultNumber::None, ""},
    {" - Bad Thumbwheel Data", FaultNumber::None, ""},
    {" - Step#1 is Empty", FaultNumber::None, ""},
    {" - Too Many Tasks", FaultNumber::None, ""},
    {" - No Such Stepper Motor", FaultNumber::None, ""},
    {" - Motor Not Ready", FaultNumber::None, ""},
    {" - Motor Unprofiled", FaultNumber::None, ""},
    {" - Servo#", FaultNumber::Servo, " does NOT exist"},
    {" - Servo#", FaultNumber::Servo, " Is Not Ready"},
    {" - Servo#", FaultNumber::Servo, " Error"},
    {" - Register#", FaultNumber::Spaced, " does NOT exist"},
    {" - Data Table Column#", FaultNumber::Spaced, " does NOT exist"},
    {" - Data Table Row#", FaultNumber::Spaced, " does NOT exist"},
    {" - No Such Proto Board", FaultNumber::None, ""},
    {" - Illegal Sample Time", FaultNumber::None, ""},
    {" - Analog Input#", FaultNumber::Bare, " does NOT exist"},
    {" - Analog Output#", FaultNumber::Bare, " does NOT exist"},
    {" - Display#", FaultNumber::Bare, " does NOT exist"},
    {" - Digital Input#", FaultNumber::Bare, " does NOT exist"},
    {" - Digital Output#", FaultNumber::Bare, " does NOT exist"},
    {" - Thumbwheel#", FaultNumber::Bare, " does NOT exist"},
    {" - Illegal Data Table Value", FaultNumber::None, ""},
    {" - Message Transmitting Busy", FaultNumber::None, ""},
    {" - Divide-By-Zero Error", FaultNumber::None, ""},
    {" - Data Out Of Range", FaultNumber::None, ""},
    {" - Watch dog / Hardware Fault", FaultNumber::None, ""},
    {" - Error Network Fault", FaultNumber::None, ""},
    {" - Network Access Timeout", FaultNumber::None, ""},
    {" - Network Access Busy", FaultNumber::None, ""},
    {" - Network Request Lost", FaultNumber::None, ""},
    {" - Network Bad Response", FaultNumber::None, ""},
    {" - Network Bad Return Message", FaultNumber::None, ""},
    {" - Comm Port#", FaultNumber::Bare, " Does Not Exist"},
    {" - Comm Protocol Error", FaultNumber::None, ""},
    {" - Flag#", FaultNumber::Bare, " Does Not Exist"},
    {" - Out of Delay Timers", FaultNumber::None, ""},
    {" - Out of Soft Counters", FaultNumber::None, ""},
};

// A number with the leading space that marks it as not negative.
QString spaced(int64_t x) { return (x >= 0 ? QStringLiteral(" ") : QString()) + QString::number(x); }

QString faultText(int32_t code, int32_t data) {
    if (code == 27 && data > 0) return QStringLiteral(" - Caused by Register#") + QString::number(data);
    const FaultRow &row = FaultTable[code >= 1 && code <= 39 ? code : 0];
    QString number;
    switch (row.number) {
    case FaultNumber::None: break;
    case FaultNumber::Spaced: number = spaced(data); break;
    // In 64 bits: the largest data number still gives a servo number.
    case FaultNumber::Servo: number = spaced(int64_t(data) + 1); break;
    case FaultNumber::Bare: number = QString::number(data); break;
    }
    return QLatin1String(row.head) + number + QLatin1String(row.tail);
}

}  // namespace

void ShowFault(const int32_t &code, const int32_t &data) {
    QLabel *label = form<frmStatus>().Label1;
    label->setText(label->text() + faultText(code, data) + QStringLiteral("      - (fault code #") +
                   QString::number(code) + QStringLiteral(")"));
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

bool StartWinsock() { return true; }

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
