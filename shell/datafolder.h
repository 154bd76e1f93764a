#pragma once
// The program's data folder: where the kept archive images (archives/) and the daily
// live-log files (log/) go.  It is the per-user application data location of the
// platform with the program's own folder name: $XDG_DATA_HOME/veresk, or
// ~/.local/share/veresk when XDG_DATA_HOME is unset, on Linux.  Tests may put another
// folder in its place.
#include <QString>

namespace veresk {

QString DataFolder();
// Replaces the folder; an empty string brings back the platform's own.
void SetDataFolder(const QString& folder);

QString ArchivesFolder();  // DataFolder() + "/archives"
QString LiveLogFolder();   // DataFolder() + "/log"

}  // namespace veresk
