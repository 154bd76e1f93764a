#pragma once
// The command line of veresk-cli: one command, then its options.  Pure: arguments in,
// a parsed command or a usage error out; nothing is opened or printed here.
//
//   veresk-cli ports
//   veresk-cli status    [--json]                       [--port N | --device PATH]
//   veresk-cli params    [--json]                       [--port N | --device PATH]
//   veresk-cli archive   --out FILE.bin [--csv FILE.csv] [--port N | --device PATH]
//   veresk-cli set-clock                                [--port N | --device PATH]
//   veresk-cli log       [--csv-dir DIR] [--textfile FILE.prom] [--mqtt HOST[:PORT]]
//                        [--topic PREFIX] [--no-clock]   [--port N | --device PATH]
// Every command takes --help.  Options may be written "--name value" or "--name=value".
#include <QString>
#include <QStringList>

namespace veresk::cli {

enum class Command { None, Ports, Status, Params, Archive, SetClock, Log };

// How the port is chosen: by COM number, by path, or by the scan and the probe.
struct PortChoice {
    enum class Kind { Search, Number, Path };
    Kind kind = Kind::Search;
    int number = 0;  // Number: 1..255
    QString path;    // Path
};

struct Broker {
    QString host;
    int port = 1883;
};

struct Options {
    Command command = Command::None;
    bool help = false;
    PortChoice port;
    bool json = false;
    QString out, csv;        // archive
    QString csvDir;          // log
    QString textfile;        // log
    bool mqtt = false;       // log
    Broker broker;
    QString topic;           // empty: the default prefix
    bool keepClock = true;   // log: false with --no-clock
};

struct ParseResult {
    Options options;
    QString error;           // non-empty: bad usage (exit code 1)
};

// `args` without the program name.
ParseResult ParseCommandLine(const QStringList& args);

// "HOST" or "HOST:PORT" (an IPv6 address in brackets: "[::1]:1884").  False when it is
// not one.
bool ParseBroker(const QString& text, Broker& broker);

// The usage text of a command (Command::None: the general one).
QString UsageText(Command command);

// The name a port choice goes by in topics and labels: "COM5", the file name of a path
// ("ttyUSB0"), or "auto" for the search.
QString PortChoiceName(const PortChoice& choice);
// The default MQTT topic prefix: "veresk/" + PortChoiceName.
QString DefaultTopic(const PortChoice& choice);

}  // namespace veresk::cli
