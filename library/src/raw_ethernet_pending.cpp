// The raw-Ethernet network is not built yet: no adapter is ever found.
#include "errors.h"
#include "transports.h"

namespace orv {

bool OpenRawEthernet(Connection &, const OpenRequest &) {
    libraryError().set(err::kNone, err::kNoAdapter);
    return false;
}

}  // namespace orv
