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

#include "archive/export.h"
#include "link/codecs.h"
#include "link/crc.h"
#include "link/discovery.h"
#include "link/link.h"
#include "monitor/polling.h"
#include "monitor/presentation.h"
#include "monitor/status.h"
#include "settings/parameters.h"
#include "shell/application.h"
#include "shell/controls.h"
#include "shell/kvelp.h"
#include "sim/simulator.h"

using namespace veresk;

namespace {

constexpr double kBytesPerSecond = 57600.0 / 10.0;  // 8N1: ten bit times a byte

// A private port map, lock folder and data folder for the whole run: no real port is
// ever opened and nothing is written outside the scratch folder.
struct Sandbox {
    QTemporaryDir dir;
    Sandbox() {
        qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
        qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
        qputenv("VERESK_LOCK_DIR", (dir.path() + "/lock").toUtf8());
        QDir().mkpath(PortMapFolder());
        QDir().mkpath(dir.path() + "/lock");
    }
};
Sandbox& TheSandbox() {
    static Sandbox s;
    return s;
}

// The program's windows created anew, polling driven by the benchmark; showing the main
// window starts no port search.
void StartWindows() {
    ResetAllState();
    CreateForms();
    Discovery.ViewSwitched = true;
}
void EndWindows() {
    DestroyForms();
    ResetAllState();
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
    StartWindows();
    Link.DevicePort = 21;
    const double wire = (8 + 71) / kBytesPerSecond + 0.002;
    QElapsedTimer t;
    t.start();
    for (auto _ : state) Form1->Timer1Timer();
    const double perTick = t.nsecsElapsed() / 1e9 / static_cast<double>(state.iterations());
    state.counters["wire_time_ms"] = wire * 1000;
    state.counters["ratio_to_wire"] = perTick / wire;
    state.counters["good_ticks_ok"] = Link.LinkErrorCount == 0;
    EndWindows();
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

// The CSV export of a full memory.  The walk that numbers the sessions runs once per
// session, so the worst image is one where every other record is a session mark (1638
// sessions of one measurement).  Goal: a full memory of one session in under 50 ms and
// the worst image in under 500 ms, so that the export answers its button at once.
ArchiveImageT FullImage(int recordsPerSession) {
    ArchiveImageT image{};
    long long t = 1237619109;  // 2009-03-21 07:05:09
    for (int k = 0; k < kArchiveRecordCount; ++k) {
        if (k % (recordsPerSession + 1) == 0) continue;  // a session mark
        uint8_t* r = image.data() + k * kArchiveRecordSize;
        EncodeDeviceFloat(0.1 + 0.001 * (k % 50), r);
        const uint8_t clock[6] = {EncodeBcd(static_cast<int>(t % 60)), EncodeBcd(static_cast<int>(t / 60 % 60)),
                                  EncodeBcd(static_cast<int>(t / 3600 % 24)), 0x21, 0x03, 0x09};
        std::copy(clock, clock + 6, r + 4);
        t += 10;
    }
    return image;
}

void BM_ArchiveCsv(benchmark::State& state) {
    const ArchiveImageT image = FullImage(static_cast<int>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) bytes = static_cast<size_t>(ArchiveCsv(image).size());
    state.counters["csv_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_ArchiveCsv)->Arg(kArchiveRecordCount)->Arg(1)->Unit(benchmark::kMillisecond);

// Adding one point to a live series that holds state.range(0) points, as the polling
// tick adds it: a point later than all others.  Each measured add is undone outside
// the timing.
void TimeLiveAdd(benchmark::State& state, QLineSeries* series) {
    const int n = static_cast<int>(state.range(0));
    QList<QPointF> points;
    for (int i = 0; i < n; ++i) points.append(QPointF(36000000.0 + i * 10000.0, 0.1 + (i % 7) * 0.01));
    series->replace(points);
    QApplication::processEvents();
    const qreal x = 36000000.0 + n * 10000.0;
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        AddInOrder(series, QPointF(x, 0.2));
        state.SetIterationTime(static_cast<double>(t.nsecsElapsed()) / 1e9);
        series->remove(n);
    }
}

// The series' own work: the points are kept, nothing is drawn.  A later point is
// appended, so 3000 points cost what 250 do.
void BM_LiveSeriesAdd(benchmark::State& state) {
    QLineSeries series;
    TimeLiveAdd(state, &series);
}
BENCHMARK(BM_LiveSeriesAdd)->Arg(250)->Arg(3000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The same on the dose-rate chart of the shown main window, where the chart component
// also rebuilds the drawn line of all points on every change.
void BM_LiveChartAdd(benchmark::State& state) {
    TheSandbox();
    StartWindows();
    Form1->show();
    Form1->Timer1->SetEnabled(false);
    TimeLiveAdd(state, Form1->Series1);
    EndWindows();
}
BENCHMARK(BM_LiveChartAdd)->Arg(250)->Arg(3000)->UseManualTime()->Unit(benchmark::kMicrosecond);

// The processor time of this thread (waits for the device's answer are not counted).
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// One polling tick that adds a point to both live charts while each holds
// state.range(0) points taken ten seconds apart, against the simulator.  Timed is the
// processor time of the tick, so that the wait for the answer does not hide the work
// of the charts; "tick_without_point_us" is the same for the next tick, which adds none.
void BM_TickAddingPoint(benchmark::State& state) {
    TheSandbox();
    sim::Options o;
    o.noise = false;
    sim::Simulator simulator(o);
    simulator.Start(false);
    simulator.LinkAs(PortMapFolder(), 22);
    StartWindows();
    Link.DevicePort = 22;
    Form1->show();
    Form1->Timer1->SetEnabled(false);
    const int n = static_cast<int>(state.range(0));
    const qreal now = static_cast<qreal>(QDateTime(QDate(1970, 1, 1), QTime::currentTime()).toMSecsSinceEpoch());
    QList<QPointF> rate, dose;
    for (int i = 0; i < n; ++i) {
        const qreal x = now - (n - i) * 10000.0;
        rate.append(QPointF(x, 0.1 + (i % 7) * 0.01));
        dose.append(QPointF(x, i * 0.001));
    }
    Form1->Series1->replace(rate);
    Form1->LineSeries1->replace(dose);
    QApplication::processEvents();
    Form1->Timer1Timer();  // the first tick sees the power-on record,
    Form1->Timer1Timer();  // the second adds its point
    Form1->Series1->replace(rate);
    Form1->LineSeries1->replace(dose);
    double without = 0;
    int added = 0;
    for (auto _ : state) {
        simulator.WithDevice([](sim::Device& d) { d.AppendRecord(d.State().doseRate, d.DeviceNow()); });
        Form1->Timer1Timer();  // sees the new record: the next displayed tick adds the points
        double t0 = ThreadCpuSeconds();
        Form1->Timer1Timer();
        state.SetIterationTime(ThreadCpuSeconds() - t0);
        added += Form1->Series1->count() - n;
        t0 = ThreadCpuSeconds();
        Form1->Timer1Timer();
        without += ThreadCpuSeconds() - t0;
        Form1->Series1->replace(rate);
        Form1->LineSeries1->replace(dose);
    }
    state.counters["tick_without_point_us"] = without * 1e6 / static_cast<double>(state.iterations());
    state.counters["points_added"] = added;
    EndWindows();
}
BENCHMARK(BM_TickAddingPoint)->Arg(250)->Arg(3000)->UseManualTime()->Iterations(30)->Unit(benchmark::kMicrosecond);

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
