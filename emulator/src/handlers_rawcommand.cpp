#include "controller.h"

namespace orvemu {

void installRawCommandHandlers(Controller &) {}

}  // namespace orvemu
