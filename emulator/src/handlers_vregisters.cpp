#include "controller.h"

namespace orvemu {

void installVRegisterHandlers(Controller &) {}

}  // namespace orvemu
