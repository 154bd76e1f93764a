#include "cli/station.h"

#include <chrono>
#include <thread>

#include "archive/archive.h"
#include "cli/texts.h"
#include "link/discovery.h"
#include "link/link.h"
#include "monitor/clock.h"
#include "monitor/polling.h"
#include "settings/parameters.h"
#include "settings/readparams.h"

namespace veresk::cli {

namespace {

class VectorList final : public PortList {
public:
    QStringList items;
    void Clear() override { items.clear(); }
    void Append(const QString& item) override { items.append(item); }
    int Count() const override { return static_cast<int>(items.size()); }
    QString Item(int index) const override { return items.value(index); }
    void Select(int) override {}
    void Progress(int) override {}
};

Verdict Fail(ExitCode code, const TextPair& text, const QString& arg = {}) {
    return {code, arg.isEmpty() ? T(text) : T(text).arg(arg)};
}

// A device may still be sending its answer to a request of an earlier command that was
// cut short (up to an archive block, 2050 bytes at 57600 baud): bytes that spoil the
// first attempts.  Once per command, after a failed attempt that got bytes, the line is
// given the time of the longest answer to fall quiet.
constexpr int kLongestAnswerMs = (kArchiveBlockSize + 2) * 10 * 1000 / 57600 + 20;

void LetTheLineFallQuiet(bool& done) {
    if (done || Link.BytesTransferred == 0) return;
    done = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(kLongestAnswerMs));
}

// A named port that never gave a single byte back holds no device; one that answered
// badly has a link failure.
Verdict BadAnswers(const PortChoice& choice, bool anyBytes, bool crc) {
    const QString port = CurrentPortName(choice);
    if (!anyBytes) return Fail(ExitCode::NoDevice, txt::NoAnswer, port);
    return Fail(ExitCode::LinkFailure, crc ? txt::CrcFailure : txt::LinkFailure, port);
}

}  // namespace

QString CurrentPortName(const PortChoice& choice) {
    if (choice.kind == PortChoice::Kind::Path) return choice.path;
    return Link.DevicePort != 0 ? QStringLiteral("COM%1").arg(Link.DevicePort) : PortChoiceName(choice);
}

std::vector<ScannedPort> ScanAndSearch() {
    VectorList list;
    ScanPorts(list);
    SearchDevice(list);
    std::vector<ScannedPort> ports;
    for (const QString& item : list.items) {
        const int n = item.toInt();
        ports.push_back({n, ResolveComPort(n), n == Link.DevicePort});
    }
    return ports;
}

Verdict Connect(const PortChoice& choice) {
    switch (choice.kind) {
        case PortChoice::Kind::Number:
            Link.DevicePort = static_cast<uint8_t>(choice.number);
            return {};
        case PortChoice::Kind::Path: {
            const QString path = choice.path;
            SetPortOpener([path](int n) { return n == kDevicePathCom ? OpenSystemPortAt(path) : nullptr; });
            Link.DevicePort = kDevicePathCom;
            return {};
        }
        case PortChoice::Kind::Search: break;
    }
    const auto ports = ScanAndSearch();
    if (Link.DevicePort != 0) return {};
    return Fail(ExitCode::NoDevice, ports.empty() ? txt::NoPortOpens : txt::NoDeviceFound);
}

Verdict ReadStatus(const PortChoice& choice, Reading& reading) {
    Link.LinkErrorCount = 0;
    bool anyBytes = false;
    bool quiet = false;
    for (;;) {
        const PollResult r = PollDevice(false);
        if (r.outcome == PollOutcome::OpenFailed) return Fail(ExitCode::NoDevice, txt::CannotOpen, CurrentPortName(choice));
        anyBytes |= Link.BytesTransferred > 0;
        if (r.outcome == PollOutcome::Good) {
            reading.values = Polling.LiveStatus;
            reading.pcTime = PcNow();
            reading.port = CurrentPortName(choice);
            return {};
        }
        if (r.showNoLink) return BadAnswers(choice, anyBytes, r.outcome == PollOutcome::CrcFailure);
        LetTheLineFallQuiet(quiet);
    }
}

Verdict ReadParameters(const PortChoice& choice) {
    Link.LinkErrorCount = 0;
    bool quiet = false;
    for (;;) {
        if (OpenDevicePort() == nullptr) return Fail(ExitCode::NoDevice, txt::CannotOpen, CurrentPortName(choice));
        switch (ReadParameterBlock()) {
            case ParamReadOutcome::Good: return {};
            case ParamReadOutcome::CrcSilent: LetTheLineFallQuiet(quiet); continue;
            case ParamReadOutcome::CrcReported: return BadAnswers(choice, true, true);
            case ParamReadOutcome::NoPort: return Fail(ExitCode::NoDevice, txt::CannotOpen, CurrentPortName(choice));
            case ParamReadOutcome::WrongLength:
                if (!quiet && Link.BytesTransferred > 0) {  // perhaps the rest of an earlier answer
                    LetTheLineFallQuiet(quiet);
                    continue;
                }
                return BadAnswers(choice, Link.BytesTransferred > 0, false);
        }
    }
}

}  // namespace veresk::cli
