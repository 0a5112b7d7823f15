// What norvale-cli's exit code says, and which error lines give which code.
#pragma once

#include "core/Message.h"

namespace norvale {

enum class ExitCode : int {
    done = 0,
    usage = 1,           // the arguments make no request
    noPhone = 2,         // no phone, or the phone left
    transferFailed = 3,  // a transfer failed or the phone did not answer
    fileProblem = 4,     // a loader image, the image file, a dump that exists or can't be written
    verifyDifference = 5,
    somePhoneFailed = 6,  // a station: at least one phone's run failed (its journal line says why)
    // A station: a journal line could not be written, so the journal misses a phone. Before 130
    // and 6: the journal is where a shift's phones are counted, and only this code says it lacks
    // some.
    journalIncomplete = 7,
    interrupted = 130,  // the operator's Ctrl+C, as a shell counts SIGINT
};

// The code for a command that failed with the error message `reason`. A transfer that failed is
// told apart from a phone that left by asking the bus afterwards, not here.
ExitCode exitCodeFor(MessageId reason);

}  // namespace norvale
