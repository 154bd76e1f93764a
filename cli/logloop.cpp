#include "cli/logloop.h"

#include <QDir>
#include <thread>

#include "cli/mqtt.h"
#include "cli/station.h"
#include "cli/texts.h"
#include "link/link.h"
#include "monitor/clock.h"
#include "monitor/polling.h"
#include "shell/savefile.h"

namespace veresk::cli {

// ---------------------------------------------------------------- sinks

QString TextfileSink::Write(const QByteArray& page) { return SaveWhole(path_, page); }

QString TextfileSink::Reading(const cli::Reading& r) {
    last_ = r.pcTime;
    return Write(PrometheusText(label_, &r, last_));
}

QString TextfileSink::LinkDown() { return Write(PrometheusText(label_, nullptr, last_)); }

QString CsvSink::Reading(const cli::Reading& r) {
    if (writer_.Append(r.values, r.pcTime)) return {};
    return T(txt::WriteFailed).arg(LiveLogFileName(r.pcTime));
}

QString CsvSink::LinkDown() { return QDir().mkpath(writer_.Folder()) ? QString() : T(txt::FolderError); }

QString MqttSink::Reading(const cli::Reading& r) {
    publisher_.PublishState(true);
    publisher_.PublishReading(ReadingJson(r));
    return {};
}

QString MqttSink::LinkDown() {
    publisher_.PublishState(false);
    return {};
}

void MqttSink::Service() { publisher_.Service(); }

void MqttSink::Stop() { publisher_.Stop(); }

// ---------------------------------------------------------------- the loop

LogLoop::LogLoop(PortChoice port, bool keepClock, std::vector<std::unique_ptr<LogSink>> sinks, Reporter report)
    : port_(std::move(port)), keepClock_(keepClock), sinks_(std::move(sinks)), failing_(sinks_.size(), false),
      report_(std::move(report)) {}

void LogLoop::Deliver(const std::function<QString(LogSink&)>& call) {
    for (size_t i = 0; i < sinks_.size(); ++i) {
        const QString error = call(*sinks_[i]);
        if (!error.isEmpty() && !failing_[i]) report_(T(txt::SinkFailed).arg(sinks_[i]->Name(), error));
        if (error.isEmpty() && failing_[i]) report_(T(txt::SinkRecovered).arg(sinks_[i]->Name()));
        failing_[i] = !error.isEmpty();
    }
}

QString LogLoop::Begin() {
    for (auto& s : sinks_) {
        const QString error = s->LinkDown();
        if (!error.isEmpty()) return T(txt::FileError).arg(s->Name(), error);
    }
    if (port_.kind != PortChoice::Kind::Search) Connect(port_);
    return {};
}

void LogLoop::End() {
    report_(T(txt::Stopping));
    for (auto& s : sinks_) s->Stop();
}

void LogLoop::Up() {
    searchReported_ = false;
    if (linkUp_) return;
    linkUp_ = true;
    downReported_ = false;
    report_(T(txt::LinkUp).arg(CurrentPortName(port_)));
}

void LogLoop::Down(const QString& reason) {
    if (port_.kind == PortChoice::Kind::Search) {
        // The device may come back on another port: search again from the next tick.
        Link.DevicePort = 0;
        CloseDevicePort();
        nextSearch_ = Clock::now();
    }
    if (linkUp_ || !downReported_) {
        report_(T(txt::LinkDown).arg(reason));
        Deliver([](LogSink& s) { return s.LinkDown(); });
    }
    linkUp_ = false;
    downReported_ = true;
}

void LogLoop::Tick() {
    for (auto& s : sinks_) s->Service();
    if (port_.kind == PortChoice::Kind::Search && Link.DevicePort == 0) {
        if (Clock::now() < nextSearch_) return;
        ScanAndSearch();
        if (Link.DevicePort == 0) {
            nextSearch_ = Clock::now() + std::chrono::seconds(kSearchIntervalSeconds);
            if (!searchReported_) {
                report_(T(txt::Searching).arg(kSearchIntervalSeconds));
                searchReported_ = true;
                if (!downReported_) {
                    downReported_ = true;
                    Deliver([](LogSink& s) { return s.LinkDown(); });
                }
            }
            return;
        }
        report_(T(txt::DeviceOn).arg(CurrentPortName(port_)));
        Link.LinkErrorCount = 0;
    }
    const PollResult r = PollDevice(keepClock_);
    const QString port = CurrentPortName(port_);
    switch (r.outcome) {
        case PollOutcome::Good: {
            Up();
            const cli::Reading reading{Polling.LiveStatus, PcNow(), port};
            // Said once a run: the device clock is not kept while the PC's year is one
            // it cannot hold.
            const bool unwritable = keepClock_ && !PcClockWritable(reading.pcTime);
            if (unwritable && !pcClockReported_)
                report_(T(txt::PcClockUnwritable).arg(QString::fromLatin1(LocalIsoTime(reading.pcTime))));
            pcClockReported_ = unwritable;
            Deliver([&reading](LogSink& s) { return s.Reading(reading); });
            return;
        }
        case PollOutcome::ClockSet: {
            Up();
            const auto off = ClockOffset({Polling.LiveStatus, PcNow(), port});
            report_(off ? T(txt::ClockCorrected).arg(*off) : T(txt::ClockCorrectedInvalid));
            return;
        }
        case PollOutcome::OpenFailed: Down(T(txt::CannotOpen).arg(port)); return;
        case PollOutcome::WrongLength:
            if (r.showNoLink) Down(T(txt::NoAnswer).arg(port));
            return;
        case PollOutcome::CrcFailure:
            if (r.showNoLink) Down(T(txt::CrcFailure).arg(port));
            return;
    }
}

void RunLogLoop(LogLoop& loop, const std::function<bool()>& stopRequested) {
    using namespace std::chrono;
    auto next = steady_clock::now();
    while (!stopRequested()) {
        loop.Tick();
        next += seconds(1);
        const auto now = steady_clock::now();
        if (next < now) next = now;  // an overlong tick: the next one comes at once
        while (!stopRequested() && steady_clock::now() < next)
            std::this_thread::sleep_for(std::min<steady_clock::duration>(milliseconds(50), next - steady_clock::now()));
    }
    loop.End();
}

}  // namespace veresk::cli
