#include "shell/savefile.h"

#include <QSaveFile>

namespace veresk {

QString SaveWhole(const QString& path, const QByteArray& data) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return out.errorString();
    // Flush by hand: commit() does not notice a flush that runs out of room at the end
    // and would then rename a truncated copy over the file.
    if (out.write(data) != data.size() || !out.flush() || out.error() != QFileDevice::NoError) {
        const QString why = out.errorString();
        out.cancelWriting();
        return why;
    }
    if (!out.commit()) return out.errorString();
    return QString();
}

}  // namespace veresk
