#include "link/port.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QSerialPort>
#include <QStandardPaths>

namespace veresk {

namespace {

class QtSerialPort final : public SerialPort {
public:
    explicit QtSerialPort(std::unique_ptr<QSerialPort> port) : port_(std::move(port)) {}
    ~QtSerialPort() override { port_->close(); }

    void Purge() override { port_->clear(QSerialPort::AllDirections); }

    uint32_t Write(const uint8_t* bytes, uint32_t count) override {
        const qint64 n = port_->write(reinterpret_cast<const char*>(bytes), count);
        if (n < 0) return 0;
        // The device expects each piece on the line before the next: wait until the
        // driver has taken it all (write time-out 500 ms).
        QDeadlineTimer deadline(500);
        while (port_->bytesToWrite() > 0 && !deadline.hasExpired()) {
            if (!port_->waitForBytesWritten(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
                break;
        }
        return static_cast<uint32_t>(n - port_->bytesToWrite());
    }

    uint32_t Read(uint8_t* into, uint32_t count, int totalTimeoutMs) override {
        uint32_t got = 0;
        QDeadlineTimer deadline(totalTimeoutMs);
        while (got < count) {
            if (port_->bytesAvailable() == 0) {
                const qint64 left = deadline.remainingTime();
                if (left <= 0) break;
                if (!port_->waitForReadyRead(static_cast<int>(left))) {
                    if (port_->bytesAvailable() == 0) break;
                }
            }
            const qint64 n = port_->read(reinterpret_cast<char*>(into + got), count - got);
            if (n < 0) break;
            got += static_cast<uint32_t>(n);
        }
        return got;
    }

private:
    std::unique_ptr<QSerialPort> port_;
};

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

std::unique_ptr<SerialPort> OpenSystemPortAt(const QString& path) {
    if (path.isEmpty()) return nullptr;
#ifndef Q_OS_WIN
    // A missing device must fail at once, without the serial layer's probing.
    if (!QFileInfo::exists(path)) return nullptr;
#endif
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    if (!port->open(QIODevice::ReadWrite)) return nullptr;
    // Line settings: 57600 8N1; flow control stays as the driver has it.
    if (!port->setBaudRate(57600) || !port->setDataBits(QSerialPort::Data8) ||
        !port->setParity(QSerialPort::NoParity) || !port->setStopBits(QSerialPort::OneStop)) {
        port->close();
        return nullptr;
    }
    return std::make_unique<QtSerialPort>(std::move(port));
}

PortOpener& CurrentPortOpener() {
    PortOpener& slot = OpenerSlot();
    if (!slot) slot = [](int n) { return OpenSystemPort(n); };
    return slot;
}

void SetPortOpener(PortOpener opener) { OpenerSlot() = std::move(opener); }

}  // namespace veresk
