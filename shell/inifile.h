#pragma once
// A Windows-style initialisation file: [Section] lines and Key=Value lines.  Reading
// takes integers (decimal, or hexadecimal with "0x" or "$"); writing replaces or adds
// keys and keeps every other line of the file byte for byte.  Each write reaches the
// disk as a whole: a new copy with all its keys is written beside the file and renamed
// over it, so a failure or a kill part-way leaves the old content.
#include <QString>
#include <stdexcept>
#include <vector>

namespace veresk {

class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const QString& path);
    QString path;
};

// One key to write: its section, name and value.
struct IniEntry {
    QString section;
    QString key;
    QString value;
};

class IniFile {
public:
    explicit IniFile(QString path) : path_(std::move(path)) {}
    const QString& Path() const { return path_; }

    // The key's value as a signed 32-bit integer, or `def` when the file, the section or
    // the key is missing or the value does not parse.  Section and key names are
    // matched without regard to case, as Windows does.
    int ReadInteger(const QString& section, const QString& key, int def) const;
    // Sets the key to `value` (creating file, section and key as needed).  Throws
    // IniWriteError ("Unable to write to <path>") when the file cannot be written.
    void WriteString(const QString& section, const QString& key, const QString& value);
    // Sets all the keys, in order, in one replacement of the file: afterwards it holds
    // either all of them or, after a failure, its old content.  Throws IniWriteError.
    void WriteEntries(const std::vector<IniEntry>& entries);

private:
    QString path_;
};

// The application's settings, in prog.ini in the working directory.
struct StoredSettings {
    int UiLanguage = 0;     // 1 Russian, 2 English, 0 not chosen yet
    int Transparency = 40;  // opacity of compact window 1
    int ViewMode = 0;       // 0 main window, 1 compact 1, 2 compact 2
    int LiveLog = 0;        // the live log: 0 off, anything else on (stored as 0 or 1)
};

extern StoredSettings Settings;
void ResetSettingsState();

QString SettingsFilePath();  // working directory + prog.ini
// Reads Language, Transparent, Mode and LiveLog (in that order) into Settings.
void LoadSettings();
// Writes Language, Transparent (the slider's position), Mode and LiveLog, in that order and in
// one replacement of the file; throws IniWriteError on failure (the file then keeps
// its old content).
void StoreSettings(int trackBarPosition);

}  // namespace veresk
