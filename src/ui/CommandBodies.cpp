// The operations behind the command buttons of the programs.
#include "ui/CommandBodies.h"

namespace norvale {

CommandBodies productCommandBodies() {
    // Each operation is plugged in here as it is built; until then a button runs the frame.
    return CommandBodies{};
}

}  // namespace norvale
