#include "shell/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <optional>
#include <vector>

#include "shell/savefile.h"

namespace veresk {

StoredSettings Settings;

void ResetSettingsState() { Settings = StoredSettings{}; }

IniWriteError::IniWriteError(const QString& path)
    : std::runtime_error(("Unable to write to " + QDir::toNativeSeparators(path)).toStdString()),
      path(path) {}

namespace {

// One line of the file as offsets into its bytes.  The line ending ("\n" or "\r\n")
// lies between contentEnd and end; the last line of a file may have none.
struct Line {
    qsizetype begin = 0;
    qsizetype contentEnd = 0;
    qsizetype end = 0;
    bool HasEnding() const { return end > contentEnd; }
};

std::vector<Line> SplitLines(const QByteArray& data) {
    std::vector<Line> lines;
    qsizetype pos = 0;
    while (pos < data.size()) {
        Line line;
        line.begin = pos;
        const qsizetype nl = data.indexOf('\n', pos);
        if (nl < 0) {
            line.contentEnd = line.end = data.size();
        } else {
            line.end = nl + 1;
            line.contentEnd = (nl > pos && data[nl - 1] == '\r') ? nl - 1 : nl;
        }
        lines.push_back(line);
        pos = line.end;
    }
    // A UTF-8 byte order mark is not part of the first line's text.
    if (!lines.empty() && data.startsWith("\xEF\xBB\xBF"))
        lines.front().begin = std::min<qsizetype>(3, lines.front().contentEnd);
    return lines;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

QByteArray Trimmed(const QByteArray& data, qsizetype from, qsizetype to) {
    while (from < to && IsBlank(data[from])) ++from;
    while (to > from && IsBlank(data[to - 1])) --to;
    return data.mid(from, to - from);
}

bool SameName(const QByteArray& inFile, const QString& wanted) {
    return QString::fromUtf8(inFile).compare(wanted, Qt::CaseInsensitive) == 0;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    QByteArray name;            // section or key name, trimmed
    qsizetype valueBegin = 0;   // the trimmed value, as offsets into the file's bytes
    qsizetype valueEnd = 0;
};

ParsedLine ParseLine(const QByteArray& data, const Line& line) {
    ParsedLine parsed;
    qsizetype p = line.begin;
    while (p < line.contentEnd && IsBlank(data[p])) ++p;
    if (p == line.contentEnd || data[p] == ';' || data[p] == '#') return parsed;
    if (data[p] == '[') {
        qsizetype close = line.contentEnd;
        while (close > p + 1 && data[close - 1] != ']') --close;
        const qsizetype nameEnd = (close > p + 1) ? close - 1 : line.contentEnd;
        parsed.kind = LineKind::Section;
        parsed.name = Trimmed(data, p + 1, nameEnd);
        return parsed;
    }
    qsizetype eq = p;
    while (eq < line.contentEnd && data[eq] != '=') ++eq;
    if (eq == line.contentEnd) return parsed;
    parsed.kind = LineKind::Key;
    parsed.name = Trimmed(data, p, eq);
    qsizetype vb = eq + 1;
    qsizetype ve = line.contentEnd;
    while (vb < ve && IsBlank(data[vb])) ++vb;
    while (ve > vb && IsBlank(data[ve - 1])) --ve;
    parsed.valueBegin = vb;
    parsed.valueEnd = ve;
    return parsed;
}

// Where a key of a section stands in the file.  Like Windows, only the first section
// of a given name counts, and within it the first line of the key.
struct KeyLocation {
    bool sectionFound = false;
    bool keyFound = false;
    size_t lastLineOfSection = 0;   // the section's last key line, or its header
    qsizetype valueBegin = 0;
    qsizetype valueEnd = 0;
};

KeyLocation Locate(const QByteArray& data, const std::vector<Line>& lines, const QString& section,
                   const QString& key) {
    KeyLocation where;
    for (size_t i = 0; i < lines.size(); ++i) {
        const ParsedLine parsed = ParseLine(data, lines[i]);
        if (!where.sectionFound) {
            if (parsed.kind == LineKind::Section && SameName(parsed.name, section)) {
                where.sectionFound = true;
                where.lastLineOfSection = i;
            }
            continue;
        }
        if (parsed.kind == LineKind::Section) break;
        if (parsed.kind != LineKind::Key) continue;
        where.lastLineOfSection = i;
        if (SameName(parsed.name, key)) {
            where.keyFound = true;
            where.valueBegin = parsed.valueBegin;
            where.valueEnd = parsed.valueEnd;
            break;
        }
    }
    return where;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decimal with an optional sign, or hexadecimal after "0x", "0X" or "$".  A
// hexadecimal value may use all 32 bits and is then taken as their signed pattern.
std::optional<int32_t> ParseInt32(const QByteArray& text) {
    qsizetype i = 0;
    int base = 10;
    bool negative = false;
    if (text.startsWith('$')) {
        base = 16;
        i = 1;
    } else if (text.startsWith("0x") || text.startsWith("0X")) {
        base = 16;
        i = 2;
    } else if (text.startsWith('+') || text.startsWith('-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size()) return std::nullopt;
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigit(text[i]);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > limit) return std::nullopt;
    }
    if (base == 16) return static_cast<int32_t>(static_cast<uint32_t>(value));
    return static_cast<int32_t>(negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value));
}

// The line ending new lines get: the file's own (that of its first line), or CRLF for
// a file that has none yet.
QByteArray LineEnding(const QByteArray& data) {
    const qsizetype nl = data.indexOf('\n');
    if (nl < 0) return QByteArrayLiteral("\r\n");
    return (nl > 0 && data[nl - 1] == '\r') ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

}  // namespace

int IniFile::ReadInteger(const QString& section, const QString& key, int def) const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return def;
    const QByteArray data = file.readAll();
    const KeyLocation where = Locate(data, SplitLines(data), section, key);
    if (!where.keyFound) return def;
    const std::optional<int32_t> value =
        ParseInt32(data.mid(where.valueBegin, where.valueEnd - where.valueBegin));
    return value ? *value : def;
}

namespace {

// Sets one key in the file's bytes (adding the section or the key when missing).
void SetKey(QByteArray& data, const QString& section, const QString& key, const QString& value) {
    const std::vector<Line> lines = SplitLines(data);
    const KeyLocation where = Locate(data, lines, section, key);
    const QByteArray eol = LineEnding(data);
    const QByteArray entry = key.toUtf8() + '=' + value.toUtf8();

    if (where.keyFound) {
        data.replace(where.valueBegin, where.valueEnd - where.valueBegin, value.toUtf8());
    } else if (where.sectionFound) {
        // After the section's last key.  A last line without an ending gets one, and the
        // new line is then left without one, so the file keeps its missing final newline.
        const Line& after = lines[where.lastLineOfSection];
        data.insert(after.end, after.HasEnding() ? entry + eol : eol + entry);
    } else {
        const QByteArray block = '[' + section.toUtf8() + ']' + eol + entry;
        if (data.isEmpty() || data.endsWith('\n'))
            data += block + eol;
        else
            data += eol + block;
    }
}

#ifdef Q_OS_WIN
// Replaces the file as a whole: a new copy beside it, renamed over it once complete.
void ReplaceWhole(const QString& path, const QByteArray& data) {
    if (!SaveWhole(path, data).isEmpty()) throw IniWriteError(path);
}
#else
// The new copy is written beside the file as "<name>.<PID>.tmp" and renamed over it
// once it is complete and on the disk.  Every failure removes it.  A writer that was
// killed cannot, so the next start or write removes the copies of writers that no
// longer run.
QByteArray CopyName(const QByteArray& path, long pid) { return path + '.' + QByteArray::number(pid) + ".tmp"; }

bool Running(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

void RemoveLeftoverCopies(const QString& path) {
    const QFileInfo info(path);
    const QRegularExpression copy(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(info.fileName()) + QStringLiteral("\\.([0-9]+)\\.tmp")));
    QDir folder = info.absoluteDir();
    const QStringList names =
        folder.entryList({info.fileName() + QStringLiteral(".*.tmp")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        const QRegularExpressionMatch m = copy.match(name);
        if (!m.hasMatch()) continue;
        const long pid = m.captured(1).toLong();
        if (pid != ::getpid() && Running(pid)) continue;  // another program writing now
        folder.remove(name);
    }
}

bool WriteAll(int fd, const QByteArray& data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n > 0) done += n;
        else if (n < 0 && errno == EINTR) continue;
        else return false;  // out of room, or an error
    }
    return true;
}

// Writes the complete copy and gives it the name `copy`.  Where the system has files
// without a name, the copy is made as one and named only when complete, so a writer
// killed part-way leaves nothing behind.
bool WriteCopy(const QByteArray& folder, const QByteArray& copy, const QByteArray& data, const struct stat* old,
               bool unnamed) {
    int fd = -1;
#ifdef O_TMPFILE
    if (unnamed) fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#endif
    if (fd < 0 && unnamed) return false;
    if (!unnamed) fd = ::open(copy.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return false;
    if (old) ::fchmod(fd, old->st_mode & 07777);  // the file keeps its permissions
    bool ok = WriteAll(fd, data) && ::fsync(fd) == 0;
    if (ok && unnamed) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        ok = ::linkat(AT_FDCWD, self.constData(), AT_FDCWD, copy.constData(), AT_SYMLINK_FOLLOW) == 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(copy.constData());
    return ok;
}

void ReplaceWhole(const QString& path, const QByteArray& data) {
    // A link is followed: the file it names is replaced, the link stays.
    const QFileInfo info(path);
    const QString real = info.isSymLink() ? info.symLinkTarget() : path;
    RemoveLeftoverCopies(real);
    const QByteArray target = QFile::encodeName(real);
    const QByteArray folder = QFile::encodeName(QFileInfo(real).absolutePath());
    const QByteArray copy = CopyName(target, ::getpid());
    struct stat old {};
    const struct stat* existing = ::stat(target.constData(), &old) == 0 ? &old : nullptr;
    const bool written = WriteCopy(folder, copy, data, existing, true) || WriteCopy(folder, copy, data, existing, false);
    if (!written || ::rename(copy.constData(), target.constData()) != 0) {
        ::unlink(copy.constData());
        throw IniWriteError(path);
    }
}
#endif

}  // namespace

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    WriteEntries({{section, key, value}});
}

void IniFile::WriteEntries(const std::vector<IniEntry>& entries) {
    QByteArray data;
    if (QFile::exists(path_)) {
        // A file that is there but cannot be read must not be replaced by a fresh one.
        QFile file(path_);
        if (!file.open(QIODevice::ReadOnly)) throw IniWriteError(path_);
        data = file.readAll();
        if (file.error() != QFileDevice::NoError) throw IniWriteError(path_);
    }
    for (const IniEntry& e : entries) SetKey(data, e.section, e.key, e.value);

    // One replacement for all the keys: a kill or a failure leaves the old file or the
    // new one, never a mix.
    ReplaceWhole(path_, data);
}

QString SettingsFilePath() { return QDir::currentPath() + QStringLiteral("/prog.ini"); }

void LoadSettings() {
#ifndef Q_OS_WIN
    RemoveLeftoverCopies(SettingsFilePath());
#endif
    const IniFile ini(SettingsFilePath());
    Settings.UiLanguage = ini.ReadInteger(QStringLiteral("Common"), QStringLiteral("Language"), 0);
    Settings.Transparency = ini.ReadInteger(QStringLiteral("Common"), QStringLiteral("Transparent"), 40);
    Settings.ViewMode = ini.ReadInteger(QStringLiteral("Common"), QStringLiteral("Mode"), 0);
    Settings.LiveLog = ini.ReadInteger(QStringLiteral("Common"), QStringLiteral("LiveLog"), 0);
}

void StoreSettings(int trackBarPosition) {
    const QString common = QStringLiteral("Common");
    const std::vector<IniEntry> entries = {
        {common, QStringLiteral("Language"), QString::number(Settings.UiLanguage)},
        {common, QStringLiteral("Transparent"), QString::number(trackBarPosition)},
        {common, QStringLiteral("Mode"), QString::number(Settings.ViewMode)},
        {common, QStringLiteral("LiveLog"), QString::number(Settings.LiveLog != 0 ? 1 : 0)},
    };
    IniFile(SettingsFilePath()).WriteEntries(entries);
}

}  // namespace veresk
