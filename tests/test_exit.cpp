// Every way the program ends closes the port and removes its lock file: the frame's
// close button, the compact windows' double-click, and the signals of a session ending
// or a kill (the real program, started as a child process against the simulator).  A
// stale lock left by a killed program is taken over by the next start.  And a tick with
// a PC clock the device cannot hold shows its values.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <climits>

#include <csignal>
#include <cstdio>
#include <ctime>

#include "link/port_unix.h"
#include "monitor/clock.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

class ProgramEnd : public GuiTest {
protected:
    QStringList Locks() const { return QDir(sandbox.LockFolder()).entryList(QDir::Files | QDir::System); }
    bool SettingsFileExists() const { return QFile::exists(workdir.filePath("prog.ini")); }
};

TEST_F(ProgramEnd, FrameCloseReleasesThePortAndWritesNoSettings) {
    StartWithDevice();
    ASSERT_NE(Link.PortHandle, nullptr);  // left open by the start-up parameter read
    ASSERT_EQ(Locks().size(), 1);
    Form1->close();
    EXPECT_EQ(Captured::ended, 1);
    EXPECT_EQ(Link.PortHandle, nullptr);
    EXPECT_TRUE(Locks().isEmpty());
    EXPECT_FALSE(SettingsFileExists());
}

TEST_F(ProgramEnd, CompactWindowDoubleClicksReleaseThePort) {
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        StartWithDevice();
        ASSERT_NE(Link.PortHandle, nullptr);
        ASSERT_EQ(Locks().size(), 1);
        if (mode == 1) Form6->Image2DblClick();
        else Form9->Label1DblClick();
        EXPECT_EQ(Captured::ended, 1);
        EXPECT_EQ(Link.PortHandle, nullptr);
        EXPECT_TRUE(Locks().isEmpty());
        EXPECT_EQ(IniFile(workdir.filePath("prog.ini")).ReadInteger("Common", "Mode", -1), mode);
        DestroyForms();
        ResetAllState();
        Captured::ended = 0;
        QFile::remove(workdir.filePath("prog.ini"));
    }
}

TEST_F(ProgramEnd, PcClockOutsideTheDeviceYearsShowsTheValues) {
    StartWithDevice();
    for (int year : {1999, 2100}) {
        SCOPED_TRACE(year);
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = 5;
        tm.tm_mday = 15;
        tm.tm_hour = 12;
        tm.tm_isdst = -1;
        const std::time_t pc = std::mktime(&tm);
        SetPcClockSource([pc] { return pc; });
        Form1->ShowNoLink();
        simulator.ClearLog();
        for (int tick = 0; tick < 2; ++tick) {
            Form1->Timer1Timer();
            EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение"));
            EXPECT_FALSE(Form1->Edit4->text().isEmpty());
            EXPECT_FALSE(Panel(1).isEmpty());
        }
        EXPECT_FALSE(simulator.WaitForRequests(3, 300));
        for (const auto& r : simulator.Requests()) EXPECT_NE(r.command, 0xBB);
    }
}

// The real program, started against the simulator with its own working folder, port
// map and lock folder (the environment the sandbox sets is inherited).
class RunningProgram : public ProgramEnd {
protected:
    QProcess program;
    QString lockFile;

    void SetUp() override {
        ProgramEnd::SetUp();
        ASSERT_TRUE(sandbox.Link(simulator, 3));
        char real[PATH_MAX];
        ASSERT_NE(::realpath(simulator.SlavePath().toLocal8Bit().constData(), real), nullptr);
        lockFile = LockFilePath(QString::fromLocal8Bit(real));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(workdir.path());
        program.setProgram(QStringLiteral(VERESK_PROGRAM));
    }
    void TearDown() override {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
        ProgramEnd::TearDown();
    }
    QByteArray LockContent() const {
        QFile f(lockFile);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static QByteArray LockText(qint64 pid) {
        char text[16];
        std::snprintf(text, sizeof text, "%10lld\n", static_cast<long long>(pid));
        return QByteArray(text);
    }
    // Starts the program and waits until it holds the device's port.
    bool StartAndClaim() {
        program.start();
        if (!program.waitForStarted(10000)) return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 30000) {
            if (LockContent() == LockText(program.processId())) return true;
            QTest::qWait(50);
        }
        return false;
    }
};

TEST_F(RunningProgram, SignalsEndItWithThePortClosedAndNoSettingsWritten) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        ASSERT_TRUE(StartAndClaim()) << program.readAllStandardError().toStdString();
        ::kill(static_cast<pid_t>(program.processId()), sig);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        EXPECT_FALSE(QFile::exists(lockFile));
        EXPECT_TRUE(Locks().isEmpty());
        EXPECT_FALSE(SettingsFileExists());
    }
}

TEST_F(RunningProgram, NextStartTakesOverTheLockOfAKilledProgram) {
    ASSERT_TRUE(StartAndClaim());
    const qint64 killed = program.processId();
    program.kill();  // SIGKILL: nothing can clean up
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(LockContent(), LockText(killed));

    ASSERT_TRUE(StartAndClaim()) << "lock still holds " << LockContent().toStdString();
    EXPECT_NE(program.processId(), killed);
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_FALSE(QFile::exists(lockFile));
}

}  // namespace
