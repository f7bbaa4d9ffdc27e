#include "controller.h"

namespace orvemu {

void installModuleHandlers(Controller &) {}

}  // namespace orvemu
