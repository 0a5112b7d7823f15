// The station window's words in both languages, side by side so that neither is forgotten.
#include "ui/StationTexts.h"

namespace norvale {
namespace {

struct TextPair {
    StationText id;
    std::string_view russian;
    std::string_view english;
};

using namespace std::string_view_literals;

constexpr TextPair kTexts[] = {
    {StationText::caption, "Norvale: станция      v 0.5", "Norvale Station      v 0.5"},
    {StationText::chainGroup, "Цепочка для каждого телефона", "Chain for every phone"},
    {StationText::backup, "Резервная &копия", "Back&up"},
    {StationText::restore, "&Восстановить...", "&Restore..."},
    {StationText::startPhone, "Запустить телефо&н", "Start p&hone"},
    {StationText::blank, "&Режим BLANK", "BLANK &mode"},
    {StationText::writeBoot, "&Записать Boot...", "&Write Boot..."},
    {StationText::writePds, "З&аписать PDS...", "Write &PDS..."},
    {StationText::writePanic, "Зап&исать Panic...", "Wr&ite Panic..."},
    {StationText::writeBlocks, "Записать &блоки...", "Write &blocks..."},
    {StationText::from, "С:", "From:"},
    {StationText::to, "По:", "To:"},
    {StationText::verify, "Пров&ерять запись", "Verif&y writes"},
    {StationText::changedOnly, "Только из&менённые блоки", "Chan&ged blocks only"},
    {StationText::removeStep, "&Убрать", "R&emove"},
    {StationText::clearSteps, "&Очистить", "&Clear"},
    {StationText::folder, "Рабо&чая папка:", "Wor&king folder:"},
    {StationText::journal, "&Журнал:", "&Journal file:"},
    {StationText::placesGroup, "Гнёзда", "Places"},
    {StationText::allPlaces, "Все &гнёзда", "&All places"},
    {StationText::tickedPlaces, "То&лько отмеченные:", "O&nly those ticked:"},
    {StationText::commandLine,
     "Та же цепочка в командной строке:", "The same chain on the command line:"},
    {StationText::start, "&Старт", "&Start"},
    {StationText::stop, "С&топ", "S&top"},
    {StationText::columnPlace, "Гнездо", "Place"},
    {StationText::columnRoad, "Путь", "Road"},
    {StationText::columnBoot, "Boot", "Boot"},
    {StationText::columnStep, "Шаг", "Step"},
    {StationText::columnProgress, "Ход", "Progress"},
    {StationText::columnBytes, "Байты", "Bytes"},
    {StationText::columnRate, "Скорость", "Rate"},
    {StationText::columnLeft, "Осталось", "Left"},
    {StationText::columnResult, "Итог", "Result"},
    {StationText::elapsed, "Время", "Elapsed"},
    {StationText::running, "в работе", "running"},
    {StationText::done, "готово", "done"},
    {StationText::failed, "ошибка", "failed"},
    {StationText::stopped, "остановлено", "stopped"},
    {StationText::waiting, "ожидание", "waiting"},
    {StationText::of, "из", "of"},
    {StationText::perSecond, "/с", "/s"},
    {StationText::askStopTitle, "Norvale: станция", "Norvale Station"},
    {StationText::askStop, "Остановить станцию и закрыть окно?",
     "Stop the station and close the window?"},
    {StationText::logTitle, "Строки телефона", "The phone's lines"},
    {StationText::chooseFolder, "Рабочая папка станции", "The station's working folder"},
    {StationText::chooseRestoreFolder, "Папка резервной копии для восстановления",
     "The backup folder to restore"},
    {StationText::noSteps, "Цепочка пуста: добавьте хотя бы один шаг.",
     "The chain is empty: add at least one step."},
    {StationText::noPlaces, "Не отмечено ни одного гнезда: отметьте гнёзда или выберите все.",
     "No place is ticked: tick the places to serve, or choose all places."},
    {StationText::badBlockRange,
     "Неверный диапазон блоков: шестнадцатеричные адреса по порядку, хотя бы один целый блок.",
     "The block range must be hex addresses in order that cover at least one whole block."},
    {StationText::cannotStart, "Станцию не удалось запустить.", "The station could not start."},
    {StationText::imageFilter, "Все файлы\0*.*\0"sv, "All files\0*.*\0"sv},
    {StationText::journalFilter, "Журналы (*.jsonl)\0*.jsonl\0Все файлы\0*.*\0"sv,
     "Journals (*.jsonl)\0*.jsonl\0All files\0*.*\0"sv},
    {StationText::stepBackup, "резервная копия", "backup"},
    {StationText::stepRestore, "восстановить", "restore"},
    {StationText::stepStart, "запустить", "start"},
    {StationText::stepBlank, "BLANK", "BLANK"},
    {StationText::stepWrite, "записать", "write"},
    {StationText::chooseFolderButton, "&Папка...", "Fo&lder..."},
    {StationText::chooseJournalButton, "&Файл...", "&File..."},
    {StationText::showLog, "&Строки телефона", "The phone's &lines"},
    {StationText::servedCount, "Телефонов в работе:", "Phones being served:"},
    {StationText::noneServed, "Ни один телефон сейчас не в работе.",
     "No phone is being served now."},
    {StationText::shutdownReason, "Идёт запись телефонов", "Phones are being written"},
    {StationText::clonePds, "Копировать PDS на каж&дый телефон", "Clone P&DS to every phone"},
    {StationText::clonePdsWarning,
     "PDS хранит данные самого телефона: только для телефонов, которые должны их разделять",
     "PDS holds the phone's own data: only for phones meant to share it"},
    {StationText::journalLinesLost, "не записано строк журнала:", "journal lines not written:"},
    {StationText::journalAlarmHide, "(щёлкните, чтобы скрыть)", "(click to hide)"},
    {StationText::journalIncomplete, "Журнал неполон: не все строки удалось записать.",
     "The journal is incomplete: not every line could be written."},
    {StationText::askClose, "Закрыть окно?", "Close the window?"},
    {StationText::openRecipe, "Откр&ыть рецепт...", "&Open recipe..."},
    {StationText::saveRecipe, "Со&хранить рецепт...", "Sa&ve recipe..."},
    {StationText::recipeFilter, "Рецепты (*.toml)\0*.toml\0Все файлы\0*.*\0"sv,
     "Recipes (*.toml)\0*.toml\0All files\0*.*\0"sv},
    {StationText::recipeStepNotShown, "Этот шаг рецепта не собрать кнопками окна:",
     "This step of the recipe is not one the window's buttons make:"},
};

// The table is in the enumeration's order, checked when the program is compiled, so a lookup is
// an index and a text added to one but not the other stops the build.
constexpr bool inOrder() {
    for (std::size_t i = 0; i < std::size(kTexts); ++i) {
        if (static_cast<std::size_t>(kTexts[i].id) != i) return false;
    }
    return static_cast<std::size_t>(StationText::recipeStepNotShown) + 1 == std::size(kTexts);
}
static_assert(inOrder(), "kTexts must hold every StationText once, in order");

}  // namespace

std::string_view stationText(StationText text, Language language) {
    const TextPair& pair = kTexts[static_cast<std::size_t>(text)];
    return language == Language::russian ? pair.russian : pair.english;
}

}  // namespace norvale
