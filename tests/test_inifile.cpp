// prog.ini: reading integers, writing keys without disturbing the rest of the file, and
// failing writes that leave the file as it was.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#ifdef Q_OS_UNIX
#include <QElapsedTimer>
#include <csignal>
#include <iostream>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "shell/inifile.h"

namespace veresk {
namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

std::string Str(const QByteArray& b) { return b.toStdString(); }

// Every test runs in its own empty working directory.
class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        oldCwd_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir_.path()));
        ResetSettingsState();
    }
    void TearDown() override {
        QDir::setCurrent(oldCwd_);
        ResetSettingsState();
    }
    QString Path() const { return dir_.path() + "/prog.ini"; }
    QStringList DirEntries() const {
        return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir_;
    QString oldCwd_;
};

#ifdef Q_OS_UNIX
// Caps the size of any file this process writes, so that the next write runs out of room
// part-way (as on a full disk).  Restores the limit and SIGXFSZ handling when destroyed.
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &old_);
        rlimit cap = old_;
        cap.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &cap) == 0;
    }
    ~FileSizeCap() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool ok() const { return ok_; }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
    bool ok_ = false;
};
#endif

TEST_F(IniFileTest, NoFileGivesDefaults) {
    Settings = {7, 7, 7};
    LoadSettings();
    EXPECT_EQ(Settings.UiLanguage, 0);
    EXPECT_EQ(Settings.Transparency, 40);
    EXPECT_EQ(Settings.ViewMode, 0);
    EXPECT_FALSE(QFile::exists(Path()));  // reading never creates the file
}

TEST_F(IniFileTest, LoadsStoredValuesAsTheyAre) {
    WriteBytes(Path(), "[Common]\r\nLanguage=2\r\nTransparent=300\r\nMode=1\r\n");
    LoadSettings();
    EXPECT_EQ(Settings.UiLanguage, 2);
    EXPECT_EQ(Settings.Transparency, 300);  // limiting to the slider's range is the caller's business
    EXPECT_EQ(Settings.ViewMode, 1);
}

TEST_F(IniFileTest, ValueThatDoesNotParseCountsAsMissing) {
    WriteBytes(Path(), "[Common]\nLanguage=abc\nTransparent=12abc\nMode=\n");
    Settings = {7, 7, 7};
    LoadSettings();
    EXPECT_EQ(Settings.UiLanguage, 0);
    EXPECT_EQ(Settings.Transparency, 40);
    EXPECT_EQ(Settings.ViewMode, 0);

    const char* bad[] = {"  ", "2147483648", "-2147483649", "0x", "$", "+", "-", "0x1G", "$-1",
                         "-0x10", "0x100000000", "1 2", "1.5"};
    for (const char* text : bad) {
        WriteBytes(Path(), QByteArray("[Common]\nK=") + text + "\n");
        EXPECT_EQ(IniFile(Path()).ReadInteger("Common", "K", 77), 77) << "value '" << text << "'";
    }
}

TEST_F(IniFileTest, DecimalValuesUseTheFull32BitRange) {
    const struct { const char* text; int value; } cases[] = {
        {"0", 0}, {" 12 ", 12}, {"\t-5\t", -5}, {"+9", 9}, {"007", 7},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
    };
    for (const auto& c : cases) {
        WriteBytes(Path(), QByteArray("[Common]\r\nK=") + c.text + "\r\n");
        EXPECT_EQ(IniFile(Path()).ReadInteger("Common", "K", 77), c.value) << "value '" << c.text << "'";
    }
}

TEST_F(IniFileTest, HexadecimalValues) {
    const struct { const char* text; int value; } cases[] = {
        {"0x10", 16}, {"$FF", 255}, {"0XfF", 255}, {"$7fffffff", INT_MAX},
        {"0xFFFFFFFF", -1}, {"$80000000", INT_MIN}, {"0x000000010", 16},
    };
    for (const auto& c : cases) {
        WriteBytes(Path(), QByteArray("[Common]\nK=") + c.text + "\n");
        EXPECT_EQ(IniFile(Path()).ReadInteger("Common", "K", 77), c.value) << "value '" << c.text << "'";
    }
}

TEST_F(IniFileTest, FindsSectionAndKeyLikeWindows) {
    WriteBytes(Path(),
               "Mode=5\n"                 // before any section: belongs to none
               "[Other]\nLanguage=9\n"
               "  [ common ]  \n"
               ";Language=8\n#Language=7\n"
               "  LANGUAGE = 2 \r\n"
               "language=3\n"             // a second line of the key is not the one read
               "[Common]\nMode=6\n"       // nor is a second section of the same name
               "[Next]\nTransparent=100\n");
    LoadSettings();
    EXPECT_EQ(Settings.UiLanguage, 2);
    EXPECT_EQ(Settings.Transparency, 40);
    EXPECT_EQ(Settings.ViewMode, 0);
}

TEST_F(IniFileTest, CreatesTheFileWithItsKeysInOrder) {
    StoreSettings(40);
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\r\nLanguage=0\r\nTransparent=40\r\nMode=0\r\nLiveLog=0\r\n");

    Settings.UiLanguage = 2;
    Settings.ViewMode = 1;
    Settings.LiveLog = 1;
    StoreSettings(200);
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\r\nLanguage=2\r\nTransparent=200\r\nMode=1\r\nLiveLog=1\r\n");

    ResetSettingsState();
    LoadSettings();
    EXPECT_EQ(Settings.UiLanguage, 2);
    EXPECT_EQ(Settings.Transparency, 200);
    EXPECT_EQ(Settings.ViewMode, 1);
    EXPECT_EQ(Settings.LiveLog, 1);
    EXPECT_EQ(DirEntries(), QStringList{"prog.ini"});  // no temporary file left behind
}

TEST_F(IniFileTest, WriteKeepsEverythingElseByteForByte) {
    WriteBytes(Path(),
               "; settings\r\n\r\n[Other]\r\nLanguage=9\r\n"
               "[common]\r\n  Language = 1 \r\nExtra=\xFF\xFE\x01 raw\r\n# Mode=2\r\n; Mode=3\r\n\r\n"
               "[Tail]\r\nK=V");
    Settings.UiLanguage = 2;
    Settings.ViewMode = 1;
    StoreSettings(255);
    EXPECT_EQ(Str(ReadBytes(Path())),
              "; settings\r\n\r\n[Other]\r\nLanguage=9\r\n"
              "[common]\r\n  Language = 2 \r\nExtra=\xFF\xFE\x01 raw\r\n"
              "Transparent=255\r\nMode=1\r\nLiveLog=0\r\n"
              "# Mode=2\r\n; Mode=3\r\n\r\n"
              "[Tail]\r\nK=V");
}

TEST_F(IniFileTest, WriteReusesTheFilesLineEnding) {
    WriteBytes(Path(), "# lf file\n[Common]\nMode=2\nLanguage=abc\n\n[X]\nY=1\n");
    Settings.UiLanguage = 1;
    Settings.ViewMode = 0;
    StoreSettings(41);
    EXPECT_EQ(Str(ReadBytes(Path())),
              "# lf file\n[Common]\nMode=0\nLanguage=1\nTransparent=41\nLiveLog=0\n\n[X]\nY=1\n");
}

TEST_F(IniFileTest, LiveLogRoundTripKeepsForeignLines) {
    const struct {
        const char* stored;  // the LiveLog line of the file, if any
        int read;
        const char* written;  // after an exit with the value read
    } cases[] = {
        {"", 0, "LiveLog=0"},
        {"LiveLog=1", 1, "LiveLog=1"},
        {"LiveLog=0", 0, "LiveLog=0"},
        {"livelog=0x1", 1, "livelog=1"},
        {"LiveLog=7", 7, "LiveLog=1"},  // anything but 0 is on, stored as 1
        {"LiveLog=on", 0, "LiveLog=0"},  // no number: the default
    };
    for (const auto& c : cases) {
        const QByteArray line = *c.stored ? QByteArray(c.stored) + "\r\n" : QByteArray();
        WriteBytes(Path(), "; mine\r\n[Common]\r\nLanguage=2\r\n" + line +
                               "Colour=7\r\nTransparent=90\r\nMode=0\r\n[Other]\r\nLiveLog=5\r\n");
        ResetSettingsState();
        LoadSettings();
        EXPECT_EQ(Settings.LiveLog, c.read) << c.stored;
        StoreSettings(90);
        const QByteArray kept = *c.stored ? QByteArray(c.written) + "\r\n" : QByteArray();
        const QByteArray added = *c.stored ? QByteArray() : QByteArray(c.written) + "\r\n";
        EXPECT_EQ(Str(ReadBytes(Path())), Str("; mine\r\n[Common]\r\nLanguage=2\r\n" + kept +
                                              "Colour=7\r\nTransparent=90\r\nMode=0\r\n" + added +
                                              "[Other]\r\nLiveLog=5\r\n"))
            << c.stored;
    }
}

TEST_F(IniFileTest, ReplacesOnlyTheFirstLineOfTheKey) {
    WriteBytes(Path(), "[Common]\r\nMode=1\r\nMode=2\r\n[Common]\r\nMode=3\r\n");
    IniFile(Path()).WriteString("COMMON", "mode", "0");
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\r\nMode=0\r\nMode=2\r\n[Common]\r\nMode=3\r\n");
}

TEST_F(IniFileTest, AddsKeyToASectionWithoutKeys) {
    WriteBytes(Path(), "[Common]\n\n; later\n[X]\nY=1\n");
    IniFile(Path()).WriteString("Common", "Language", "1");
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\nLanguage=1\n\n; later\n[X]\nY=1\n");
}

TEST_F(IniFileTest, KeepsAMissingFinalNewline) {
    WriteBytes(Path(), "[Common]\r\nLanguage=1");
    IniFile ini(Path());
    ini.WriteString("Common", "Language", "2");
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\r\nLanguage=2");
    ini.WriteString("Common", "Mode", "1");
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\r\nLanguage=2\r\nMode=1");
    EXPECT_EQ(ini.ReadInteger("Common", "Mode", 9), 1);
}

TEST_F(IniFileTest, AddsAMissingSectionAtTheEnd) {
    WriteBytes(Path(), "[Other]\nA=1\n");
    IniFile(Path()).WriteString("Common", "Language", "1");
    EXPECT_EQ(Str(ReadBytes(Path())), "[Other]\nA=1\n[Common]\nLanguage=1\n");

    WriteBytes(Path(), "[Other]\r\nA=1");
    IniFile(Path()).WriteString("Common", "Language", "1");
    EXPECT_EQ(Str(ReadBytes(Path())), "[Other]\r\nA=1\r\n[Common]\r\nLanguage=1");
}

TEST_F(IniFileTest, WriteErrorNamesTheFullPath) {
    // prog.ini is a directory here, which no user can replace by a file.
    ASSERT_TRUE(QDir(dir_.path()).mkdir("prog.ini"));
    try {
        StoreSettings(40);
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Unable to write to " + QDir::toNativeSeparators(dir_.path() + "/prog.ini").toStdString());
        EXPECT_EQ(e.path, SettingsFilePath());
    }

    // A file in a directory that does not exist.
    const QString missing = dir_.path() + "/no-such-dir/prog.ini";
    try {
        IniFile(missing).WriteString("Common", "Language", "1");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + QDir::toNativeSeparators(missing).toStdString());
    }
    EXPECT_FALSE(QFile::exists(missing));
}

#ifdef Q_OS_UNIX
TEST_F(IniFileTest, ReadOnlyDirectoryLeavesTheFileUnchanged) {
    const QByteArray before = "[Common]\r\nLanguage=1\r\n; mine\r\n";
    WriteBytes(Path(), before);
    const QByteArray dirPath = QFile::encodeName(dir_.path());
    ASSERT_EQ(chmod(dirPath.constData(), 0555), 0);
    // With rights that ignore directory permissions (root) the write would succeed.
    QFile probe(dir_.path() + "/probe");
    const bool ignored = probe.open(QIODevice::WriteOnly);
    if (ignored) probe.remove();

    bool threw = false;
    if (!ignored) {
        try {
            StoreSettings(40);
        } catch (const IniWriteError& e) {
            threw = true;
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path().toStdString());
        }
    }
    chmod(dirPath.constData(), 0700);
    if (ignored) GTEST_SKIP() << "directory permissions do not apply to this user; see FailurePartWay tests";
    EXPECT_TRUE(threw);
    EXPECT_EQ(Str(ReadBytes(Path())), Str(before));
}

TEST_F(IniFileTest, FailurePartWayKeepsTheOldContent) {
    const QByteArray before = "[Common]\nLanguage=1\nTransparent=40\nMode=0\n; a comment that makes the file long\n";
    WriteBytes(Path(), before);
    bool threw = false;
    {
        FileSizeCap cap(16);  // the new copy runs out of room after 16 bytes
        ASSERT_TRUE(cap.ok());
        try {
            IniFile(Path()).WriteString("Common", "Language", "2");
        } catch (const IniWriteError&) {
            threw = true;
        }
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(Str(ReadBytes(Path())), Str(before));
    EXPECT_EQ(DirEntries(), QStringList{"prog.ini"});
}

TEST_F(IniFileTest, FailurePartWayStoresNoKeyAtAll) {
    const QByteArray before = "[Common]\r\nLanguage=1\r\nTransparent=40\r\nMode=0\r\n";
    WriteBytes(Path(), before);
    // Room for the first key of the new file but not the rest.
    Settings.UiLanguage = 2;
    Settings.ViewMode = 1;
    bool threw = false;
    {
        FileSizeCap cap(30);
        ASSERT_TRUE(cap.ok());
        try {
            StoreSettings(200);
        } catch (const IniWriteError& e) {
            threw = true;
            EXPECT_EQ(e.path, Path());
            EXPECT_EQ(std::string(e.what()), "Unable to write to " + Path().toStdString());
        }
    }
    EXPECT_TRUE(threw);
    EXPECT_EQ(Str(ReadBytes(Path())), Str(before));
    EXPECT_EQ(DirEntries(), QStringList{"prog.ini"});
}

TEST_F(IniFileTest, SeveralKeysInOneReplacement) {
    WriteBytes(Path(), "[Common]\nLanguage=1\n[Other]\nX=1\n");
    IniFile(Path()).WriteEntries({{"Common", "Language", "2"},
                                  {"Common", "Transparent", "90"},
                                  {"Other", "X", "7"},
                                  {"Common", "LiveLog", "1"}});
    EXPECT_EQ(Str(ReadBytes(Path())), "[Common]\nLanguage=2\nTransparent=90\nLiveLog=1\n[Other]\nX=7\n");
    EXPECT_EQ(DirEntries(), QStringList{"prog.ini"});
}

TEST_F(IniFileTest, CopiesLeftByWritersThatNoLongerRunAreRemoved) {
    // A copy of a writer that was killed, one of a writer still at work (this process's
    // parent stands in for it), and a file of the user's that only looks similar.
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const QString dead = QStringLiteral("prog.ini.%1.tmp").arg(gone);
    const QString live = QStringLiteral("prog.ini.%1.tmp").arg(::getppid());
    for (const QString& name : {dead, live, QStringLiteral("prog.ini.backup")})
        WriteBytes(dir_.path() + "/" + name, "[Common]\n");
    LoadSettings();  // the next start
    QStringList expected{live, "prog.ini.backup"};
    expected.sort();
    EXPECT_EQ(DirEntries(), expected);
    WriteBytes(dir_.path() + "/" + dead, "[Common]\n");
    StoreSettings(40);  // the next write
    expected << "prog.ini";
    expected.sort();
    EXPECT_EQ(DirEntries(), expected);
}

// A writer killed at random points: the file is always the old or the new one, never a
// mix of both, and what the killed writer leaves beside it is gone after the next write.
TEST_F(IniFileTest, KilledWhileWritingLeavesTheOldOrTheNewFile) {
    struct Values {
        int language, transparency, mode;
    };
    const Values a{1, 40, 0}, b{2, 200, 1};
    auto store = [](const Values& v) {
        Settings.UiLanguage = v.language;
        Settings.ViewMode = v.mode;
        StoreSettings(v.transparency);
    };
    store(b);
    const QByteArray contentB = ReadBytes(Path());
    store(a);
    const QByteArray contentA = ReadBytes(Path());
    ASSERT_NE(contentA, contentB);

    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> delayUs(0, 4000);
    int tries = 0, foundA = 0, foundB = 0, copiesLeft = 0;
    QElapsedTimer clock;
    clock.start();
    for (; tries < 300 && clock.elapsed() < 20000; ++tries) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (int k = 0;; ++k) {
                try {
                    store(k % 2 == 0 ? b : a);
                } catch (...) {
                    ::_exit(3);
                }
            }
        }
        ASSERT_GT(writer, 0);
        ::usleep(static_cast<useconds_t>(delayUs(rng)));
        ::kill(writer, SIGKILL);
        int status = 0;
        ::waitpid(writer, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own: " << status;
        const QByteArray now = ReadBytes(Path());
        ASSERT_TRUE(now == contentA || now == contentB) << "try " << tries << ": " << Str(now);
        (now == contentA ? foundA : foundB)++;
        copiesLeft += DirEntries().size() > 1;
        store(a);  // the next write
        ASSERT_EQ(DirEntries(), QStringList{"prog.ini"}) << "try " << tries;
    }
    std::cout << tries << " kills: old file " << foundA << ", new file " << foundB << ", a copy left until the next write "
              << copiesLeft << "\n";
    EXPECT_GE(tries, 100);
    EXPECT_GT(foundA + foundB, 0);
}
#endif

}  // namespace
}  // namespace veresk
