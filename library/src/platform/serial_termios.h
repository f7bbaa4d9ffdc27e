// How line settings map onto a termios2 record. Includes the kernel's
// termios header, so it must not meet <termios.h> in one file.
#pragma once

#include <asm/termbits.h>

#include "serial_port.h"

namespace orv::platform {

// 0, or EINVAL for settings no line can carry.
int CheckSettings(const SerialSettings &s);
// Changes t to carry s: raw 8-bit-clean mode plus the chosen framing, flow
// control and rate (any rate, through BOTHER).
void EncodeSettings(const SerialSettings &s, struct termios2 &t);
// The framing, flow control and rate that t carries.
void DecodeSettings(const struct termios2 &t, SerialSettings &out);

}  // namespace orv::platform
