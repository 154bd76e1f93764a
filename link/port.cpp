#include "link/port.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace veresk {

namespace {

PortOpener& OpenerSlot() {
    static PortOpener opener;
    return opener;
}

}  // namespace

QString PortMapFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/veresk/ports");
}

QString ResolveComPort(int n) {
    if (n < 1 || n > 255) return {};
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(n);
#else
    const QString folder = PortMapFolder();
    if (QFileInfo(folder).isDir()) {
        const QString entry = folder + QStringLiteral("/COM%1").arg(n);
        // A symlink counts even before its target is checked: opening decides.
        const QFileInfo info(entry);
        return (info.exists() || info.isSymLink()) ? entry : QString();
    }
    if (n <= 32) return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    if (n <= 64) return QStringLiteral("/dev/ttyUSB%1").arg(n - 33);
    if (n <= 96) return QStringLiteral("/dev/ttyACM%1").arg(n - 65);
    return {};
#endif
}

std::unique_ptr<SerialPort> OpenSystemPort(int comNumber) { return OpenSystemPortAt(ResolveComPort(comNumber)); }

PortOpener& CurrentPortOpener() {
    PortOpener& slot = OpenerSlot();
    if (!slot) slot = [](int n) { return OpenSystemPort(n); };
    return slot;
}

void SetPortOpener(PortOpener opener) { OpenerSlot() = std::move(opener); }

}  // namespace veresk
