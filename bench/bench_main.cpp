// Benchmarks of the link and the polling tick, with the simulator on a pseudo-terminal.
// Times against the simulator are printed next to what the 57600-baud line allows.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <ctime>
#include <random>

#include "link/crc.h"
#include "link/discovery.h"
#include "link/link.h"
#include "monitor/polling.h"
#include "monitor/presentation.h"
#include "monitor/status.h"
#include "settings/parameters.h"
#include "shell/application.h"
#include "shell/kvelp.h"
#include "sim/simulator.h"

using namespace veresk;

namespace {

constexpr double kBytesPerSecond = 57600.0 / 10.0;  // 8N1: ten bit times a byte

// A private port map folder for the whole run: no real port is ever opened.
struct Sandbox {
    QTemporaryDir dir;
    Sandbox() {
        qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
        QDir().mkpath(PortMapFolder());
    }
};
Sandbox& TheSandbox() {
    static Sandbox s;
    return s;
}

std::vector<uint8_t> RandomBytes(size_t n) {
    std::mt19937 rng(5);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

void BM_Crc2050(benchmark::State& state) {
    const auto block = RandomBytes(2050);
    for (auto _ : state) benchmark::DoNotOptimize(CrcBlock(block.data(), block.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2050);
}
BENCHMARK(BM_Crc2050);

std::vector<uint8_t> StatusFromDevice() {
    sim::Options o;
    o.noise = false;
    sim::Device d(o);
    d.AdvanceSeconds(100);
    return d.StatusBlock();
}

void BM_StatusDecode(benchmark::State& state) {
    const auto block = StatusFromDevice();
    for (auto _ : state) benchmark::DoNotOptimize(DecodeStatusBlock(block.data()));
}
BENCHMARK(BM_StatusDecode);

// The decode and the presentation of a displayed tick, without I/O.
void BM_TickDecodeAndPresent(benchmark::State& state) {
    const auto block = StatusFromDevice();
    ParameterValuesT params;
    params.RateThresholds[0] = 0.3f;
    params.DoseThresholds[0] = 100;
    const QLocale locale = QLocale::system();
    for (auto _ : state) {
        const LiveStatusValues s = DecodeStatusBlock(block.data());
        benchmark::DoNotOptimize(PresentStatus(s, params, 1, 0, locale));
    }
}
BENCHMARK(BM_TickDecodeAndPresent);

// The full 32768-byte archive through ReadTransaction from the paced simulator:
// 16 answers of 2050 bytes at 5760 bytes/s take about 5.7 s on the line.
// The paced simulator with a full archive memory (all 16 blocks are read), as COMn.
std::unique_ptr<sim::Simulator> FullMemoryPacedSimulator(int com) {
    TheSandbox();
    sim::Options o;
    o.paced = true;
    o.genSessions = 40;
    o.genRecords = 80;
    auto simulator = std::make_unique<sim::Simulator>(o);
    simulator->Start(false);
    simulator->LinkAs(PortMapFolder(), com);
    return simulator;
}

void BM_ArchiveReadPaced(benchmark::State& state) {
    const auto simulator = FullMemoryPacedSimulator(20);
    ResetLinkState();
    Link.DevicePort = 20;
    const double limit = 16 * 2050 / kBytesPerSecond;
    int failures = 0;
    double total = 0;
    for (auto _ : state) {
        OpenDevicePort();
        QElapsedTimer t;
        t.start();
        for (uint32_t address = 0; address < 32768; address += 2048) {
            ReadTransaction(0x25, 2048, static_cast<uint16_t>(address));
            failures += JudgeAnswer(2048) != AnswerVerdict::Good;
        }
        const double seconds = t.nsecsElapsed() / 1e9;
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["line_limit_s"] = limit;
    state.counters["ratio_to_line"] = total / static_cast<double>(state.iterations()) / limit;
    state.counters["failed_blocks"] = failures;
    ResetLinkState();
}
BENCHMARK(BM_ArchiveReadPaced)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// One whole polling tick of the main window against the paced simulator: open, status
// exchange (8 bytes out, 71 back: about 14 ms on the line plus the 2 ms pause), decode,
// clock check and every display target.
void BM_WholeTickPaced(benchmark::State& state) {
    TheSandbox();
    sim::Options o;
    o.paced = true;
    sim::Simulator simulator(o);
    simulator.Start(false);
    simulator.LinkAs(PortMapFolder(), 21);
    ResetAllState();
    CreateForms();
    Discovery.ViewSwitched = true;  // showing the window must not start a port search here
    Link.DevicePort = 21;
    const double wire = (8 + 71) / kBytesPerSecond + 0.002;
    QElapsedTimer t;
    t.start();
    for (auto _ : state) Form1->Timer1Timer();
    const double perTick = t.nsecsElapsed() / 1e9 / static_cast<double>(state.iterations());
    state.counters["wire_time_ms"] = wire * 1000;
    state.counters["ratio_to_wire"] = perTick / wire;
    state.counters["good_ticks_ok"] = Link.LinkErrorCount == 0;
    DestroyForms();
    ResetAllState();
}
BENCHMARK(BM_WholeTickPaced)->Iterations(50)->Unit(benchmark::kMillisecond);

// The port scan over 1..255 with two ports present (one of them the simulator).
struct NullList : PortList {
    std::vector<QString> items;
    void Clear() override { items.clear(); }
    void Append(const QString& item) override { items.push_back(item); }
    int Count() const override { return static_cast<int>(items.size()); }
    QString Item(int i) const override { return items[i]; }
    void Select(int) override {}
    void Progress(int) override {}
};

void BM_ScanFullRange(benchmark::State& state) {
    TheSandbox();
    QDir(PortMapFolder()).removeRecursively();
    sim::Simulator a, b;
    a.Start(false);
    b.Start(false);
    a.LinkAs(PortMapFolder(), 4);
    b.LinkAs(PortMapFolder(), 200);
    ResetLinkState();
    NullList list;
    for (auto _ : state) ScanPorts(list);
    state.counters["ports_found"] = list.Count();
    ResetLinkState();
}
BENCHMARK(BM_ScanFullRange)->Unit(benchmark::kMillisecond);

// veresk-cli as a whole process against the paced simulator: one status read (process
// start, the open, 8 bytes out and 71 back), and the archive of a full memory against
// what the line allows for its 16 answers of 2050 bytes.
double RunCliSeconds(const QStringList& args, int* exitCode) {
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(VERESK_CLI), args);
    p.waitForFinished(60000);
    const double seconds = t.nsecsElapsed() / 1e9;
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return seconds;
}

void BM_CliStatusProcess(benchmark::State& state) {
    TheSandbox();
    sim::Options o;
    o.paced = true;
    sim::Simulator simulator(o);
    simulator.Start(false);
    simulator.LinkAs(PortMapFolder(), 22);
    int failures = 0;
    for (auto _ : state) {
        int code = 0;
        state.SetIterationTime(RunCliSeconds({"status", "--port", "22"}, &code));
        failures += code != 0;
    }
    state.counters["goal_ms"] = 100;
    state.counters["failed_runs"] = failures;
}
BENCHMARK(BM_CliStatusProcess)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_CliArchiveProcessPaced(benchmark::State& state) {
    const auto simulator = FullMemoryPacedSimulator(23);
    QTemporaryDir out;
    const double limit = 16 * 2050 / kBytesPerSecond;
    double total = 0;
    int failures = 0;
    for (auto _ : state) {
        int code = 0;
        const double seconds = RunCliSeconds({"archive", "--port", "23", "--out", out.path() + "/a.bin"}, &code);
        failures += code != 0;
        total += seconds;
        state.SetIterationTime(seconds);
    }
    state.counters["line_limit_s"] = limit;
    state.counters["ratio_to_line"] = total / static_cast<double>(state.iterations()) / limit;
    state.counters["failed_runs"] = failures;
}
BENCHMARK(BM_CliArchiveProcessPaced)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
