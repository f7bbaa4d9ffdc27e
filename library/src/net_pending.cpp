// UDP and TCP are not built yet: opening one fails as socket start-up would.
#include <cerrno>

#include "errors.h"
#include "transports.h"

namespace orv {

bool OpenUdp(Connection &, const OpenRequest &) {
    libraryError().set(EAFNOSUPPORT, err::kSocketError);
    return false;
}

bool OpenTcp(Connection &, const OpenRequest &) {
    libraryError().set(EAFNOSUPPORT, err::kSocketError);
    return false;
}

}  // namespace orv
