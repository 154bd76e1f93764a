#include "shell/application.h"

#include <QIcon>
#include <QMessageBox>
#include <QSocketNotifier>
#include <cstdlib>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "archive/archive.h"
#include "link/discovery.h"
#include "link/interface.h"
#include "link/link.h"
#include "link/scan.h"
#include "monitor/clock.h"
#include "monitor/compact.h"
#include "monitor/status.h"
#include "monitor/viewstate.h"
#include "settings/parameters.h"
#include "shell/about.h"
#include "shell/inifile.h"
#include "shell/kvelp.h"

// The pictures compiled into the program (the library's resources need a call to
// register them).
static void RegisterResources() { Q_INIT_RESOURCE(resources); }

// The program's icon in the sizes drawn for it; every window shows it.
static QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QString(":/icons/veresk-%1.png").arg(size), QSize(size, size));
    return icon;
}

namespace veresk {

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;
TForm7* Form7 = nullptr;
TForm8* Form8 = nullptr;
TForm9* Form9 = nullptr;

namespace {

void BoxSink(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromUtf8(ApplicationTitle), message, QMessageBox::Ok);
    box.exec();
}

ErrorSink g_sink = &BoxSink;
ProcessEnder g_ender = nullptr;

}  // namespace

VereskApplication::VereskApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Only the application name: a display name would be added to every window caption.
    setApplicationName(QString::fromUtf8(ApplicationTitle));
    setDesktopFileName(QStringLiteral("io.github.veresk.veresk"));  // its menu entry
    setQuitOnLastWindowClosed(false);
}

bool VereskApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QString());
    }
    return false;
}

void ShowErrorBox(const QString& message) { g_sink(message); }
void SetErrorSink(ErrorSink sink) { g_sink = sink ? sink : &BoxSink; }

void SetProcessEnder(ProcessEnder ender) { g_ender = ender; }

void EndProgramDefault() {
    std::fflush(nullptr);
    std::_Exit(0);
}

void EndProgram() {
    // Whichever way the program ends, the port is closed and its claims released.
    CloseDevicePort();
    if (g_ender) g_ender();
    else EndProgramDefault();
}

#ifndef Q_OS_WIN
namespace {
int g_signalPipe[2] = {-1, -1};

// Only the byte goes through the pipe: the program ends from the event loop.
void OnExitSignal(int) {
    const int saved = errno;
    const char b = 1;
    [[maybe_unused]] const ssize_t w = ::write(g_signalPipe[1], &b, 1);
    errno = saved;
}
}  // namespace

void InstallExitSignals() {
    if (g_signalPipe[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char b;
        while (::read(g_signalPipe[0], &b, 1) > 0) {
        }
        // Like closing the main window by its frame: the port is closed, nothing is stored.
        EndProgram();
    });
    struct sigaction sa {};
    sa.sa_handler = &OnExitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}
#else
void InstallExitSignals() {}
#endif

void CreateForms() {
    RegisterResources();
    QApplication::setWindowIcon(ProgramIcon());
    Form1 = new TForm1();
    Form2 = new TForm2();  // reads the settings file
    Form3 = new TForm3();
    Form4 = new TForm4();
    Form5 = new TForm5();
    Form6 = new TForm6();
    Form7 = new TForm7();
    Form8 = new TForm8();
    Form9 = new TForm9();
    // The connection dialog is designed visible and on top: it is on screen at once.
    Form2->show();
}

void DestroyForms() {
    delete Form9; Form9 = nullptr;
    delete Form8; Form8 = nullptr;
    delete Form7; Form7 = nullptr;
    delete Form6; Form6 = nullptr;
    delete Form5; Form5 = nullptr;
    delete Form4; Form4 = nullptr;
    delete Form3; Form3 = nullptr;
    delete Form2; Form2 = nullptr;
    delete Form1; Form1 = nullptr;
}

void ResetAllState() {
    ResetLinkState();
    ResetPollingState();
    ResetParameterState();
    ResetSettingsState();
    ResetDiscoveryState();
    ResetCompactState();
    ResetArchiveState();
    SetPcClockSource(nullptr);
}

}  // namespace veresk
