// The serial line is not built yet: opening one fails as a missing device does.
#include <cerrno>

#include "errors.h"
#include "transports.h"

namespace orv {

bool OpenSerial(Connection &, const OpenRequest &) {
    libraryError().set(ENOENT, err::kFileError);
    return false;
}

}  // namespace orv
