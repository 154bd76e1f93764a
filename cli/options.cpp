#include "cli/options.h"

#include <QFileInfo>
#include <array>
#include <optional>

#include "cli/texts.h"

namespace veresk::cli {

namespace {

struct CommandSpec {
    const char* name;
    Command command;
    bool portChoice;           // takes --port / --device
    const TextPair* help;
};

constexpr std::array<CommandSpec, 6> kCommands{{
    {"ports", Command::Ports, false, &txt::HelpPorts},
    {"status", Command::Status, true, &txt::HelpStatus},
    {"params", Command::Params, true, &txt::HelpParams},
    {"archive", Command::Archive, true, &txt::HelpArchive},
    {"set-clock", Command::SetClock, true, &txt::HelpSetClock},
    {"log", Command::Log, true, &txt::HelpLog},
}};

const CommandSpec* FindCommand(const QString& name) {
    for (const CommandSpec& c : kCommands)
        if (name == QLatin1String(c.name)) return &c;
    return nullptr;
}

const CommandSpec* SpecOf(Command command) {
    for (const CommandSpec& c : kCommands)
        if (c.command == command) return &c;
    return nullptr;
}

struct OptionSpec {
    const char* name;
    bool takesValue;
    bool (*allowed)(Command);
};

bool Any(Command) { return true; }
bool WithPort(Command c) { return SpecOf(c)->portChoice; }
bool Printing(Command c) { return c == Command::Status || c == Command::Params; }
bool ArchiveOnly(Command c) { return c == Command::Archive; }
bool LogOnly(Command c) { return c == Command::Log; }

constexpr std::array<OptionSpec, 12> kOptions{{
    {"--help", false, Any},
    {"--port", true, WithPort},
    {"--device", true, WithPort},
    {"--json", false, Printing},
    {"--out", true, ArchiveOnly},
    {"--csv", true, ArchiveOnly},
    {"--csv-dir", true, LogOnly},
    {"--textfile", true, LogOnly},
    {"--mqtt", true, LogOnly},
    {"--topic", true, LogOnly},
    {"--no-clock", false, LogOnly},
    {"-h", false, Any},
}};

QString Fmt(const TextPair& t, const QString& a) { return T(t).arg(a); }
QString Fmt(const TextPair& t, const QString& a, const QString& b) { return T(t).arg(a, b); }

// Applies one option with its value (empty for a flag); returns an error or nothing.
std::optional<QString> Apply(Options& o, const QString& name, const QString& value) {
    if (name == "--help" || name == "-h") {
        o.help = true;
    } else if (name == "--port") {
        bool ok = false;
        const int n = value.toInt(&ok, 10);
        if (!ok || n < 1 || n > 255) return Fmt(txt::BadPortNumber, value);
        o.port = {PortChoice::Kind::Number, n, {}};
    } else if (name == "--device") {
        if (value.isEmpty()) return Fmt(txt::MissingValue, name);
        o.port = {PortChoice::Kind::Path, 0, value};
    } else if (name == "--json") {
        o.json = true;
    } else if (name == "--out") {
        o.out = value;
    } else if (name == "--csv") {
        o.csv = value;
    } else if (name == "--csv-dir") {
        o.csvDir = value;
    } else if (name == "--textfile") {
        o.textfile = value;
    } else if (name == "--mqtt") {
        if (!ParseBroker(value, o.broker)) return Fmt(txt::BadBroker, value);
        o.mqtt = true;
    } else if (name == "--topic") {
        if (value.isEmpty() || value.contains('+') || value.contains('#')) return Fmt(txt::BadTopic, value);
        o.topic = value;
    } else if (name == "--no-clock") {
        o.keepClock = false;
    }
    return std::nullopt;
}

}  // namespace

bool ParseBroker(const QString& text, Broker& broker) {
    QString host = text;
    QString port;
    if (host.startsWith('[')) {  // [v6]:port
        const int close = host.indexOf(']');
        if (close < 0) return false;
        const QString rest = host.mid(close + 1);
        host = host.mid(1, close - 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':')) return false;
            port = rest.mid(1);
            if (port.isEmpty()) return false;
        }
    } else if (host.count(':') == 1) {
        port = host.section(':', 1);
        host = host.section(':', 0, 0);
        if (port.isEmpty()) return false;
    } else if (host.count(':') > 1) {
        return false;  // a bare IPv6 address needs brackets
    }
    if (host.isEmpty() || host.contains(QLatin1Char(' '))) return false;
    int n = 1883;
    if (!port.isEmpty()) {
        bool ok = false;
        n = port.toInt(&ok, 10);
        if (!ok || n < 1 || n > 65535) return false;
    }
    broker = {host, n};
    return true;
}

ParseResult ParseCommandLine(const QStringList& args) {
    ParseResult r;
    Options& o = r.options;
    if (args.isEmpty()) {
        r.error = T(txt::NoCommand);
        return r;
    }
    if (args.front() == "--help" || args.front() == "-h" || args.front() == "help") {
        o.help = true;
        return r;
    }
    const CommandSpec* command = FindCommand(args.front());
    if (command == nullptr) {
        r.error = Fmt(txt::UnknownCommand, args.front());
        return r;
    }
    o.command = command->command;

    QStringList seen;
    for (int i = 1; i < args.size(); ++i) {
        QString name = args[i];
        QString value;
        bool inlineValue = false;
        if (name.startsWith("--") && name.contains('=')) {
            value = name.section('=', 1);
            name = name.section('=', 0, 0);
            inlineValue = true;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& s : kOptions)
            if (name == QLatin1String(s.name)) spec = &s;
        if (spec == nullptr || !spec->allowed(o.command)) {
            r.error = name.startsWith('-') ? Fmt(txt::UnknownOption, name, QLatin1String(command->name))
                                           : Fmt(txt::UnexpectedArgument, name);
            return r;
        }
        if (spec->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                r.error = Fmt(txt::MissingValue, name);
                return r;
            }
            value = args[++i];
        } else if (!spec->takesValue && inlineValue) {
            r.error = Fmt(txt::UnexpectedValue, name);
            return r;
        }
        const bool portOption = name == "--port" || name == "--device";
        if (portOption && o.port.kind != PortChoice::Kind::Search) {
            r.error = seen.contains(name) ? Fmt(txt::RepeatedOption, name) : T(txt::PortAndDevice);
            return r;
        }
        if (seen.contains(name) && spec->takesValue) {  // a flag may be repeated harmlessly
            r.error = Fmt(txt::RepeatedOption, name);
            return r;
        }
        seen.append(name);
        if (spec->takesValue && value.isEmpty()) {
            r.error = Fmt(txt::MissingValue, name);
            return r;
        }
        if (auto error = Apply(o, name, value)) {
            r.error = *error;
            return r;
        }
    }
    if (o.help) return r;
    if (o.command == Command::Archive && o.out.isEmpty()) r.error = T(txt::OutRequired);
    if (o.command == Command::Archive && !o.csv.isEmpty() &&
        QFileInfo(o.out).absoluteFilePath() == QFileInfo(o.csv).absoluteFilePath())
        r.error = T(txt::SameFile);
    if (o.command == Command::Log) {
        if (!o.topic.isEmpty() && !o.mqtt) r.error = T(txt::TopicWithoutMqtt);
        else if (o.csvDir.isEmpty() && o.textfile.isEmpty() && !o.mqtt) r.error = T(txt::LogNeedsOutput);
    }
    return r;
}

QString UsageText(Command command) {
    const CommandSpec* spec = SpecOf(command);
    if (spec == nullptr) return T(txt::Usage);
    QString text = T(*spec->help);
    text += spec->portChoice ? T(txt::PortOptions) : T(txt::PortOptions).section('\n', 2);
    return text;
}

QString PortChoiceName(const PortChoice& choice) {
    switch (choice.kind) {
        case PortChoice::Kind::Number: return QStringLiteral("COM%1").arg(choice.number);
        case PortChoice::Kind::Path: {
            QString name = QFileInfo(choice.path).fileName();
            name.replace('+', '_').replace('#', '_');
            return name.isEmpty() ? QStringLiteral("device") : name;
        }
        case PortChoice::Kind::Search: break;
    }
    return QStringLiteral("auto");
}

QString DefaultTopic(const PortChoice& choice) { return QStringLiteral("veresk/") + PortChoiceName(choice); }

}  // namespace veresk::cli
