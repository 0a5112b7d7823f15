// The operations behind the command buttons of the programs.
#include "ui/CommandBodies.h"

#include "operations/FlashRangeReader.h"
#include "operations/PhoneControl.h"
#include "operations/RegionWriter.h"

namespace norvale {

CommandBodies productCommandBodies() {
    return CommandBodies{
        .writePds = writePds,
        .writeBoot = writeBoot,
        .writePanic = writePanic,
        .writeBlockRange = writeBlockRange,
        .setBlankMode = setBlankMode,
        .readRangeToFile = readRangeToFile,
        .startPhone = startPhone,
    };
}

}  // namespace norvale
