// Surroundings of the monitor reader fuzzers: an offscreen application, a
// settings file and data folder of the process's own, every message box and
// file dialog answered with Cancel and every modal window closed at once,
// so that nothing ever waits for a user.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

class MonitorTestEnv;

namespace fuzz {

// Sets everything up on the first call.
MonitorTestEnv &monitor();

// Writes the input into a file of that name in the process's folder and
// returns its path.
QString inputFile(const QString &name, const std::uint8_t *data, std::size_t size);

}  // namespace fuzz
