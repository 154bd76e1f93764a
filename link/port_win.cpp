// The serial port on Windows, over QSerialPort (CreateFile with share mode 0: a port
// that another program holds does not open).
#include "link/port.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <algorithm>

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

}  // namespace

std::unique_ptr<SerialPort> OpenSystemPortAt(const QString& path) {
    if (path.isEmpty()) return nullptr;
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

}  // namespace veresk
