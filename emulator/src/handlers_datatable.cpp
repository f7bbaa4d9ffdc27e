#include "controller.h"

namespace orvemu {

void installDataTableHandlers(Controller &) {}

}  // namespace orvemu
