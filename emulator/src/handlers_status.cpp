#include "controller.h"

namespace orvemu {

void installStatusHandlers(Controller &) {}

}  // namespace orvemu
