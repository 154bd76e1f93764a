#pragma once
// The windows' side of the program's data files: the file dialogs of the archive tab's
// "Открыть…" and "Экспорт…" buttons, behind one replaceable seam so that tests can
// answer them without a modal dialog.
#include <QString>
#include <functional>

namespace veresk {

enum class FileDialogKind {
    OpenArchive,  // choose an existing archive image
    ExportCsv,    // choose where the CSV goes
};

// Shows the dialog starting at `startPath` (a folder, or for a save a suggested file
// path) and returns the chosen path, or an empty string when the user cancelled.
using FileDialogSeam = std::function<QString(FileDialogKind kind, const QString& startPath)>;
QString ChooseFile(FileDialogKind kind, const QString& startPath);
// Replaces the dialogs; an empty function brings back the real ones.
void SetFileDialogSeam(FileDialogSeam seam);

// How long "Прочитано" stays before a failure to keep the downloaded image is drawn.
inline constexpr int kKeepNoticeDelayMs = 1500;

}  // namespace veresk
