// The log pane as the rest of the system sees it: the one report channel to the operator.
#pragma once

#include <string_view>

namespace norvale {

// Contract: append() adds Windows-1251 text at the log's insertion point (normally its end);
// lines end where the text carries "\r\n". Any thread may call it; the text has been added when
// the call returns, so lines from one thread keep their order.
class OperationLog {
public:
    virtual ~OperationLog() = default;
    virtual void append(std::string_view text) = 0;
};

}  // namespace norvale
