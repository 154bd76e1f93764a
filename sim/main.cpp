// veresk-sim: a simulated РДТ-17 dosimeter on a pseudo-terminal.
//
// Prints the pty's path (and, with --link/--com, the COMn link made to it), then serves
// the device in real time until SIGINT or SIGTERM.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <thread>
#include <unistd.h>

#include "sim/simulator.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void OnSignal(int) { stopRequested = 1; }

void Fail(const QString& message) {
    std::fprintf(stderr, "veresk-sim: %s\n", qPrintable(message));
    std::exit(2);
}

int IntOption(const QCommandLineParser& p, const QString& name, int fallback) {
    if (!p.isSet(name)) return fallback;
    bool ok = false;
    const int v = p.value(name).toInt(&ok);
    if (!ok) Fail(QStringLiteral("--%1 needs an integer, not '%2'").arg(name, p.value(name)));
    return v;
}

double DoubleOption(const QCommandLineParser& p, const QString& name, double fallback) {
    if (!p.isSet(name)) return fallback;
    bool ok = false;
    const double v = p.value(name).toDouble(&ok);
    if (!ok) Fail(QStringLiteral("--%1 needs a number, not '%2'").arg(name, p.value(name)));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veresk-sim"));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("A simulated RDT-17 dosimeter on a pseudo-terminal."));
    p.addHelpOption();
    const auto value = [&](const char* name, const char* help, const char* valueName) {
        p.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help), QString::fromLatin1(valueName)));
    };
    const auto flag = [&](const char* name, const char* help) {
        p.addOption(QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
    value("rate", "Mean dose rate, uSv/h (default 0.12).", "USVH");
    flag("no-noise", "Readings exactly at the mean, no counting noise.");
    value("interval", "Seconds between archive records (default 10).", "S");
    value("firmware", "Firmware version number (default 7).", "N");
    flag("kedr", "The Kedr+ edition (edition bit set).");
    value("clock-offset", "Device clock minus PC clock, seconds.", "SECONDS");
    value("archive-file", "Preload the archive from a raw 32768-byte image.", "FILE");
    value("sessions", "Preload a generated archive of N sessions.", "N");
    value("records", "Records in each generated session.", "M");
    flag("backwards", "One generated session whose times go backwards part-way.");
    flag("no-mark", "Do not start the power-on session with a session mark.");
    flag("silent", "Never answer.");
    value("short", "Answer K bytes short.", "K");
    value("corrupt-next", "Corrupt the CRC of the next K answers.", "K");
    value("corrupt-prob", "Corrupt the CRC of an answer with probability P.", "P");
    value("delay", "Wait MS milliseconds before every answer.", "MS");
    flag("paced", "Answer at the real byte time of 57600 baud.");
    value("log", "Append one line per request to FILE.", "FILE");
    value("seed", "Seed of the noise generator (default 1).", "S");
    value("link", "Folder in which to make the COMn link to the pty.", "FOLDER");
    value("com", "COM number of the link (with --link).", "N");
    p.process(app);

    veresk::sim::Options o;
    o.meanDoseRate = DoubleOption(p, QStringLiteral("rate"), o.meanDoseRate);
    o.noise = !p.isSet(QStringLiteral("no-noise"));
    o.recordInterval = IntOption(p, QStringLiteral("interval"), o.recordInterval);
    o.firmwareVersion = IntOption(p, QStringLiteral("firmware"), o.firmwareVersion);
    o.kedrEdition = p.isSet(QStringLiteral("kedr"));
    o.clockOffset = IntOption(p, QStringLiteral("clock-offset"), 0);
    o.archiveFile = p.value(QStringLiteral("archive-file"));
    if (!o.archiveFile.isEmpty() && !QFileInfo(o.archiveFile).isReadable())
        Fail(QStringLiteral("cannot read the archive file '%1'").arg(o.archiveFile));
    o.genSessions = IntOption(p, QStringLiteral("sessions"), 0);
    o.genRecords = IntOption(p, QStringLiteral("records"), o.genSessions > 0 ? 20 : 0);
    o.genBackwards = p.isSet(QStringLiteral("backwards"));
    o.powerOnMark = !p.isSet(QStringLiteral("no-mark"));
    o.silent = p.isSet(QStringLiteral("silent"));
    o.shortBy = IntOption(p, QStringLiteral("short"), 0);
    o.corruptNext = IntOption(p, QStringLiteral("corrupt-next"), 0);
    o.corruptProbability = DoubleOption(p, QStringLiteral("corrupt-prob"), 0);
    o.delayMs = IntOption(p, QStringLiteral("delay"), 0);
    o.paced = p.isSet(QStringLiteral("paced"));
    o.logFile = p.value(QStringLiteral("log"));
    if (p.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        o.seed = p.value(QStringLiteral("seed")).toUInt(&ok);
        if (!ok) Fail(QStringLiteral("--seed needs a whole number, not '%1'").arg(p.value(QStringLiteral("seed"))));
    }

    const QString folder = p.value(QStringLiteral("link"));
    const int com = IntOption(p, QStringLiteral("com"), 0);
    if (!folder.isEmpty() && (com < 1 || com > 255)) Fail(QStringLiteral("--link needs --com N with N from 1 to 255"));

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    veresk::sim::Simulator simulator(o);
    if (!simulator.Start(true)) Fail(QStringLiteral("cannot open a pseudo-terminal"));
    std::printf("%s\n", qPrintable(simulator.SlavePath()));
    QString link;
    if (!folder.isEmpty()) {
        if (!simulator.LinkAs(folder, com)) Fail(QStringLiteral("cannot make the link COM%1 in '%2'").arg(com).arg(folder));
        link = folder + QStringLiteral("/COM%1").arg(com);
        std::printf("%s\n", qPrintable(link));
    }
    std::fflush(stdout);

    while (!stopRequested) std::this_thread::sleep_for(std::chrono::milliseconds(100));

    simulator.Stop();
    if (!link.isEmpty()) ::unlink(QFile::encodeName(link).constData());
    return 0;
}
