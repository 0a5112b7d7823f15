// Start and BLANK: command bytes only; a byte that did not reach the phone ends the command.
#include "operations/PhoneControl.h"

#include "protocol/CommandFormats.h"

namespace norvale {

void startPhone(CommandContext& command) {
    command.log().append(MessageId::startingPhone);
    if (!command.send(commandByte(LoaderCommand::start), 0)) return;
    // The same byte that precedes the RAM loader: after 'S' the loader takes it as "go".
    if (!command.send(commandByte(LoaderCommand::ramLoader), 0)) return;
    command.log().append(MessageId::success);
}

void setBlankMode(CommandContext& command) {
    // 'B' changes what the phone boots into and has no reply: the write is its one byte.
    command.flashWriteBegins();
    if (!command.send(commandByte(LoaderCommand::blank), 0)) return;
    command.flashWriteEnds();
    command.log().append(MessageId::settingBlank);
}

}  // namespace norvale
