#include "controller.h"

namespace orvemu {

void installIoHandlers(Controller &) {}

}  // namespace orvemu
