#include "shell/datafolder.h"

#include <QStandardPaths>

namespace veresk {

namespace {
QString& Override() {
    static QString folder;
    return folder;
}
}  // namespace

QString DataFolder() {
    if (!Override().isEmpty()) return Override();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/veresk");
}

void SetDataFolder(const QString& folder) { Override() = folder; }

QString ArchivesFolder() { return DataFolder() + QStringLiteral("/archives"); }
QString LiveLogFolder() { return DataFolder() + QStringLiteral("/log"); }

}  // namespace veresk
