// The body each command button runs inside the worker frame.
#pragma once

#include "protocol/CommandContext.h"

namespace norvale {

// One body per command button. An empty body is allowed: the worker then runs the frame alone
// (the not-connected check and the loader bootstrap), which is what a button does until its
// operation exists.
struct CommandBodies {
    CommandBody writePds;         // "Записать PDS"
    CommandBody writeBoot;        // "Записать Boot"
    CommandBody writePanic;       // "Записать Panic"
    CommandBody writeBlockRange;  // "Записать б. блок"
    CommandBody setBlankMode;     // "Режим BLANK"
    CommandBody readRangeToFile;  // "Прочитать данные"
    CommandBody startPhone;       // "Запустить телефон"
};

// The bodies the programs run: the one place where the operations are plugged into the buttons.
CommandBodies productCommandBodies();

}  // namespace norvale
