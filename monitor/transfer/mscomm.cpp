#include "transfer/mscomm.h"

#include <QStringList>
#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "core/link.h"

namespace {

std::optional<speed_t> speedOf(int rate) {
    switch (rate) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return std::nullopt;
    }
}

// The settings text on a raw line; false when the text is not understood.
bool applySettings(termios &t, const QString &settings) {
    const QStringList parts = settings.split(u',');
    if (parts.size() != 4) return false;
    bool ok = false;
    const auto speed = speedOf(parts[0].trimmed().toInt(&ok));
    if (!ok || !speed) return false;
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    switch (parts[2].trimmed().toInt()) {
    case 5: t.c_cflag |= CS5; break;
    case 6: t.c_cflag |= CS6; break;
    case 7: t.c_cflag |= CS7; break;
    case 8: t.c_cflag |= CS8; break;
    default: return false;
    }
    const QString parity = parts[1].trimmed().toLower();
    if (parity == QLatin1String("o")) t.c_cflag |= PARENB | PARODD;
    else if (parity == QLatin1String("e")) t.c_cflag |= PARENB;
    else if (parity == QLatin1String("m")) t.c_cflag |= PARENB | PARODD | CMSPAR;
    else if (parity == QLatin1String("s")) t.c_cflag |= PARENB | CMSPAR;
    else if (parity != QLatin1String("n")) return false;
    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("2")) t.c_cflag |= CSTOPB;
    else if (stop != QLatin1String("1") && stop != QLatin1String("1.5")) return false;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetspeed(&t, *speed);
    return true;
}

}  // namespace

MSComm::~MSComm() { close(); }

QString MSComm::devicePath(int port) { return ControllerLink::serialDevice(port); }

void MSComm::setPortOpen(bool open) {
    if (open && !PortOpen()) this->open();
    else if (!open) close();
}

bool MSComm::open() {
    const QByteArray path = devicePath(CommPort).toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    termios t{};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || tcgetattr(fd, &t) != 0 || !applySettings(t, Settings) ||
        tcsetattr(fd, TCSANOW, &t) != 0) {
        ::close(fd);
        return false;
    }
    ioctl(fd, TIOCEXCL);
    fd_ = fd;
    return true;
}

void MSComm::close() {
    if (fd_ < 0) return;
    tcflush(fd_, TCIOFLUSH);
    ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
}

void MSComm::Output(const QByteArray &bytes) {
    qsizetype done = 0;
    while (PortOpen() && done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return;
        pollfd p{fd_, POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) return;
    }
}

int MSComm::bytesWaiting() const {
    int n = 0;
    if (!PortOpen() || ::ioctl(fd_, FIONREAD, &n) != 0) return 0;
    return n;
}

QByteArray MSComm::Input() {
    QByteArray out;
    while (PortOpen()) {
        char buf[256];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n > 0) out.append(buf, n);
        else if (!(n < 0 && errno == EINTR)) break;
    }
    return out;
}
