// veresk-cli: the dosimeter from the command line, for scripts and unattended
// stations.  Everything it does is in the cli library; this only wires the process.
#include <QCoreApplication>
#include <QTextStream>
#include <csignal>
#include <cstdio>

#include "cli/commands.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnSignal(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("veresk"));
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (!args.isEmpty() && args.front() == QLatin1String("log")) {
        // The log ends cleanly on these (state "offline", files in order); every other
        // command is short and may simply be interrupted.
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
    }
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);  // a broker that goes away must not end the process
#endif
    QTextStream out(stdout);
    QTextStream err(stderr);
    return veresk::cli::RunCommandLine(args, out, err, [] { return stopRequested != 0; });
}
