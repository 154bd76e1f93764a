#pragma once
// The command-line tool's own words: usage, errors and the labels of its plain-text
// tables, each in Russian and English.  The language follows the user's locale
// (LC_ALL, LC_MESSAGES, LANG): Russian when it names "ru", English otherwise.
#include <QString>

#include "shell/texts.h"

namespace veresk::cli {

// 1 Russian, 2 English, as the program's UiLanguage.
int CliLanguage();
// The language of a locale name such as "ru_RU.UTF-8" or "C.UTF-8".
int LanguageOfLocale(const QString& localeName);
QString T(const TextPair& text);  // in CliLanguage()

namespace txt {
// usage
inline constexpr TextPair Usage{
    "Использование: veresk-cli КОМАНДА [параметры]\n"
    "\n"
    "Команды:\n"
    "  ports       порты, которые открываются, и порт, где ответил дозиметр\n"
    "  status      одно чтение состояния (--json)\n"
    "  params      блок параметров (--json)\n"
    "  archive     чтение архива в файл (--out ФАЙЛ.bin [--csv ФАЙЛ.csv])\n"
    "  set-clock   установить часы дозиметра по часам компьютера\n"
    "  log         опрос раз в секунду до SIGINT/SIGTERM (--csv-dir, --textfile, --mqtt)\n"
    "\n"
    "Выбор порта (кроме ports): --port N (COM-номер), --device ПУТЬ (tty),\n"
    "без них - поиск по всем портам с пробным запросом.\n"
    "veresk-cli КОМАНДА --help - подробно о команде.\n"
    "Коды выхода: 0 успех, 1 ошибка в командной строке, 2 нет порта или дозиметра,\n"
    "3 ошибка связи, 4 ошибка файла.\n",
    "Usage: veresk-cli COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  ports       the ports that open and the one the dosimeter answers on\n"
    "  status      one status read (--json)\n"
    "  params      the parameter block (--json)\n"
    "  archive     download the archive to a file (--out FILE.bin [--csv FILE.csv])\n"
    "  set-clock   set the dosimeter's clock from the PC's local time\n"
    "  log         poll once a second until SIGINT/SIGTERM (--csv-dir, --textfile, --mqtt)\n"
    "\n"
    "Port choice (all but ports): --port N (COM number), --device PATH (a tty),\n"
    "or neither: every port is searched with the probe.\n"
    "veresk-cli COMMAND --help tells more about a command.\n"
    "Exit codes: 0 success, 1 bad usage, 2 no port or no device, 3 link failure,\n"
    "4 file error.\n"};
inline constexpr TextPair PortOptions{
    "  --port N        COM-порт N (1-255), как в программе\n"
    "  --device ПУТЬ   порт по пути (например /dev/ttyUSB0)\n"
    "  --help          эта справка\n",
    "  --port N        COM port N (1-255), as in the program\n"
    "  --device PATH   the port at this path (for example /dev/ttyUSB0)\n"
    "  --help          this help\n"};
inline constexpr TextPair HelpPorts{
    "Использование: veresk-cli ports\n"
    "Открывает порты 1-255 по очереди, перечисляет открывшиеся и посылает каждому\n"
    "пробный запрос; отмечает порт, где ответил дозиметр. Код 2, если не ответил никто.\n",
    "Usage: veresk-cli ports\n"
    "Opens ports 1-255 in turn, lists those that open and sends each the probe; marks\n"
    "the port the dosimeter answers on.  Exit code 2 when none answers.\n"};
inline constexpr TextPair HelpStatus{
    "Использование: veresk-cli status [--json] [--port N | --device ПУТЬ]\n"
    "Одно чтение блока состояния: мощность дозы, доза, температура, батарея, зарядка,\n"
    "превышения порогов, импульсы, счётчики, времена, заполнение архива, часы\n"
    "дозиметра и их отличие от часов компьютера. Часы дозиметра не меняются.\n"
    "  --json          вывод одним объектом JSON\n",
    "Usage: veresk-cli status [--json] [--port N | --device PATH]\n"
    "One status read: dose rate, dose, temperature, battery, charging, alarm flags,\n"
    "pulses, counts, times, archive fill, the device clock and its offset from the\n"
    "PC clock.  The device clock is left as it is.\n"
    "  --json          print one JSON object\n"};
inline constexpr TextPair HelpParams{
    "Использование: veresk-cli params [--json] [--port N | --device ПУТЬ]\n"
    "Читает блок параметров (пороги, режимы, версию, исполнение).\n"
    "  --json          вывод одним объектом JSON\n",
    "Usage: veresk-cli params [--json] [--port N | --device PATH]\n"
    "Reads the parameter block (thresholds, settings, firmware version, edition).\n"
    "  --json          print one JSON object\n"};
inline constexpr TextPair HelpArchive{
    "Использование: veresk-cli archive --out ФАЙЛ.bin [--csv ФАЙЛ.csv] [--port N | --device ПУТЬ]\n"
    "Читает память архива блоками по 2048 байт (до первого пустого блока, до 10\n"
    "повторов на всё чтение) и записывает образ 32768 байт.\n"
    "  --out ФАЙЛ      образ памяти архива\n"
    "  --csv ФАЙЛ      все измерения архива в CSV\n",
    "Usage: veresk-cli archive --out FILE.bin [--csv FILE.csv] [--port N | --device PATH]\n"
    "Reads the archive memory in 2048-byte blocks (up to the first empty block, with\n"
    "up to 10 retries in all) and writes the 32768-byte image.\n"
    "  --out FILE      the archive memory image\n"
    "  --csv FILE      every measurement of the archive as CSV\n"};
inline constexpr TextPair HelpSetClock{
    "Использование: veresk-cli set-clock [--port N | --device ПУТЬ]\n"
    "Устанавливает часы дозиметра по местному времени компьютера и читает состояние,\n"
    "чтобы показать новое отличие часов. Время компьютера вне 2000-2099 годов\n"
    "не записывается (код 1).\n",
    "Usage: veresk-cli set-clock [--port N | --device PATH]\n"
    "Sets the dosimeter's clock from the PC's local time, then reads the status to\n"
    "show the new clock offset.  A PC time outside the years 2000-2099 is not\n"
    "written (exit code 1).\n"};
inline constexpr TextPair HelpLog{
    "Использование: veresk-cli log [--csv-dir ПАПКА] [--textfile ФАЙЛ.prom]\n"
    "                              [--mqtt УЗЕЛ[:ПОРТ] [--topic ПРЕФИКС]] [--no-clock]\n"
    "                              [--port N | --device ПУТЬ]\n"
    "Опрашивает дозиметр раз в секунду до SIGINT, SIGTERM или SIGHUP и записывает\n"
    "каждое хорошее чтение. Часы дозиметра подводятся, когда они отстают или спешат на 6 с\n"
    "и больше. При потере связи сообщает об этом и пробует снова: названный порт\n"
    "каждую секунду, найденный поиском - новым поиском каждые 5 с; продолжает сам.\n"
    "  --csv-dir ПАПКА    суточные файлы CSV журнала\n"
    "  --textfile ФАЙЛ    значения для textfile-коллектора node_exporter\n"
    "  --mqtt УЗЕЛ[:ПОРТ] брокер MQTT (порт 1883 по умолчанию)\n"
    "  --topic ПРЕФИКС    префикс тем MQTT (по умолчанию veresk/<порт>)\n"
    "  --no-clock         не трогать часы дозиметра\n",
    "Usage: veresk-cli log [--csv-dir DIR] [--textfile FILE.prom]\n"
    "                      [--mqtt HOST[:PORT] [--topic PREFIX]] [--no-clock]\n"
    "                      [--port N | --device PATH]\n"
    "Polls the dosimeter once a second until SIGINT, SIGTERM or SIGHUP and writes every\n"
    "good reading.  The device clock is set whenever it is 6 s or more off.  When the link\n"
    "is lost it says so and keeps trying: a named port every second, a searched one\n"
    "by a new search every 5 s; it resumes by itself.\n"
    "  --csv-dir DIR      daily CSV files of the live log\n"
    "  --textfile FILE    current values for node_exporter's textfile collector\n"
    "  --mqtt HOST[:PORT] MQTT broker (port 1883 unless given)\n"
    "  --topic PREFIX     prefix of the MQTT topics (default veresk/<port>)\n"
    "  --no-clock         leave the device clock alone\n"};

// errors and reports (arguments %1, %2 ...)
inline constexpr TextPair UnknownCommand{"неизвестная команда '%1'", "unknown command '%1'"};
inline constexpr TextPair NoCommand{"не указана команда", "no command given"};
inline constexpr TextPair UnknownOption{"неизвестный параметр '%1' команды %2", "unknown option '%1' for %2"};
inline constexpr TextPair MissingValue{"параметру %1 нужно значение", "%1 needs a value"};
inline constexpr TextPair UnexpectedValue{"параметр %1 не принимает значения", "%1 takes no value"};
inline constexpr TextPair UnexpectedArgument{"лишний аргумент '%1'", "unexpected argument '%1'"};
inline constexpr TextPair RepeatedOption{"параметр %1 указан дважды", "%1 given twice"};
inline constexpr TextPair BadPortNumber{"--port ждёт номер от 1 до 255, а не '%1'", "--port needs a number from 1 to 255, not '%1'"};
inline constexpr TextPair PortAndDevice{"--port и --device вместе указать нельзя", "--port and --device cannot be given together"};
inline constexpr TextPair OutRequired{"команде archive нужен --out ФАЙЛ", "archive needs --out FILE"};
inline constexpr TextPair SameFile{"--out и --csv указывают на один файл", "--out and --csv name the same file"};
inline constexpr TextPair LogNeedsOutput{"команде log нужен хотя бы один из --csv-dir, --textfile, --mqtt",
                                         "log needs at least one of --csv-dir, --textfile, --mqtt"};
inline constexpr TextPair TopicWithoutMqtt{"--topic имеет смысл только с --mqtt", "--topic only goes with --mqtt"};
inline constexpr TextPair BadBroker{"--mqtt ждёт УЗЕЛ[:ПОРТ], а не '%1'", "--mqtt needs HOST[:PORT], not '%1'"};
inline constexpr TextPair BadTopic{"префикс темы MQTT не может быть пустым и содержать + или #: '%1'",
                                   "an MQTT topic prefix must not be empty or hold + or #: '%1'"};

inline constexpr TextPair NoPortOpens{"ни один порт не открывается", "no port can be opened"};
inline constexpr TextPair NoDeviceFound{"дозиметр не ответил ни на одном порту", "the dosimeter answers on no port"};
inline constexpr TextPair CannotOpen{"невозможно открыть порт %1", "cannot open port %1"};
inline constexpr TextPair NoAnswer{"дозиметр не отвечает на порту %1", "no answer from the dosimeter on %1"};
inline constexpr TextPair LinkFailure{"ошибка связи на порту %1", "link failure on %1"};
inline constexpr TextPair CrcFailure{"ошибка CRC на порту %1", "CRC error on %1"};
inline constexpr TextPair FileError{"невозможно записать файл %1: %2", "cannot write %1: %2"};
inline constexpr TextPair WriteFailed{"не удалось записать %1", "cannot write %1"};
inline constexpr TextPair FolderError{"папку невозможно создать", "the folder cannot be created"};
inline constexpr TextPair ArchiveRead{"архив прочитан: сеансов %1, измерений %2 -> %3",
                                     "archive read: %1 sessions, %2 measurements -> %3"};
inline constexpr TextPair ClockSetTo{"часы дозиметра установлены: %1, отличие от компьютера %2 с",
                                     "device clock set: %1, %2 s from the PC clock"};
inline constexpr TextPair ClockStillInvalid{"часы дозиметра после установки недействительны",
                                            "the device clock is still invalid after setting it"};
inline constexpr TextPair PcClockUnwritable{
    "часы компьютера (%1) не помещаются в часы дозиметра (годы 2000-2099); часы дозиметра не тронуты",
    "the PC clock (%1) does not fit the device clock (years 2000-2099); the device clock is left as it is"};
inline constexpr TextPair DeviceOn{"дозиметр на порту %1", "dosimeter on %1"};
inline constexpr TextPair Searching{"дозиметр не найден; поиск каждые %1 с", "no dosimeter found; searching every %1 s"};
inline constexpr TextPair LinkUp{"связь есть: %1", "link up: %1"};
inline constexpr TextPair LinkDown{"связь потеряна: %1", "link lost: %1"};
inline constexpr TextPair ClockCorrected{"часы дозиметра подведены (отличались на %1 с)", "device clock set (it was %1 s off)"};
inline constexpr TextPair ClockCorrectedInvalid{"часы дозиметра подведены (были недействительны)",
                                                "device clock set (it was invalid)"};
inline constexpr TextPair SinkFailed{"%1: %2", "%1: %2"};
inline constexpr TextPair SinkRecovered{"%1: запись снова идёт", "%1: writing again"};
inline constexpr TextPair MqttProblem{"MQTT %1: %2", "MQTT %1: %2"};
inline constexpr TextPair Stopping{"остановка по сигналу", "stopping on a signal"};

// table labels
inline constexpr TextPair Port{"порт", "port"};
inline constexpr TextPair Device{"дозиметр", "dosimeter"};
inline constexpr TextPair DoseRate{"мощность дозы", "dose rate"};
inline constexpr TextPair Dose{"доза", "dose"};
inline constexpr TextPair Temperature{"температура", "temperature"};
inline constexpr TextPair Battery{"батарея", "battery"};
inline constexpr TextPair Charging{"зарядка", "charging"};
inline constexpr TextPair RateAlarm{"превышение порога МЭД", "dose rate alarm"};
inline constexpr TextPair DoseAlarm{"превышение порога ЭД", "dose alarm"};
inline constexpr TextPair ArchiveFull{"память архива заполнена", "archive memory full"};
inline constexpr TextPair StatError{"статистическая погрешность", "statistical error"};
inline constexpr TextPair Pulses{"импульсы", "pulses"};
inline constexpr TextPair Measurements{"измерений", "measurements"};
inline constexpr TextPair MeasurementTime{"время измерения", "measurement time"};
inline constexpr TextPair RunningTime{"время работы", "running time"};
inline constexpr TextPair RateThreshold{"текущий порог МЭД", "dose rate threshold in force"};
inline constexpr TextPair DoseThreshold{"текущий порог ЭД", "dose threshold in force"};
inline constexpr TextPair ArchiveRecords{"записей в архиве", "archive records"};
inline constexpr TextPair DeviceClock{"часы дозиметра", "device clock"};
inline constexpr TextPair ClockOffset{"отличие от часов компьютера", "offset from the PC clock"};
inline constexpr TextPair PcClock{"часы компьютера", "PC clock"};
inline constexpr TextPair Yes{"да", "yes"};
inline constexpr TextPair No{"нет", "no"};
inline constexpr TextPair Invalid{"недействительны", "invalid"};
inline constexpr TextPair Seconds{"с", "s"};
}  // namespace txt

}  // namespace veresk::cli
