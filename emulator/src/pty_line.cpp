// Reads a pseudo-terminal's line settings through termios2, which carries
// any baud rate; kept apart because its header cannot meet <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "pty_server.h"

namespace orvemu {

std::optional<PtyLine> readPtyLine(int fd) {
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return std::nullopt;
    PtyLine l;
    l.baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: l.dataBits = 5; break;
    case CS6: l.dataBits = 6; break;
    case CS7: l.dataBits = 7; break;
    default: l.dataBits = 8; break;
    }
    if (t.c_cflag & PARENB) {
        if (t.c_cflag & CMSPAR) l.parity = (t.c_cflag & PARODD) ? 'M' : 'S';
        else l.parity = (t.c_cflag & PARODD) ? 'O' : 'E';
    }
    l.twoStopBits = (t.c_cflag & CSTOPB) != 0;
    l.xonXoff = (t.c_iflag & (IXON | IXOFF | IXANY)) != 0;
    l.translation = (t.c_iflag & (INLCR | IGNCR | ICRNL)) != 0 || (t.c_oflag & OPOST) != 0;
    l.signalChars = (t.c_lflag & (ISIG | ICANON | IEXTEN)) != 0;
    l.echo = (t.c_lflag & ECHO) != 0;
    l.stripEighthBit = (t.c_iflag & ISTRIP) != 0;
    l.rtsCts = (t.c_cflag & CRTSCTS) != 0;
    return l;
}

}  // namespace orvemu
