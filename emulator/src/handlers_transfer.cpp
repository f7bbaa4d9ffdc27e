#include "controller.h"

namespace orvemu {

void installTransferHandlers(Controller &) {}

}  // namespace orvemu
