// The dialog's log texts as Windows-1251 bytes, written out here and not taken from the message
// catalogue, so a test that expects them fails when a catalogue text changes.
#pragma once

#include <string>
#include <string_view>

#include "core/Cp1251.h"
#include "core/OperatorTexts.h"

namespace norvale::text {

inline constexpr std::string_view kLineEnd = "\r\n";

// Presence.
inline constexpr Cp1251Text kPhoneConnected{u8"Телефон подключен\r\n"};
inline constexpr Cp1251Text kPhoneDisconnected{u8"Телефон отключен\r\n"};
inline constexpr Cp1251Text kBootVersion{u8"Версия Boot'a: "};
inline constexpr Cp1251Text kMode{u8"Режим: "};
inline constexpr Cp1251Text kCg1Start{u8"Начало CG1 - "};

// Commands.
inline constexpr Cp1251Text kSendingLoader{u8"Посылка загрузчика\r\n"};
inline constexpr Cp1251Text kWritingData{u8"Запись данных в телефон\r\n"};
inline constexpr Cp1251Text kReadingBlock{u8"Чтение блока данных "};
inline constexpr Cp1251Text kStartingPhone{u8"Запуск телефона\r\n"};
inline constexpr Cp1251Text kSettingBlank{u8"Установка режима Blank\r\n"};
inline constexpr Cp1251Text kSuccess{u8"Успешно\r\n"};
inline constexpr Cp1251Text kVerifyingData{u8"Проверка записанных данных\r\n"};
inline constexpr Cp1251Text kChecksumsWritten{u8"Записаны контрольные суммы "};

// Error lines: this prefix, a reason, its detail, a line end.
inline constexpr Cp1251Text kErrorPrefix{u8"ОШИБКА - "};
inline constexpr Cp1251Text kPhoneNotConnected{u8"Телефон не подключен"};
inline constexpr Cp1251Text kNoAnswerFromPhone{u8"нет связи с телефоном"};
inline constexpr Cp1251Text kNoUsbPermissionTo{u8"нет прав открыть телефон "};
inline constexpr Cp1251Text kNoUsbPermissionRule{
    u8": нужно правило udev или группа plugdev, см. norvale-cli --help"};
inline constexpr Cp1251Text kPhoneInUseBefore{u8"телефон "};
inline constexpr Cp1251Text kPhoneInUseAfter{u8" занят другой программой"};
inline constexpr Cp1251Text kUsbBusUnread{
    u8"не удалось прочитать шину USB, следующая попытка через секунду"};
inline constexpr Cp1251Text kCannotReadFile{u8"не удалось прочитать файл "};
inline constexpr Cp1251Text kFileInUse{u8"файл занят другой программой: "};
inline constexpr Cp1251Text kFileTooLarge{u8"файл слишком большой: "};
inline constexpr Cp1251Text kImageTooShort{u8"файл образа короче записываемой области: "};
inline constexpr Cp1251Text kBadAddressRange{u8"неверный диапазон адресов"};
inline constexpr Cp1251Text kCannotCreateFile{u8"не удалось создать файл "};
inline constexpr Cp1251Text kFileExists{u8"файл уже существует: "};
inline constexpr Cp1251Text kReadInterrupted{u8"чтение прервано, сохранено байт: "};
inline constexpr Cp1251Text kReadTooLong{u8"телефон прислал больше запрошенного, сохранено байт: "};
inline constexpr Cp1251Text kCannotWriteFile{u8"не удалось записать в файл, сохранено байт: "};
inline constexpr Cp1251Text kInvalidFileName{u8"недопустимое имя файла: "};
inline constexpr Cp1251Text kSavedInFile{u8" в файле "};
inline constexpr Cp1251Text kDumpKeptIn{u8", дамп сохранён в файле "};
inline constexpr Cp1251Text kCannotRenameFile{u8"не удалось переименовать файл "};
inline constexpr Cp1251Text kRenamedTo{u8" в "};
inline constexpr Cp1251Text kWriteNotConfirmed{u8"телефон не подтвердил запись блока "};
inline constexpr Cp1251Text kStoppedByOperator{u8"прервано оператором"};
inline constexpr Cp1251Text kReadStoppedByOperator{u8"прервано оператором, сохранено байт: "};
inline constexpr Cp1251Text kWriteInterrupted{
    u8"запись прервана: флеш-память телефона записана не полностью, её нужно записать снова"};
inline constexpr Cp1251Text kVerifyMismatch{u8"записанные данные отличаются от образа, адрес: "};

// The command line's usage errors.
inline constexpr Cp1251Text kUnknownCommand{u8"неизвестная команда: "};
inline constexpr Cp1251Text kUnknownOption{u8"неизвестный параметр: "};
inline constexpr Cp1251Text kMissingArgument{u8"не хватает аргумента: "};
inline constexpr Cp1251Text kBadOptionValue{u8"неверное значение параметра: "};
inline constexpr Cp1251Text kBadRangeArgument{u8"неверный диапазон адресов: "};
inline constexpr Cp1251Text kBackupNeedsOneWrite{
    u8"параметр --backup перед командами требует одной команды write"};
inline constexpr Cp1251Text kFileNamedTwice{u8"файл назван дважды: "};
inline constexpr Cp1251Text kNoSuchPhone{u8"нет телефона с идентификатором "};
inline constexpr Cp1251Text kCannotCreateFolder{u8"не удалось создать папку "};
inline constexpr Cp1251Text kCannotOpenFolder{u8"не удалось открыть папку "};
inline constexpr Cp1251Text kOnlyInStation{u8"только вместе с --station: "};
inline constexpr Cp1251Text kNotInStation{u8"не для станции: "};
inline constexpr Cp1251Text kOutsidePhoneFolder{u8"станция пишет файлы только в папку телефона: "};
inline constexpr Cp1251Text kJournalNotWritten{u8"не удалось записать строку журнала в файл "};

// "ОШИБКА - " + reason + detail + "\r\n".
inline std::string errorLine(std::string_view reason, std::string_view detail = {}) {
    std::string line(kErrorPrefix.view());
    line += reason;
    line += detail;
    line += kLineEnd;
    return line;
}

}  // namespace norvale::text
