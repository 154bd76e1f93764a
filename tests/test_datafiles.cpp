// The program's data files on the windows: every good download kept as an image file,
// opening one without the device, the CSV export from the archive tab, the live log of
// the view menu and its place in prog.ini.  Against the simulator over a pty, with the
// data folder in a scratch XDG_DATA_HOME and the file dialogs answered by the test.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <bit>
#include <ctime>

#include "archive/archive.h"
#include "archive/export.h"
#include "link/codecs.h"
#include "monitor/clock.h"
#include "monitor/livelog.h"
#include "shell/datafiles.h"
#include "support/csv_reader.h"
#include "support/data_files.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

// An archive of three sessions (marks and a clock that went back), filling two blocks.
std::vector<uint8_t> ThreeSessionArchive() {
    std::vector<uint8_t> image(kArchiveSize, 0);
    int k = 1;  // record 0 is a session mark
    long long t = 1237619109;  // 2009-03-21 07:05:09 on the device's wall clock
    auto measure = [&](float v) {
        uint8_t* r = image.data() + kArchiveRecordSize * k++;
        PutBE32(r, std::bit_cast<uint32_t>(v));
        const long long days = t / 86400, s = t % 86400;
        // Civil date from days since 1970 (the device's own clock, no zone).
        const long long z = days + 719468, era = z / 146097, doe = z - era * 146097;
        const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
        const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1), month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
        const int year = static_cast<int>(yoe + era * 400 + (month <= 2));
        const uint8_t clock[6] = {EncodeBcd(static_cast<int>(s % 60)), EncodeBcd(static_cast<int>(s / 60 % 60)),
                                  EncodeBcd(static_cast<int>(s / 3600)), EncodeBcd(day), EncodeBcd(month),
                                  EncodeBcd(year - 2000)};
        std::copy(clock, clock + 6, r + 4);
        t += 10;
    };
    for (int i = 0; i < 5; ++i) measure(0.1f + 0.01f * static_cast<float>(i));
    ++k;  // a mark
    for (int i = 0; i < 250; ++i) measure(0.2f + 0.001f * static_cast<float>(i % 7));
    t -= 7200;  // the clock went back: a new session without a mark
    for (int i = 0; i < 3; ++i) measure(1.5f);
    return image;
}

// What the archive tab shows, to compare two ways of getting the same image.
struct ArchiveViewSnapshot {
    QString edit2;
    std::vector<QStringList> grid;
    QStringList stats;
    QList<QPointF> points;
    int sessionCount = 0;
    bool operator==(const ArchiveViewSnapshot&) const = default;
};

ArchiveViewSnapshot Snapshot() {
    ArchiveViewSnapshot v;
    v.edit2 = Form1->Edit2->text();
    for (int r = 0; r < Form1->StringGrid8->RowCount(); ++r)
        v.grid.push_back({Form1->StringGrid8->Cell(0, r), Form1->StringGrid8->Cell(1, r),
                          Form1->StringGrid8->Cell(2, r)});
    for (int r = 0; r < 5; ++r) v.stats << Form1->StringGrid3->Cell(0, r) + '|' + Form1->StringGrid3->Cell(1, r);
    v.points = Form1->Series12->points();
    v.sessionCount = Archive.SessionCount;
    return v;
}

class DataFiles : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        ResetArchiveState();
        simulator.WithDevice([](sim::Device& d) {
            d.State().archive = ThreeSessionArchive();
            d.State().archiveFill = 0;
        });
    }
    void TearDown() override {
        SetFileDialogSeam(nullptr);
        GuiTest::TearDown();
        ResetArchiveState();
    }
    QString Archives() const { return xdg.DataFolder() + "/archives"; }
    QStringList KeptFiles() const { return QDir(Archives()).entryList(QDir::Files | QDir::Hidden); }
    // The file dialogs answer with `path` and note what they were asked.
    void Answer(const QString& path) {
        SetFileDialogSeam([this, path](FileDialogKind kind, const QString& start) {
            asked.emplace_back(kind, start);
            return path;
        });
    }
    std::vector<std::pair<FileDialogKind, QString>> asked;
};

}  // namespace

// ---------------------------------------------------------------- kept downloads

TEST_F(DataFiles, GoodDownloadKeepsTheImageFailedOneNothing) {
    StartWithDevice();
    SetPcClockSource([] { return LocalTime(2026, 12, 10, 14, 3, 27); });
    Form1->Button1->click();
    ASSERT_EQ(StatusText(), U("Прочитано"));
    ASSERT_EQ(KeptFiles(), QStringList{"2026-12-10_14-03-27.bin"});
    // The file holds the memory as the simulator has it.
    std::vector<uint8_t> memory;
    simulator.WithDevice([&](sim::Device& d) { memory = d.State().archive; });
    const QByteArray kept = ReadAll(Archives() + "/2026-12-10_14-03-27.bin");
    EXPECT_EQ(std::vector<uint8_t>(kept.begin(), kept.end()), memory);
    EXPECT_FALSE(Form1->KeepNoticeTimer->isActive());

    // A download that fails part-way keeps nothing.
    SetPcClockSource([] { return LocalTime(2026, 12, 10, 15, 0, 0); });
    simulator.CorruptNextCrc(11);
    Form1->Button1->click();
    EXPECT_EQ(StatusText(), U("Ошибка связи"));
    EXPECT_EQ(KeptFiles(), QStringList{"2026-12-10_14-03-27.bin"});
    simulator.CorruptNextCrc(0);
}

TEST_F(DataFiles, ImageThatCannotBeKeptIsToldAfterReadOk) {
    // The data folder cannot be made: a file stands where it should be.
    ASSERT_TRUE(QDir().mkpath(xdg.DataHome()));
    WriteAll(xdg.DataFolder(), "in the way");
    StartWithDevice();
    for (int language : {1, 2}) {
        Settings.UiLanguage = language;
        Form1->Button1->click();
        // The download itself is whole.
        EXPECT_EQ(StatusText(), language == 1 ? U("Прочитано") : U("Read OK"));
        EXPECT_TRUE(Archive.ArchiveLoaded);
        EXPECT_EQ(Form1->Edit2->text(), language == 1 ? U(" 1 из 3") : U(" 1 of 3"));
        EXPECT_EQ(Form1->StringGrid8->Cell(0, 1), "2");
        ASSERT_TRUE(Form1->KeepNoticeTimer->isActive());
        QTest::qWait(kKeepNoticeDelayMs + 300);
        EXPECT_EQ(StatusText(), language == 1 ? U("Архив не сохранён в файл") : U("Archive not saved to a file"));
        EXPECT_TRUE(StatusRed());
        EXPECT_FALSE(Form1->KeepNoticeTimer->isActive()) << "shown once";
    }
}

// ---------------------------------------------------------------- opening a kept archive

TEST_F(DataFiles, OpenedFileShowsWhatTheDownloadShowed) {
    StartWithDevice();
    Form1->CheckBox1->setChecked(true);
    Form1->Button1->click();
    ASSERT_EQ(KeptFiles().size(), 1);
    const QString kept = Archives() + '/' + KeptFiles().front();
    // The download's view, and the session files written while stepping through.
    std::vector<ArchiveViewSnapshot> downloaded{Snapshot()};
    std::vector<QByteArray> files;
    for (int i = 0; i < 3; ++i) {
        Form1->BitBtn11->click();
        downloaded.push_back(Snapshot());
        files.push_back(ReadAll(workdir.filePath(SessionFileName(Archive.CurrentSession))));
    }

    // Erased and forgotten; from here on no exchange may happen.
    simulator.ClearLog();
    Form1->Button7->click();
    ASSERT_FALSE(Archive.ArchiveLoaded);
    for (int i = 1; i <= 3; ++i) QFile::remove(workdir.filePath(SessionFileName(i)));
    ASSERT_TRUE(simulator.WaitForRequests(1, 3000));  // the erase command has arrived
    simulator.ClearLog();
    Form1->Timer1->SetEnabled(true);
    Form1->Timer2->SetEnabled(false);

    Answer(kept);
    Form1->Button8->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, FileDialogKind::OpenArchive);
    EXPECT_EQ(asked[0].second, Archives());
    EXPECT_EQ(StatusText(), U("Открыт ") + QFileInfo(kept).fileName());
    EXPECT_FALSE(StatusRed());
    EXPECT_TRUE(Archive.ArchiveLoaded);
    EXPECT_EQ(Snapshot(), downloaded[0]);
    for (int i = 0; i < 3; ++i) {
        Form1->BitBtn11->click();
        EXPECT_EQ(Snapshot(), downloaded[static_cast<size_t>(i) + 1]) << "step " << i;
        EXPECT_EQ(ReadAll(workdir.filePath(SessionFileName(Archive.CurrentSession))), files[static_cast<size_t>(i)]);
    }
    // Polling was left as it was, and nothing went to the device.
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_FALSE(Form1->Timer2->Enabled());
    EXPECT_TRUE(simulator.Requests().empty());
    Form1->Timer1->SetEnabled(false);
}

TEST_F(DataFiles, WrongFilesAreRefusedAndTheViewStays) {
    StartWithDevice();
    Form1->Button1->click();
    Form1->BitBtn11->click();
    const ArchiveViewSnapshot before = Snapshot();
    const ArchiveImageT image = Archive.ArchiveImage;
    const int current = Archive.CurrentSession;
    const QString folder = workdir.path();
    WriteAll(folder + "/short.bin", QByteArray(kArchiveSize - 10, '\x01'));
    WriteAll(folder + "/long.bin", QByteArray(kArchiveSize + 1, '\x01'));
    WriteAll(folder + "/empty.bin", QByteArray());
    const struct {
        const char* file;
        int language;
        const char* message;
    } cases[] = {
        {"short.bin", 1, "Не архив: short.bin"},
        {"long.bin", 2, "Not an archive: long.bin"},
        {"empty.bin", 1, "Не архив: empty.bin"},
        {"none.bin", 1, "Не читается: none.bin"},
        {"none.bin", 2, "Cannot read: none.bin"},
    };
    for (const auto& c : cases) {
        Settings.UiLanguage = c.language;
        Answer(folder + '/' + c.file);
        Form1->Button8->click();
        EXPECT_EQ(StatusText(), U(c.message));
        EXPECT_TRUE(StatusRed());
        Settings.UiLanguage = 1;
        EXPECT_EQ(Snapshot(), before) << c.file;
        EXPECT_EQ(Archive.ArchiveImage, image);
        EXPECT_EQ(Archive.CurrentSession, current);
        EXPECT_TRUE(Archive.ArchiveLoaded);
    }
    // A cancelled dialog changes nothing, not even the status line.
    Form1->StatusMessage(msg::ReadOk, false);
    Answer(QString());
    Form1->Button8->click();
    EXPECT_EQ(StatusText(), U("Прочитано"));
    EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------------- CSV export

TEST_F(DataFiles, ExportWritesEveryMeasurement) {
    StartWithDevice();
    // Nothing to export yet.
    Answer(workdir.filePath("never.csv"));
    Form1->Button9->click();
    EXPECT_EQ(StatusText(), U("Нет архива"));
    EXPECT_TRUE(asked.empty());

    SetPcClockSource([] { return LocalTime(2026, 12, 10, 14, 3, 27); });
    Form1->Button1->click();
    const QString out = workdir.filePath("all.csv");
    Answer(out);
    Form1->Button9->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, FileDialogKind::ExportCsv);
    EXPECT_EQ(asked[0].second, Archives() + "/2026-12-10_14-03-27.csv");
    EXPECT_EQ(StatusText(), U("Записан all.csv"));
    const QByteArray csv = ReadAll(out);
    EXPECT_EQ(csv, ArchiveCsv(Archive.ArchiveImage));
    const auto table = ReadCsv(csv);
    ASSERT_TRUE(table.has_value());
    ASSERT_EQ(table->size(), 1 + 5 + 250 + 3);
    EXPECT_EQ(table->at(1), (QList<QByteArray>{"1", "2", "2009-03-21T07:05:09", "0.1"}));
    EXPECT_EQ(table->at(6).at(0), "2");
    EXPECT_EQ(table->at(6).at(1), "8");
    EXPECT_EQ(table->back(), (QList<QByteArray>{"3", "260", "2009-03-21T05:47:59", "1.5"}));

    // A second download in the same second is kept beside the first, and named so.
    Form1->Button1->click();
    EXPECT_EQ(KeptFiles(), (QStringList{"2026-12-10_14-03-27.bin", "2026-12-10_14-03-27_2.bin"}));
    asked.clear();
    Answer(out);
    Form1->Button9->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].second, Archives() + "/2026-12-10_14-03-27_2.csv");
    asked.clear();

    // From an opened file the name comes from that file.
    const QString copy = workdir.filePath("station-a.bin");
    ASSERT_TRUE(QFile::copy(Archives() + "/2026-12-10_14-03-27.bin", copy));
    Answer(copy);
    Form1->Button8->click();
    asked.clear();
    Settings.UiLanguage = 2;
    Answer(workdir.filePath("missing/folder.csv"));
    Form1->Button9->click();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].second, Archives() + "/station-a.csv");
    EXPECT_EQ(StatusText(), "Cannot write: folder.csv");
    EXPECT_TRUE(StatusRed());
}

// ---------------------------------------------------------------- live log

TEST_F(DataFiles, LogTickItemWritesDisplayedTicksAndReportsFailureOnce) {
    StartWithDevice();
    EXPECT_FALSE(Form1->N22->isChecked());
    EXPECT_TRUE(Form1->N22->isCheckable());
    EXPECT_EQ(Form1->N22->text(), U("Журнал"));
    const QString logDir = xdg.DataFolder() + "/log";
    AtStartOfSecond();
    Form1->Timer1Timer();
    EXPECT_FALSE(QDir(logDir).exists()) << "nothing logged while the item is not ticked";

    Form1->N22->trigger();
    EXPECT_TRUE(Form1->N22->isChecked());
    EXPECT_EQ(Settings.LiveLog, 1);
    std::vector<std::time_t> times;
    for (int i = 0; i < 3; ++i) {
        AtStartOfSecond();
        times.push_back(PcNow());
        Form1->Timer1Timer();
        EXPECT_EQ(StatusText(), U("Чтение"));
    }
    const QString file = logDir + '/' + LiveLogFileName(times.back());
    const auto table = ReadCsv(ReadAll(file));
    ASSERT_TRUE(table.has_value());
    ASSERT_EQ(table->size(), 4);
    EXPECT_EQ(table->at(0).at(0), "time");
    for (int i = 0; i < 3; ++i) {
        const QList<QByteArray>& row = table->at(i + 1);
        ASSERT_EQ(row.size(), 9);
        EXPECT_EQ(row[0], LocalIsoTime(times[static_cast<size_t>(i)]));
    }
    // The last row holds what the last tick showed.
    EXPECT_EQ(table->back().at(1).toFloat(), Polling.LiveStatus.DoseRate);
    EXPECT_EQ(table->back().at(8).toInt(), Polling.LiveStatus.ArchiveFill);

    // The log folder becomes unwritable: told once, polling goes on.
    ASSERT_TRUE(QDir(logDir).removeRecursively());
    WriteAll(logDir, "in the way");
    Form1->Timer1->SetEnabled(true);
    Form1->Timer1Timer();
    EXPECT_EQ(StatusText(), U("Журнал не записан"));
    EXPECT_TRUE(StatusRed());
    Form1->Timer1Timer();
    EXPECT_EQ(StatusText(), U("Чтение")) << "reported once";
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_FALSE(Form1->Edit4->text().isEmpty());
    // Written again after the way is free; a later failure is told again.
    ASSERT_TRUE(QFile::remove(logDir));
    Form1->Timer1Timer();
    EXPECT_EQ(StatusText(), U("Чтение"));
    ASSERT_TRUE(QDir(logDir).removeRecursively());
    WriteAll(logDir, "in the way");
    Settings.UiLanguage = 2;
    Form1->Timer1Timer();
    EXPECT_EQ(StatusText(), "Log not written");
    Form1->Timer1->SetEnabled(false);

    Form1->N22->trigger();
    EXPECT_EQ(Settings.LiveLog, 0);
}

TEST_F(DataFiles, LogChoiceRoundTripsThroughProgIni) {
    WriteSettings("; mine\r\n[Common]\r\nLanguage=2\r\nLiveLog=1\r\nColour=7\r\n[Other]\r\nLiveLog=9\r\n");
    StartWithDevice();
    EXPECT_EQ(Settings.LiveLog, 1);
    EXPECT_TRUE(Form1->N22->isChecked());
    EXPECT_EQ(Form1->N22->text(), "Log");
    EXPECT_EQ(Form1->Button8->text(), U("Open…"));
    EXPECT_EQ(Form1->Button9->text(), U("Export…"));
    Form1->N22->trigger();
    Form1->N8Click();
    EXPECT_EQ(ReadAll(workdir.filePath("prog.ini")),
              "; mine\r\n[Common]\r\nLanguage=2\r\nLiveLog=0\r\nColour=7\r\nTransparent=40\r\nMode=0\r\n"
              "[Other]\r\nLiveLog=9\r\n");
    DestroyForms();
    ResetAllState();
    CreateForms();  // the next start
    Form1->show();
    Form1->Timer1->SetEnabled(false);
    EXPECT_EQ(Settings.LiveLog, 0);
    EXPECT_FALSE(Form1->N22->isChecked());
    Form1->N22->trigger();
    Form1->N8Click();
    EXPECT_TRUE(ReadAll(workdir.filePath("prog.ini")).contains("\r\nLiveLog=1\r\n"));
    EXPECT_TRUE(ReadAll(workdir.filePath("prog.ini")).contains("[Other]\r\nLiveLog=9\r\n"));
}

TEST_F(DataFiles, LogStartsANewFileAtLocalMidnight) {
    StartWithDevice();
    Form1->N22->trigger();
    // The PC clock runs at its real pace from 23:59:57 on 10 December 2026, local time.
    auto shift = std::make_shared<std::time_t>(0);
    SetPcClockSource([shift] { return std::time(nullptr) + *shift; });
    AtStartOfSecond();
    *shift = LocalTime(2026, 12, 10, 23, 59, 57) - std::time(nullptr);
    Form1->Timer1Timer();  // the device clock is set to the PC's; nothing is displayed
    AtStartOfSecond();
    const std::time_t before = PcNow();
    Form1->Timer1Timer();
    *shift += 4;  // past midnight; the device clock is 4 s behind, close enough to display
    AtStartOfSecond();
    const std::time_t after = PcNow();
    Form1->Timer1Timer();
    const QString logDir = xdg.DataFolder() + "/log";
    EXPECT_EQ(QDir(logDir).entryList(QDir::Files), (QStringList{"2026-12-10.csv", "2026-12-11.csv"}));
    const auto first = ReadCsv(ReadAll(logDir + "/2026-12-10.csv"));
    const auto second = ReadCsv(ReadAll(logDir + "/2026-12-11.csv"));
    ASSERT_TRUE(first.has_value() && second.has_value());
    ASSERT_EQ(first->size(), 2);
    ASSERT_EQ(second->size(), 2);
    EXPECT_EQ(first->at(1).at(0), LocalIsoTime(before));
    EXPECT_EQ(second->at(0).at(0), "time");
    EXPECT_EQ(second->at(1).at(0), LocalIsoTime(after));
    EXPECT_TRUE(second->at(1).at(0).startsWith("2026-12-11T00:00:0"));
}
