#pragma once
// Replacing a file as a whole: the new content goes to a copy beside the file, which is
// renamed over it only once complete, so a reader (or a crash) sees the old file or the
// new one, never a part.
#include <QByteArray>
#include <QString>

namespace veresk {

// Writes `data` to `path` that way.  Returns an empty string on success, otherwise what
// went wrong; the old file is then left as it was and no copy stays behind.
QString SaveWhole(const QString& path, const QByteArray& data);

}  // namespace veresk
