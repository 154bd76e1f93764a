#include "cli/commands.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <memory>

#include "archive/archive.h"
#include "archive/export.h"
#include "cli/formats.h"
#include "cli/logloop.h"
#include "cli/mqtt.h"
#include "cli/station.h"
#include "cli/texts.h"
#include "link/link.h"
#include "monitor/clock.h"
#include "monitor/livelog.h"
#include "monitor/polling.h"
#include "settings/parameters.h"

namespace veresk::cli {

namespace {

class Runner {
public:
    Runner(const Options& o, QTextStream& out, QTextStream& err) : o_(o), out_(out), err_(err) {}

    int Fail(const Verdict& v) {
        Error(v.message);
        return static_cast<int>(v.code);
    }
    void Error(const QString& message) {
        err_ << "veresk-cli: " << message << '\n';
        err_.flush();
    }
    int FileFail(const QString& path, const QString& why) {
        Error(T(txt::FileError).arg(path, why));
        return static_cast<int>(ExitCode::FileError);
    }

    int Ports() {
        const auto ports = ScanAndSearch();
        bool found = false;
        for (const ScannedPort& p : ports) {
            out_ << "COM" << p.number << '\t' << p.path;
            if (p.device) out_ << '\t' << T(txt::Device);
            out_ << '\n';
            found |= p.device;
        }
        out_.flush();
        if (found) return 0;
        return Fail({ExitCode::NoDevice, T(ports.empty() ? txt::NoPortOpens : txt::NoDeviceFound)});
    }

    int Status() {
        if (Verdict v = Connect(o_.port); !v.ok()) return Fail(v);
        Reading reading;
        if (Verdict v = ReadStatus(o_.port, reading); !v.ok()) return Fail(v);
        if (o_.json) out_ << ReadingJson(reading) << '\n';
        else out_ << TableText(ReadingRows(reading));
        return 0;
    }

    int Parameters() {
        if (Verdict v = Connect(o_.port); !v.ok()) return Fail(v);
        if (Verdict v = ReadParameters(o_.port); !v.ok()) return Fail(v);
        if (o_.json) out_ << ParametersJson(Params.ParameterValues) << '\n';
        else out_ << TableText(ParameterRows(Params.ParameterValues));
        return 0;
    }

    // A file can be written where a temporary file can be made beside it.
    static QString Unwritable(const QString& path) {
        QSaveFile probe(path);
        if (probe.open(QIODevice::WriteOnly)) {
            probe.cancelWriting();
            return {};
        }
        return probe.errorString();
    }

    int ArchiveDownload() {
        // The files are tried first: a download is not spent on a file that cannot be written.
        for (const QString& path : {o_.out, o_.csv}) {
            if (path.isEmpty()) continue;
            if (const QString why = Unwritable(path); !why.isEmpty()) return FileFail(path, why);
        }
        if (Verdict v = Connect(o_.port); !v.ok()) return Fail(v);
        Reading reading;  // a quick look first: a silent port fails in a fraction of a second
        if (Verdict v = ReadStatus(o_.port, reading); !v.ok()) return Fail(v);
        const Verdict noPort{ExitCode::NoDevice, T(txt::CannotOpen).arg(CurrentPortName(o_.port))};
        if (OpenDevicePort() == nullptr) return Fail(noPort);
        const DownloadOutcome outcome = DownloadArchive(nullptr);
        if (outcome == DownloadOutcome::NoPort) return Fail(noPort);
        if (outcome == DownloadOutcome::LinkFailure)
            return Fail({ExitCode::LinkFailure, T(txt::LinkFailure).arg(CurrentPortName(o_.port))});
        const ArchiveImageT& image = Archive.ArchiveImage;
        if (!SaveArchiveImage(image, o_.out)) return FileFail(o_.out, Unwritable(o_.out));
        const std::vector<ExportRow> rows = ArchiveMeasurements(image);
        if (!o_.csv.isEmpty() && !SaveArchiveCsv(rows, o_.csv)) return FileFail(o_.csv, Unwritable(o_.csv));
        int sessions = 0;  // the highest session number that holds a measurement
        for (const ExportRow& row : rows) sessions = std::max(sessions, row.session);
        out_ << T(txt::ArchiveRead).arg(sessions).arg(rows.size()).arg(o_.out) << '\n';
        return 0;
    }

    int SetClock() {
        // A PC time the device's year byte cannot hold is never sent (nor is the port
        // searched for it).
        if (const std::time_t now = PcNow(); !PcClockWritable(now))
            return Fail({ExitCode::Usage, T(txt::PcClockUnwritable).arg(QString::fromLatin1(LocalIsoTime(now)))});
        if (Verdict v = Connect(o_.port); !v.ok()) return Fail(v);
        Reading reading;
        if (Verdict v = ReadStatus(o_.port, reading); !v.ok()) return Fail(v);
        if (!SetDeviceClock()) return Fail({ExitCode::NoDevice, T(txt::CannotOpen).arg(CurrentPortName(o_.port))});
        if (Verdict v = ReadStatus(o_.port, reading); !v.ok()) return Fail(v);
        const auto off = ClockOffset(reading);
        if (!off) return Fail({ExitCode::LinkFailure, T(txt::ClockStillInvalid)});
        out_ << T(txt::ClockSetTo).arg(DeviceClockText(reading.values.DeviceClock), QString::number(*off)) << '\n';
        return 0;
    }

    int Log(const std::function<bool()>& stopRequested) {
        const Reporter report = [this](const QString& m) { Error(m); };
        std::vector<std::unique_ptr<LogSink>> sinks;
        if (!o_.csvDir.isEmpty()) sinks.push_back(std::make_unique<CsvSink>(o_.csvDir));
        if (!o_.textfile.isEmpty()) {
            sinks.push_back(std::make_unique<TextfileSink>(o_.textfile, PortChoiceName(o_.port)));
        }
        std::unique_ptr<MqttPublisher> mqtt;
        if (o_.mqtt) {
            mqtt = std::make_unique<MqttPublisher>(o_.broker, o_.topic.isEmpty() ? DefaultTopic(o_.port) : o_.topic, report);
            QString error;
            if (!mqtt->Start(&error)) {
                Error(T(txt::MqttProblem).arg(o_.broker.host, error));
                return static_cast<int>(ExitCode::Usage);
            }
            sinks.push_back(std::make_unique<MqttSink>(*mqtt));
        }
        LogLoop loop(o_.port, o_.keepClock, std::move(sinks), report);
        // An output that cannot be written at all is a file error before any polling.
        if (const QString error = loop.Begin(); !error.isEmpty()) {
            Error(error);
            return static_cast<int>(ExitCode::FileError);
        }
        RunLogLoop(loop, stopRequested);
        return 0;
    }

private:
    const Options& o_;
    QTextStream& out_;
    QTextStream& err_;
};

}  // namespace

int RunCommandLine(const QStringList& args, QTextStream& out, QTextStream& err,
                   const std::function<bool()>& stopRequested) {
    const ParseResult parsed = ParseCommandLine(args);
    const Options& o = parsed.options;
    if (!parsed.error.isEmpty()) {
        err << "veresk-cli: " << parsed.error << '\n' << UsageText(o.command);
        err.flush();
        return static_cast<int>(ExitCode::Usage);
    }
    if (o.help) {
        out << UsageText(o.command);
        out.flush();
        return 0;
    }
    Runner c(o, out, err);
    int code = 0;
    switch (o.command) {
        case cli::Command::Ports: code = c.Ports(); break;
        case cli::Command::Status: code = c.Status(); break;
        case cli::Command::Params: code = c.Parameters(); break;
        case cli::Command::Archive: code = c.ArchiveDownload(); break;
        case cli::Command::SetClock: code = c.SetClock(); break;
        case cli::Command::Log: code = c.Log(stopRequested); break;
        case cli::Command::None: break;
    }
    out.flush();
    CloseDevicePort();
    return code;
}

}  // namespace veresk::cli
