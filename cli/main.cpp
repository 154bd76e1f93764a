// veresk-cli: the dosimeter from the command line, for scripts and unattended
// stations.  Everything it does is in the cli library; this only wires the process.
#include <QCoreApplication>
#include <QTextStream>
#include <csignal>
#include <cstdio>

#include "cli/commands.h"
#ifndef _WIN32
#include "link/port_unix.h"
#endif

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }

#ifndef _WIN32
// A short command ends at once, in the middle of an exchange if need be, but its port
// is not left claimed: the exclusive mode and the lock file go before the process does.
void OnSignalEnd(int signal) {
    veresk::ReleasePortClaimsFromSignal();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}
#endif
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veresk"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const bool log = !args.isEmpty() && args.front() == QLatin1String("log");
    // The log ends cleanly on these (state "offline", files in order); every other
    // command is short and ends at once, its port claims given up first.
#ifdef _WIN32
    if (log) {
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
    }
#else
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller had ignored stays ignored (nohup, a job started in the
        // background by a script).
        const auto previous = std::signal(signal, log ? OnSignal : OnSignalEnd);
        if (previous == SIG_IGN && signal != SIGTERM) std::signal(signal, SIG_IGN);
    }
#endif
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a broker that goes away must not end the process
#endif
    QTextStream out(stdout);
    QTextStream err(stderr);
    return veresk::cli::RunCommandLine(args, out, err, [] { return stopRequested != 0; });
}
