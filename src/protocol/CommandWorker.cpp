// The worker frame: no phone, or bootstrap then body; busy cleared last on every path.
#include "protocol/CommandWorker.h"

#include "protocol/LoaderBootstrap.h"

namespace norvale {

CommandOutcome runCommandWorker(Services& services, const CommandBody& body) {
    CommandOutcome outcome;
    if (!services.state.connected.load()) {
        services.log.append(MessageId::phoneNotConnected);
        outcome = {true, MessageId::phoneNotConnected};
    } else {
        // The context holds the device for the whole command and lets go of it before busy is
        // cleared, so a replaced handle is closed before the next command can start.
        CommandContext command(services);
        if (LoaderBootstrap(command) && body) body(command);
        outcome = {command.failed(), command.failureReason()};
    }
    services.state.busy.store(false);
    return outcome;
}

}  // namespace norvale
