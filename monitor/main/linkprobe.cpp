#include "main/linkprobe.h"

#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>

namespace {
constexpr quint16 UdpPort = 3000;
constexpr quint16 TcpPort = 6000;
constexpr int HeaderBytes = 8;
}  // namespace

LinkProbe::LinkProbe(Kind kind, const QHostAddress &controller, int timeoutMs, QObject *parent)
    : QObject(parent), kind_(kind), controller_(controller), timeoutMs_(std::max(1, timeoutMs)) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        if (kind_ == Kind::Udp && --triesLeft_ > 0) {
            send();
            return;
        }
        // The whole wait: UDP asked three times, TCP had one long wait.
        const QString waited = kind_ == Kind::Udp ? QStringLiteral("3 x %1 ms").arg(timeoutMs_)
                                                  : QStringLiteral("%1 ms").arg(3 * timeoutMs_);
        finish(false, QStringLiteral("No answer from the controller at %1 within %2").arg(where(), waited));
    });
}

QString LinkProbe::where() const {
    return controller_.toString() + QLatin1Char(':') + QString::number(kind_ == Kind::Udp ? UdpPort : TcpPort);
}

LinkProbe::~LinkProbe() {
    if (socket_) socket_->abort();
}

QByteArray LinkProbe::request(uint16_t sequence) {
    // Read register 1: code 09, the register low byte first, the checksum
    // of code and arguments, the end mark.
    const char frame[] = {0x01, 0x05, 0x09, 0x01, 0x00, char(0xFF - (0x09 + 0x01)), char(0xFF)};
    QByteArray out;
    out.append(char(4)).append(char(0));
    out.append(char(sequence & 0xFF)).append(char(sequence >> 8));
    out.append(char(0)).append(char(0));
    out.append(char(sizeof frame)).append(char(0));
    out.append(frame, sizeof frame);
    return out;
}

void LinkProbe::start() {
    if (kind_ == Kind::Udp) {
        auto *udp = new QUdpSocket(this);
        socket_ = udp;
        connect(udp, &QUdpSocket::readyRead, this, [this] { received(); });
        // A connected datagram socket hears a refusal (port unreachable).
        connect(udp, &QAbstractSocket::errorOccurred, this, [this] {
            if (socket_->error() == QAbstractSocket::ConnectionRefusedError)
                finish(false, where() + QStringLiteral(": ") + socket_->errorString());
        });
        connect(udp, &QUdpSocket::connected, this, [this] { send(); });
        deadline_.start(timeoutMs_);
        udp->connectToHost(controller_, UdpPort);
        return;
    }
    auto *tcp = new QTcpSocket(this);
    socket_ = tcp;
    connect(tcp, &QTcpSocket::connected, this, [this] { send(); });
    connect(tcp, &QTcpSocket::readyRead, this, [this] { received(); });
    connect(tcp, &QAbstractSocket::errorOccurred, this,
            [this] { finish(false, where() + QStringLiteral(": ") + socket_->errorString()); });
    // Connect and answer, both within the time UDP would give three tries.
    deadline_.start(3 * timeoutMs_);
    tcp->connectToHost(controller_, TcpPort);
}

void LinkProbe::send() {
    if (done_) return;
    ++sequence_;
    received_.clear();
    const QByteArray r = request(sequence_);
    socket_->write(r);
    if (kind_ == Kind::Udp) deadline_.start(timeoutMs_);
}

void LinkProbe::received() {
    if (done_) return;
    if (kind_ == Kind::Udp) {
        auto *udp = static_cast<QUdpSocket *>(socket_);
        while (udp->hasPendingDatagrams()) {
            // The socket is connected: only the controller's datagrams
            // arrive, and a late answer to an earlier try is an answer too.
            if (udp->receiveDatagram().data().size() >= HeaderBytes) {
                finish(true);
                return;
            }
        }
        return;
    }
    received_ += socket_->readAll();
    if (received_.size() >= HeaderBytes) finish(true);
}

void LinkProbe::finish(bool ok, const QString &why) {
    if (done_) return;
    done_ = true;
    deadline_.stop();
    socket_->abort();
    // Told from the event loop: the receiver may delete the probe.
    QMetaObject::invokeMethod(
        this,
        [this, ok, why] {
            if (ok) Q_EMIT answered();
            else Q_EMIT failed(why.isEmpty() ? QStringLiteral("No answer from the controller") : why);
        },
        Qt::QueuedConnection);
}
