// The station window's own words, in Russian and English, UTF-8.
#pragma once

#include <string_view>

#include "core/MessageCatalogue.h"

namespace norvale {

// Every label, column and question of the station window. What a phone's session says comes from
// the message catalogue instead; these are only the window's frame around it.
enum class StationText {
    caption,
    chainGroup,
    backup,
    restore,
    startPhone,
    blank,
    writeBoot,
    writePds,
    writePanic,
    writeBlocks,
    from,
    to,
    verify,
    changedOnly,
    removeStep,
    clearSteps,
    folder,
    journal,
    placesGroup,
    allPlaces,
    tickedPlaces,
    commandLine,
    start,
    stop,
    columnPlace,
    columnRoad,
    columnBoot,
    columnStep,
    columnProgress,
    columnBytes,
    columnRate,
    columnLeft,
    columnResult,
    elapsed,
    running,
    done,
    failed,
    stopped,
    waiting,
    of,
    perSecond,
    askStopTitle,
    askStop,
    logTitle,
    chooseFolder,
    chooseRestoreFolder,
    noSteps,
    noPlaces,
    badBlockRange,
    cannotStart,
    imageFilter,
    journalFilter,
    stepBackup,
    stepRestore,
    stepStart,
    stepBlank,
    stepWrite,
    chooseFolderButton,
    chooseJournalButton,
    showLog,
    servedCount,
    noneServed,
    shutdownReason,
    clonePds,
    clonePdsWarning,
    journalLinesLost,
    journalAlarmHide,
    journalIncomplete,
    askClose,
    openRecipe,
    saveRecipe,
    recipeFilter,
    recipeStepNotShown,
};

// `text` in `language`: UTF-8 bytes. The file filters hold NUL-separated pairs, as the file
// dialog takes them. A button's and a label's '&' marks its keyboard mnemonic (Alt and the
// letter), unique within each language.
std::string_view stationText(StationText text, Language language);

}  // namespace norvale
