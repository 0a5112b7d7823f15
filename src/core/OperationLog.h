// The operator's log as the rest of the system sees it: the one report channel to the operator.
#pragma once

#include "core/Message.h"

namespace norvale {

// Contract: append() tells the operator `message`, which the front end renders from the catalogue
// (the dialog as its Windows-1251 log lines, the command line as UTF-8 lines); nothing reads it
// back as text. Any thread may call it; the message has been told when the call returns, so
// messages from one thread keep their order.
class OperationLog {
public:
    virtual ~OperationLog() = default;
    virtual void append(const Message& message) = 0;
};

}  // namespace norvale
