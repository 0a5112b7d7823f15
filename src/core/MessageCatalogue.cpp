// Every message's name, kind and texts, in identifier order; the places filled in one way.
#include "core/MessageCatalogue.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace norvale {
namespace {

using Id = MessageId;
constexpr bool kError = true;
constexpr bool kLine = false;

// The Russian texts are the dialog's log bytes; the English ones say the same to an operator who
// reads English (the operator's guide gives the meanings).
constexpr std::array<MessageEntry, kMessageCount> kCatalogue{{
    {Id::phoneConnected, "phone_connected", kLine, u8"Телефон подключен", "Phone connected"},
    // An empty line sets a removal off from the session before it.
    {Id::phoneDisconnected, "phone_disconnected", kLine, u8"Телефон отключен\n",
     "Phone disconnected\n"},
    {Id::bootVersion, "boot_version", kLine, u8"Версия Boot'a: {1}", "Boot version: {1}"},
    {Id::phoneMode, "phone_mode", kLine, u8"Режим: {1}", "Mode: {1}"},
    {Id::cg1Start, "cg1_start", kLine, u8"Начало CG1 - {1}", "CG1 start - {1}"},
    {Id::sendingLoader, "sending_loader", kLine, u8"Посылка загрузчика", "Sending the loader"},
    {Id::loaderReply, "loader_reply", kLine, u8"{1}", "{1}"},
    {Id::writingData, "writing_data", kLine, u8"Запись данных в телефон",
     "Writing data to the phone"},
    {Id::readingBlock, "reading_block", kLine, u8"Чтение блока данных {1}",
     "Reading data block {1}"},
    {Id::startingPhone, "starting_phone", kLine, u8"Запуск телефона", "Starting the phone"},
    {Id::settingBlank, "setting_blank", kLine, u8"Установка режима Blank", "Setting BLANK mode"},
    {Id::success, "success", kLine, u8"Успешно", "Success"},
    // Reading back what a write put into flash, to compare it with the image.
    {Id::verifyingData, "verifying_data", kLine, u8"Проверка записанных данных",
     "Verifying the written data"},
    {Id::checksumsWritten, "checksums_written", kLine, u8"Записаны контрольные суммы {1}",
     "Checksums written to {1}"},

    {Id::phoneNotConnected, "phone_not_connected", kError, u8"Телефон не подключен",
     "Phone not connected"},
    {Id::noAnswer, "no_answer", kError, u8"нет связи с телефоном", "no connection with the phone"},
    // The system would not let this user open the phone's device: nothing was sent to it.
    {Id::noUsbPermission, "no_usb_permission", kError,
     u8"нет прав открыть телефон {1}: нужно правило udev или группа plugdev, см. norvale-cli "
     u8"--help",
     "no permission to open the phone {1}: the udev rule is needed, and a user not at the seat "
     "needs the plugdev group, see \"Permissions\" in norvale-cli --help"},
    // The system refused the open because another program holds the phone (not a Norvale one).
    {Id::phoneInUse, "phone_in_use", kError, u8"телефон {1} занят другой программой",
     "the phone {1} is in use by another program"},
    // A look at the bus that could not read it: the phones watched are kept, and it looks again.
    {Id::usbBusUnread, "usb_bus_unread", kLine,
     u8"не удалось прочитать шину USB, следующая попытка через секунду",
     "the USB bus could not be read; looking again in a second"},
    {Id::cannotReadFile, "cannot_read_file", kError, u8"не удалось прочитать файл {1}",
     "could not read the file {1}"},
    {Id::fileInUse, "file_in_use", kError, u8"файл занят другой программой: {1}",
     "the file is in use by another program: {1}"},
    {Id::fileTooLarge, "file_too_large", kError, u8"файл слишком большой: {1}",
     "the file is too large: {1}"},
    {Id::imageTooShort, "image_too_short", kError, u8"файл образа короче записываемой области: {1}",
     "the image file is shorter than the region to be written: {1}"},
    {Id::badAddressRange, "bad_address_range", kError, u8"неверный диапазон адресов",
     "invalid address range"},
    {Id::cannotCreateFile, "cannot_create_file", kError, u8"не удалось создать файл {1}",
     "could not create the file {1}"},
    // A dump whose name was taken while it was written stays under its ".part" name, and says so.
    {Id::fileExists, "file_exists", kError,
     u8"файл уже существует: {1}[, дамп сохранён в файле {2}]",
     "the file already exists: {1}[, the dump is kept in the file {2}]"},
    {Id::readInterrupted, "read_interrupted", kError,
     u8"чтение прервано, сохранено байт: {1}[ в файле {2}]",
     "reading interrupted, bytes saved: {1}[ in the file {2}]"},
    {Id::readTooLong, "read_too_long", kError,
     u8"телефон прислал больше запрошенного, сохранено байт: {1}[ в файле {2}]",
     "the phone sent more than was asked for, bytes saved: {1}[ in the file {2}]"},
    {Id::cannotWriteFile, "cannot_write_file", kError,
     u8"не удалось записать в файл, сохранено байт: {1} в файле {2}",
     "could not write to the file, bytes saved: {1} in the file {2}"},
    {Id::invalidFileName, "invalid_file_name", kError, u8"недопустимое имя файла: {1}",
     "invalid file name: {1}"},
    {Id::cannotRenameFile, "cannot_rename_file", kError,
     u8"не удалось переименовать файл {1} в {2}", "could not rename the file {1} to {2}"},
    {Id::writeNotConfirmed, "write_not_confirmed", kError,
     u8"телефон не подтвердил запись блока {1}", "the phone did not confirm writing the block {1}"},
    {Id::stoppedByOperator, "stopped_by_operator", kError, u8"прервано оператором",
     "stopped by the operator"},
    {Id::readStoppedByOperator, "read_stopped_by_operator", kError,
     u8"прервано оператором, сохранено байт: {1}[ в файле {2}]",
     "stopped by the operator, bytes saved: {1}[ in the file {2}]"},
    // A stop that came between a write's first flash command and its last reply: the phone may
    // not boot as it is, which the operator must not take for a harmless stop.
    {Id::writeInterrupted, "write_interrupted", kError,
     u8"запись прервана: флеш-память телефона записана не полностью, её нужно записать снова",
     "writing interrupted: the phone's flash is incomplete and must be written again"},
    {Id::verifyMismatch, "verify_mismatch", kError,
     u8"записанные данные отличаются от образа, адрес: {1}",
     "the written data differ from the image at address {1}"},

    {Id::unknownCommand, "unknown_command", kError, u8"неизвестная команда: {1}",
     "unknown command: {1}"},
    {Id::unknownOption, "unknown_option", kError, u8"неизвестный параметр: {1}",
     "unknown option: {1}"},
    {Id::missingArgument, "missing_argument", kError, u8"не хватает аргумента: {1}",
     "missing argument: {1}"},
    {Id::badOptionValue, "bad_option_value", kError, u8"неверное значение параметра: {1}",
     "invalid option value: {1}"},
    {Id::badRangeArgument, "bad_range_argument", kError, u8"неверный диапазон адресов: {1}",
     "invalid address range: {1}"},
    {Id::backupNeedsOneWrite, "backup_needs_one_write", kError,
     u8"параметр --backup перед командами требует одной команды write",
     "--backup before the commands needs exactly one write command"},
    {Id::fileNamedTwice, "file_named_twice", kError, u8"файл назван дважды: {1}",
     "the file is named twice: {1}"},
    {Id::noSuchPhone, "no_such_phone", kError, u8"нет телефона с идентификатором {1}",
     "no phone with the id {1}"},
    {Id::cannotCreateFolder, "cannot_create_folder", kError, u8"не удалось создать папку {1}",
     "could not create the folder {1}"},
    {Id::cannotOpenFolder, "cannot_open_folder", kError, u8"не удалось открыть папку {1}",
     "could not open the folder {1}"},

    // A write of the command line that sends only the blocks that differ, and the restore that
    // puts a backup folder back that way.
    {Id::comparingBlocks, "comparing_blocks", kLine, u8"Сравнение блоков телефона с образом",
     "Comparing the phone's blocks with the image"},
    {Id::blockDiffers, "block_differs", kLine, u8"Блок отличается от образа, будет записан: {1}",
     "Block differs from the image, to be written: {1}"},
    {Id::blockAlreadyEqual, "block_already_equal", kLine,
     u8"Блок совпадает с образом, не записывается: {1}",
     "Block already holds the image, not written: {1}"},
    {Id::savingPhoneTo, "saving_phone_to", kLine, u8"Содержимое телефона сохраняется в папку {1}",
     "Saving what the phone holds to the folder {1}"},
    {Id::restoringFrom, "restoring_from", kLine, u8"Восстановление из файла {1}",
     "Restoring from the file {1}"},
    {Id::badChecksumLine, "bad_checksum_line", kError,
     u8"неверная строка файла контрольных сумм: {1}", "malformed line in the checksums file: {1}"},
    {Id::notInChecksums, "not_in_checksums", kError, u8"файл не указан в контрольных суммах: {1}",
     "the file is not listed in the checksums: {1}"},
    {Id::checksumMismatch, "checksum_mismatch", kError,
     u8"файл не совпадает со своей контрольной суммой: {1}",
     "the file does not match its checksum: {1}"},
    {Id::wrongRegionSize, "wrong_region_size", kError,
     u8"размер файла не равен размеру его области: {1}",
     "the file's size is not its region's: {1}"},
    {Id::jsonInOneCommand, "json_in_one_command", kError,
     u8"параметр --json допускается только у одной команды",
     "--json is allowed in one command of a run only"},
    {Id::onlyInStation, "only_in_station", kError, u8"только вместе с --station: {1}",
     "only with --station: {1}"},
    {Id::notInStation, "not_in_station", kError, u8"не для станции: {1}", "not in a station: {1}"},
    {Id::outsidePhoneFolder, "outside_phone_folder", kError,
     u8"станция пишет файлы только в папку телефона: {1}",
     "a station writes files only into the phone's folder: {1}"},
    {Id::journalNotWritten, "journal_not_written", kError,
     u8"не удалось записать строку журнала в файл {1}",
     "could not write the journal's line to the file {1}"},
    {Id::waitingAtPorts, "waiting_at_ports", kLine, u8"Ожидание телефона в местах: {1}",
     "Waiting for a phone at: {1}"},

    // A file replaced after its recipe was made: both digests, so the engineer can tell which
    // build each one is.
    {Id::imageNotPinned, "image_not_pinned", kError,
     u8"образ не совпадает с рецептом: {1}\nфайл: {2} байт, SHA-256 {3}\nрецепт: {4} байт, SHA-256 "
     u8"{5}",
     "the image is not the recipe's: {1}\nthe file: {2} bytes, SHA-256 {3}\nthe recipe: {4} bytes, "
     "SHA-256 {5}"},
    {Id::recipeNotToml, "recipe_not_toml", kError, u8"рецепт {1} не прочитан как TOML: {2}",
     "the recipe {1} is not TOML: {2}"},
    {Id::recipeUnknownKey, "recipe_unknown_key", kError, u8"рецепт {1}: неизвестный ключ {2}",
     "the recipe {1}: unknown key {2}"},
    {Id::recipeBadValue, "recipe_bad_value", kError, u8"рецепт {1}: неверное значение {2}",
     "the recipe {1}: invalid value of {2}"},
    {Id::recipeMissingKey, "recipe_missing_key", kError, u8"рецепт {1}: нет ключа {2}",
     "the recipe {1}: missing key {2}"},
    {Id::recipeBadVersion, "recipe_bad_version", kError,
     u8"рецепт {1}: версия {2} не поддерживается", "the recipe {1}: version {2} is not supported"},
    {Id::recipeBadStep, "recipe_bad_step", kError, u8"рецепт {1}: шаг не принят",
     "the recipe {1}: the step is refused"},
    {Id::recipeAndCommands, "recipe_and_commands", kError,
     u8"с --recipe команды не указываются: они в рецепте",
     "--recipe takes the place of the commands: they are in the recipe"},
    {Id::notInRecipe, "not_in_recipe", kError, u8"не для рецепта: {1}", "not in a recipe: {1}"},
    {Id::imageAsPinned, "image_as_pinned", kLine, u8"Образ совпадает с рецептом: {1}",
     "The image is the recipe's: {1}"},
    {Id::recipeChecked, "recipe_checked", kLine, u8"Рецепт проверен: {1}", "Recipe checked: {1}"},
    {Id::recipeWritten, "recipe_written", kLine, u8"Рецепт записан: {1}", "Recipe written: {1}"},
    {Id::journalLinesSkipped, "journal_lines_skipped", kLine,
     u8"В журнале {1} пропущено строк (оборванных или нечитаемых): {2}",
     "Lines skipped in the journal {1} (torn or unreadable): {2}"},
    {Id::phoneLogInFile, "phone_log_in_file", kLine, u8"Журнал телефона записан в файл {1}",
     "The phone's log is in the file {1}"},
    {Id::servedElsewhere, "served_elsewhere", kLine,
     u8"Телефон в месте {1} обслуживает другая программа Norvale",
     "The phone at {1} is served by another Norvale program"},
}};

// The table is looked up by identifier: each row must stand at its identifier's place.
consteval bool inIdentifierOrder() {
    for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
        if (static_cast<std::size_t>(kCatalogue[i].id) != i) return false;
    }
    return true;
}
static_assert(inIdentifierOrder(), "the catalogue's rows are in identifier order");

constexpr Cp1251Text kRussianErrorPrefix{u8"ОШИБКА - "};
constexpr std::string_view kEnglishErrorPrefix = "ERROR - ";

// The place "{N}" that begins at pattern[at], as N; 0 when none begins there.
int placeAt(std::string_view pattern, std::size_t at) {
    if (at + 2 >= pattern.size() || pattern[at] != '{' || pattern[at + 2] != '}') return 0;
    const char digit = pattern[at + 1];
    return digit >= '1' && digit <= '9' ? digit - '0' : 0;
}

// Writes pattern[from, to) into `lines`; places are filled from `details`.
void fill(std::string_view pattern, std::size_t from, std::size_t to,
          const std::vector<std::string>& details, TextEncoding encoding,
          std::vector<std::string>& lines) {
    std::string literal;
    const auto flushLiteral = [&] {
        lines.back() += encoding == TextEncoding::utf8 ? utf8FromCp1251(literal) : literal;
        literal.clear();
    };
    for (std::size_t i = from; i < to; ++i) {
        if (const int place = placeAt(pattern, i); place != 0) {
            flushLiteral();
            if (static_cast<std::size_t>(place) <= details.size())
                lines.back() += details[place - 1];
            i += 2;
        } else if (pattern[i] == '[') {
            flushLiteral();
            const std::size_t close = std::min(pattern.find(']', i), to);
            bool given = true;
            for (std::size_t j = i + 1; j < close; ++j) {
                const int inner = placeAt(pattern, j);
                if (inner != 0 && static_cast<std::size_t>(inner) > details.size()) given = false;
            }
            if (given) fill(pattern, i + 1, close, details, encoding, lines);
            i = close;
        } else if (pattern[i] == '\n') {
            flushLiteral();
            lines.emplace_back();
        } else {
            literal += pattern[i];
        }
    }
    flushLiteral();
}

}  // namespace

const MessageEntry& messageEntry(MessageId id) { return kCatalogue[static_cast<std::size_t>(id)]; }

std::string_view messagePattern(MessageId id, Language language) {
    const MessageEntry& entry = messageEntry(id);
    return language == Language::english ? entry.english : entry.russian.view();
}

std::string_view errorPrefix(Language language) {
    return language == Language::english ? kEnglishErrorPrefix : kRussianErrorPrefix.view();
}

std::string plainDetailText(const MessageDetail& detail) {
    switch (detail.kind) {
        case MessageDetail::Kind::name:
        case MessageDetail::Kind::fromPhone: return detail.text;
        case MessageDetail::Kind::byteCount: return std::to_string(detail.number);
        case MessageDetail::Kind::address: {
            char digits[9]{};
            std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(detail.number));
            return digits;
        }
    }
    return detail.text;
}

std::vector<std::string> messageLines(const Message& message, Language language,
                                      TextEncoding encoding, const DetailText& detailText) {
    std::vector<std::string> details;
    details.reserve(message.details.size());
    for (const MessageDetail& detail : message.details) details.push_back(detailText(detail));
    std::vector<std::string> lines(1);
    if (isErrorMessage(message.id)) {
        const std::string_view prefix = errorPrefix(language);
        lines.back() =
            encoding == TextEncoding::utf8 ? utf8FromCp1251(prefix) : std::string(prefix);
    }
    const std::string_view pattern = messagePattern(message.id, language);
    fill(pattern, 0, pattern.size(), details, encoding, lines);
    return lines;
}

std::vector<int> patternPlaces(std::string_view pattern) {
    std::vector<int> places;
    bool optional = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '[') optional = true;
        if (pattern[i] == ']') optional = false;
        if (const int place = placeAt(pattern, i); place != 0) {
            places.push_back(optional ? -place : place);
        }
    }
    return places;
}

}  // namespace norvale
