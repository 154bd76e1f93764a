#pragma once
// The log command: the polling tick once a second, without windows.  Each tick calls
// PollDevice (the program's own open, read, judge, count, decode and clock rule) and
// hands every good reading to the sinks (CSV files, the Prometheus textfile, MQTT).
// When the failure limits are passed or the port is gone the link is reported down
// once (stderr and every sink); a log that found its port by the search then searches
// again every few seconds, one with a named port keeps polling it.  The device never
// makes the log stop.
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cli/formats.h"
#include "cli/options.h"
#include "monitor/livelog.h"

namespace veresk::cli {

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual QString Name() const = 0;
    // Each returns an empty string on success, otherwise what went wrong.
    virtual QString Reading(const cli::Reading& r) = 0;
    virtual QString LinkDown() = 0;
    virtual void Service() {}  // once a tick, whatever the device does
    virtual void Stop() {}
};

// The Prometheus page in one file, replaced atomically (a temporary file in the same
// folder, then a rename) so node_exporter never reads half of it.
class TextfileSink final : public LogSink {
public:
    TextfileSink(QString path, QString portLabel) : path_(std::move(path)), label_(std::move(portLabel)) {}
    QString Name() const override { return path_; }
    QString Reading(const cli::Reading& r) override;
    QString LinkDown() override;
    void Stop() override { LinkDown(); }

private:
    QString Write(const QByteArray& page);
    QString path_, label_;
    std::optional<std::time_t> last_;
};

// The daily CSV files of the live log, through the program's own writer.
class CsvSink final : public LogSink {
public:
    explicit CsvSink(const QString& folder) : writer_(folder) {}
    QString Name() const override { return writer_.Folder(); }
    QString Reading(const cli::Reading& r) override;
    QString LinkDown() override;  // only makes sure the folder is there

private:
    LiveLogWriter writer_;
};

class MqttPublisher;
class MqttSink final : public LogSink {
public:
    explicit MqttSink(MqttPublisher& publisher) : publisher_(publisher) {}
    QString Name() const override { return QStringLiteral("MQTT"); }
    QString Reading(const cli::Reading& r) override;
    QString LinkDown() override;
    void Service() override;
    void Stop() override;

private:
    MqttPublisher& publisher_;
};

using Reporter = std::function<void(const QString&)>;

class LogLoop {
public:
    LogLoop(PortChoice port, bool keepClock, std::vector<std::unique_ptr<LogSink>> sinks, Reporter report);
    // Tells every sink the link is down (nothing read yet) and takes a named port; the
    // first sink error, if any, comes back (the log should not start then).
    QString Begin();
    // One second's work.
    void Tick();
    // Tells every sink the log ends.
    void End();
    bool LinkUp() const { return linkUp_; }

private:
    void Up();
    void Down(const QString& reason);
    void Deliver(const std::function<QString(LogSink&)>& call);

    using Clock = std::chrono::steady_clock;
    PortChoice port_;
    bool keepClock_;
    std::vector<std::unique_ptr<LogSink>> sinks_;
    std::vector<bool> failing_;
    Reporter report_;
    bool linkUp_ = false;
    bool downReported_ = false;
    bool searchReported_ = false;
    bool pcClockReported_ = false;
    Clock::time_point nextSearch_{};
};

// Runs `loop` once a second until stopRequested() turns true (after Begin).
void RunLogLoop(LogLoop& loop, const std::function<bool()>& stopRequested);

}  // namespace veresk::cli
