// The archive's ways out of the program: the kept image file (name, atomic write,
// reading back with its size check) and the CSV of every measurement, written byte for
// byte and read back with an independent CSV reader; the CSV record and number texts
// they share with the live log.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <bit>
#include <cmath>
#include <limits>
#include <cstdlib>
#include <ctime>
#include <random>

#include "archive/export.h"
#include "link/codecs.h"
#include "shell/csv.h"
#include "shell/datafolder.h"
#include "support/csv_reader.h"
#include "support/data_files.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

std::string S(const QByteArray& b) { return b.toStdString(); }

// A record: value bits as the device stores them (IEEE single, big-endian) and six
// BCD bytes: second, minute, hour, day, month, year.
void PutRecord(ArchiveImageT& image, int k, uint32_t valueBits, std::array<uint8_t, 6> clock) {
    uint8_t* r = image.data() + k * kArchiveRecordSize;
    PutBE32(r, valueBits);
    std::copy(clock.begin(), clock.end(), r + 4);
}
uint32_t Bits(float v) { return std::bit_cast<uint32_t>(v); }

// Three sessions (a mark, the clock going back), a dated zero and a dated negative
// value that are no measurements, an invalid month, a leap day and a damaged value
// beyond the single-precision range.
ArchiveImageT KnownImage() {
    ArchiveImageT image{};
    // record 0: a session mark
    PutRecord(image, 1, Bits(0.15f), {0x09, 0x05, 0x07, 0x21, 0x03, 0x09});
    PutRecord(image, 2, Bits(0.1f), {0x19, 0x05, 0x07, 0x21, 0x03, 0x09});
    PutRecord(image, 3, 0, {0x29, 0x05, 0x07, 0x21, 0x03, 0x09});
    PutRecord(image, 4, Bits(2.5f), {0x39, 0x05, 0x07, 0x21, 0x03, 0x09});
    // record 5: a session mark
    PutRecord(image, 6, Bits(1e-5f), {0x59, 0x59, 0x23, 0x31, 0x12, 0x10});
    PutRecord(image, 7, Bits(0.123f), {0x00, 0x00, 0x23, 0x31, 0x12, 0x10});  // the clock went back
    PutRecord(image, 8, Bits(1234.5f), {0x00, 0x00, 0x23, 0x31, 0x13, 0x10});  // month 13
    PutRecord(image, 9, Bits(0.25f), {0x00, 0x00, 0x12, 0x29, 0x02, 0x24});   // 29 February 2024
    PutRecord(image, 10, 0x7FFFFFFFu, {0x00, 0x00, 0x00, 0x01, 0x03, 0x24});
    PutRecord(image, 11, Bits(-1.0f), {0x00, 0x00, 0x00, 0x01, 0x03, 0x24});
    return image;
}

const char kKnownCsv[] =
    "session,record,time,dose_rate_usv_h\r\n"
    "1,2,2009-03-21T07:05:09,0.15\r\n"
    "1,3,2009-03-21T07:05:19,0.1\r\n"
    "1,5,2009-03-21T07:05:39,2.5\r\n"
    "2,7,2010-12-31T23:59:59,1e-05\r\n"
    "3,8,2010-12-31T23:00:00,0.123\r\n"
    "3,9,,1234.5\r\n"
    "3,10,2024-02-29T12:00:00,0.25\r\n"
    "3,11,2024-03-01T00:00:00,6.805646932770577e+38\r\n";

// A scratch data folder for one test.
class DataFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        SetDataFolder(dir_.path() + "/data");
    }
    void TearDown() override { SetDataFolder(QString()); }
    QTemporaryDir dir_;
};

}  // namespace

// ---------------------------------------------------------------- shared CSV texts

TEST(CsvTexts, RecordsQuoteOnlyWhatMustBeQuoted) {
    const struct {
        QList<QByteArray> fields;
        const char* line;
    } cases[] = {
        {{"a", "b", "c"}, "a,b,c\r\n"},
        {{"", "x", ""}, ",x,\r\n"},
        {{"1,5"}, "\"1,5\"\r\n"},
        {{"say \"hi\""}, "\"say \"\"hi\"\"\"\r\n"},
        {{"two\r\nlines", "z"}, "\"two\r\nlines\",z\r\n"},
        {{"\xd0\x92\xd0\xb5\xd1\x80\xd0\xb5\xd1\x81\xd0\xba"}, "\xd0\x92\xd0\xb5\xd1\x80\xd0\xb5\xd1\x81\xd0\xba\r\n"},
    };
    for (const auto& c : cases) {
        const QByteArray line = CsvRecord(c.fields);
        EXPECT_EQ(S(line), c.line);
        const auto table = ReadCsv(line);
        ASSERT_TRUE(table.has_value()) << c.line;
        ASSERT_EQ(table->size(), 1);
        EXPECT_EQ(table->front(), c.fields) << c.line;
    }
}

TEST(CsvTexts, ShortestFloatTextsReadBackExactly) {
    const struct {
        float value;
        const char* text;
    } known[] = {
        {0.15f, "0.15"}, {0.1f, "0.1"}, {3950.0f, "3950"}, {23.5f, "23.5"}, {1e-5f, "1e-05"},
        {0.0f, "0"},     {-12.25f, "-12.25"}, {16777216.0f, "16777216"}, {3.4028235e38f, "3.4028235e+38"},
    };
    for (const auto& k : known) EXPECT_EQ(S(ShortestFloatText(k.value)), k.text);

    // Any finite single-precision number comes back bit for bit.
    std::mt19937 rng(17);
    for (int i = 0; i < 20000; ++i) {
        const float v = std::bit_cast<float>(static_cast<uint32_t>(rng()));
        if (!std::isfinite(v)) continue;
        const QByteArray text = ShortestFloatText(v);
        EXPECT_FALSE(text.contains(',')) << S(text);
        EXPECT_EQ(std::bit_cast<uint32_t>(std::strtof(text.constData(), nullptr)), std::bit_cast<uint32_t>(v))
            << S(text);
    }
}

// ---------------------------------------------------------------- record times

TEST(ArchiveExport, RecordTimesAsStoredOrEmpty) {
    const struct {
        std::array<uint8_t, 6> clock;  // s, min, h, day, month, yy
        const char* iso;
    } cases[] = {
        {{0x09, 0x05, 0x07, 0x21, 0x03, 0x09}, "2009-03-21T07:05:09"},
        {{0x00, 0x00, 0x00, 0x01, 0x01, 0x00}, "2000-01-01T00:00:00"},
        {{0x59, 0x59, 0x23, 0x31, 0x12, 0x99}, "2099-12-31T23:59:59"},
        {{0x00, 0x00, 0x12, 0x29, 0x02, 0x24}, "2024-02-29T12:00:00"},
        {{0x00, 0x00, 0x12, 0x29, 0x02, 0x00}, "2000-02-29T12:00:00"},  // 2000 is a leap year
        {{0x00, 0x00, 0x12, 0x29, 0x02, 0x23}, ""},  // 2023 is not
        {{0x00, 0x00, 0x12, 0x31, 0x04, 0x23}, ""},  // 31 April
        {{0x00, 0x00, 0x12, 0x00, 0x04, 0x23}, ""},  // day 0
        {{0x00, 0x00, 0x12, 0x01, 0x00, 0x23}, ""},  // month 0
        {{0x00, 0x00, 0x12, 0x01, 0x13, 0x23}, ""},  // month 13
        {{0x00, 0x00, 0x24, 0x01, 0x01, 0x23}, ""},  // hour 24
        {{0x00, 0x60, 0x00, 0x01, 0x01, 0x23}, ""},  // minute 60
        {{0x60, 0x00, 0x00, 0x01, 0x01, 0x23}, ""},  // second 60
        {{0x0A, 0x00, 0x00, 0x01, 0x01, 0x23}, ""},  // a nibble above 9
        {{0x00, 0x00, 0x00, 0x01, 0x01, 0xFF}, ""},  // erased memory
    };
    for (const auto& c : cases) {
        ArchiveImageT image{};
        PutRecord(image, 0, Bits(1.0f), c.clock);
        EXPECT_EQ(S(RecordIsoTime(ArchiveRecord(image, 0))), c.iso) << c.iso;
    }
}

// ---------------------------------------------------------------- the CSV file

TEST(ArchiveExport, KnownImageByteForByte) {
    EXPECT_EQ(S(ArchiveCsv(KnownImage())), kKnownCsv);
    EXPECT_EQ(S(ArchiveCsv(ArchiveImageT{})), "session,record,time,dose_rate_usv_h\r\n");
}

TEST(ArchiveExport, ParsedBackGivesTheImagesValues) {
    const ArchiveImageT image = KnownImage();
    const auto table = ReadCsv(ArchiveCsv(image));
    ASSERT_TRUE(table.has_value());
    ASSERT_EQ(table->size(), 9);
    EXPECT_EQ(table->at(0), (QList<QByteArray>{"session", "record", "time", "dose_rate_usv_h"}));
    int previousRecord = 0;
    for (qsizetype i = 1; i < table->size(); ++i) {
        const QList<QByteArray>& row = table->at(i);
        ASSERT_EQ(row.size(), 4);
        const int record = row[1].toInt();
        EXPECT_GT(record, previousRecord) << "archive order";
        previousRecord = record;
        const uint8_t* rec = ArchiveRecord(image, record - 1);
        const double stored = DecodeDeviceFloat(rec);
        // Read as single precision, the text gives back the device's number exactly (the
        // damaged one beyond that range reads back as the double it decodes to).
        if (std::fabs(stored) <= std::numeric_limits<float>::max())
            EXPECT_EQ(std::strtof(row[3].constData(), nullptr), static_cast<float>(stored)) << S(row[3]);
        else
            EXPECT_EQ(std::strtod(row[3].constData(), nullptr), stored) << S(row[3]);
        if (!row[2].isEmpty()) {
            // The time field names the stored clock fields.
            EXPECT_EQ(row[2].mid(2, 2).toInt(), DecodeBcd(rec[9]));
            EXPECT_EQ(row[2].mid(17, 2).toInt(), DecodeBcd(rec[4]));
        }
    }
}

// The export numbers the sessions exactly as the session view and its buttons do, also
// for memory that begins without a mark and for a dated record with no value right
// before empty memory: the rows of session s are the rows the view shows for s, and the
// highest session in the file is the count the download finds.
TEST(ArchiveExport, SessionsNumberedAsTheViewNumbersThem) {
    const std::array<uint8_t, 6> t = {0x09, 0x05, 0x07, 0x21, 0x03, 0x09};
    struct Case {
        const char* what;
        std::vector<int> layout;  // per record: 1 measurement, 0 mark, 2 dated record with value 0
        std::vector<int> sessions;  // the session of each measurement, in archive order
    };
    const Case cases[] = {
        {"memory begins with measurements", {1, 1, 1, 0, 1, 1}, {1, 1, 1, 2, 2}},
        {"a dated zero before empty memory", {0, 1, 1, 0, 1, 1, 2}, {1, 1, 2, 2}},
        {"the usual: a mark first", {0, 1, 1, 0, 1}, {1, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveImageT image{};
        for (size_t k = 0; k < c.layout.size(); ++k) {
            if (c.layout[k] == 1) PutRecord(image, static_cast<int>(k), Bits(0.25f), t);
            if (c.layout[k] == 2) PutRecord(image, static_cast<int>(k), 0, t);
        }
        std::vector<int> exported;
        for (const ExportRow& row : ArchiveMeasurements(image)) exported.push_back(row.session);
        EXPECT_EQ(exported, c.sessions);
        int count = 0;
        ShowSession(image, 1, count, QLocale::c());
        EXPECT_EQ(count, c.sessions.back());
        for (int s = 1; s <= count; ++s) {
            int counter = 0;
            std::vector<int> shown, inFile;
            for (const SessionRow& row : ShowSession(image, s, counter, QLocale::c()).rows) shown.push_back(row.record);
            for (const ExportRow& row : ArchiveMeasurements(image))
                if (row.session == s) inFile.push_back(row.record);
            EXPECT_EQ(inFile, shown) << "session " << s;
        }
    }
}

TEST(ArchiveExport, EveryMeasurementOnceInArchiveOrder) {
    // Fuzzed images: whatever the marks, clocks and damaged records, every record with a
    // value above zero gets exactly one row, and no other record does.
    std::mt19937 rng(4);
    for (int round = 0; round < 30; ++round) {
        ArchiveImageT image{};
        const int used = static_cast<int>(rng() % kArchiveRecordCount);
        for (int k = 0; k < used; ++k) {
            switch (rng() % 6) {
                case 0: break;  // a mark
                case 1: PutRecord(image, k, Bits(-0.5f), {0, 0, 0, 1, 1, 0x20}); break;
                default:
                    PutRecord(image, k, Bits(0.05f + static_cast<float>(rng() % 100) / 100.0f),
                              {static_cast<uint8_t>(rng() % 0x60), 0x10, static_cast<uint8_t>(rng() % 0x24), 0x15,
                               static_cast<uint8_t>(1 + rng() % 9), 0x20});
            }
        }
        std::vector<int> expected;
        for (int k = 0; k < kArchiveRecordCount; ++k)
            if (DecodeDeviceFloat(ArchiveRecord(image, k)) > 0) expected.push_back(k + 1);
        std::vector<int> got;
        for (const ExportRow& row : ArchiveMeasurements(image)) got.push_back(row.record);
        EXPECT_EQ(got, expected) << "round " << round;
    }
}

TEST_F(DataFolderTest, CsvSavedWholeOrNotAtAll) {
    const QString path = dir_.path() + "/all.csv";
    ASSERT_TRUE(SaveArchiveCsv(KnownImage(), path));
    EXPECT_EQ(S(ReadAll(path)), kKnownCsv);
    // A folder that does not exist: nothing written, and nothing left behind.
    EXPECT_FALSE(SaveArchiveCsv(KnownImage(), dir_.path() + "/missing/all.csv"));
    EXPECT_FALSE(QFileInfo::exists(dir_.path() + "/missing"));
}

// ---------------------------------------------------------------- image files

TEST(ArchiveImageFiles, NamedAfterThePcsLocalTime) {
    EXPECT_EQ(ArchiveImageFileName(LocalTime(2026, 12, 10, 14, 3, 27)), "2026-12-10_14-03-27.bin");
    EXPECT_EQ(ArchiveImageFileName(LocalTime(2027, 1, 1, 0, 0, 0)), "2027-01-01_00-00-00.bin");
    EXPECT_EQ(ArchiveImageFileName(LocalTime(2026, 12, 31, 23, 59, 59)), "2026-12-31_23-59-59.bin");
}

TEST_F(DataFolderTest, KeptImageReadsBackAndWrongFilesAreRefused) {
    ArchiveImageT image = KnownImage();
    image[kArchiveSize - 1] = 0x5A;  // the last byte belongs to no record, and is kept too
    const std::time_t when = LocalTime(2026, 12, 10, 14, 3, 27);
    const QString path = KeepArchiveImage(image, when);
    EXPECT_EQ(path, dir_.path() + "/data/archives/2026-12-10_14-03-27.bin");
    const QByteArray bytes = ReadAll(path);
    ASSERT_EQ(bytes.size(), kArchiveSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), reinterpret_cast<const uint8_t*>(bytes.constData())));
    EXPECT_EQ(QDir(dir_.path() + "/data/archives").entryList(QDir::Files | QDir::Hidden).size(), 1);  // no temporary

    ArchiveImageT loaded{};
    EXPECT_EQ(LoadArchiveImage(path, loaded), ImageFileStatus::Loaded);
    EXPECT_EQ(loaded, image);

    // The same local time again (a second download within the second, or the repeated
    // hour after the clocks went back): the first file stays as it was.
    ArchiveImageT second{};
    second[0] = 0x42;
    EXPECT_EQ(KeepArchiveImage(second, when), dir_.path() + "/data/archives/2026-12-10_14-03-27_2.bin");
    EXPECT_EQ(KeepArchiveImage(second, when), dir_.path() + "/data/archives/2026-12-10_14-03-27_3.bin");
    EXPECT_EQ(LoadArchiveImage(path, loaded), ImageFileStatus::Loaded);
    EXPECT_EQ(loaded, image);
    EXPECT_EQ(LoadArchiveImage(dir_.path() + "/data/archives/2026-12-10_14-03-27_2.bin", loaded),
              ImageFileStatus::Loaded);
    EXPECT_EQ(loaded, second);

    const QString other = dir_.path() + "/other.bin";
    const struct {
        QByteArray content;
        ImageFileStatus status;
    } wrong[] = {
        {QByteArray(), ImageFileStatus::WrongSize},
        {QByteArray(kArchiveSize - 1, 'x'), ImageFileStatus::WrongSize},
        {QByteArray(kArchiveSize + 1, 'x'), ImageFileStatus::WrongSize},
        {QByteArray(3 * kArchiveSize, 'x'), ImageFileStatus::WrongSize},
    };
    for (const auto& w : wrong) {
        WriteAll(other, w.content);
        ArchiveImageT kept = image;
        EXPECT_EQ(LoadArchiveImage(other, kept), w.status) << w.content.size();
        EXPECT_EQ(kept, image) << "a refused file changes nothing";
    }
    ArchiveImageT kept = image;
    EXPECT_EQ(LoadArchiveImage(dir_.path() + "/none.bin", kept), ImageFileStatus::Unreadable);
    EXPECT_EQ(LoadArchiveImage(dir_.path(), kept), ImageFileStatus::Unreadable);  // a folder
    EXPECT_EQ(kept, image);
}

TEST_F(DataFolderTest, ImageThatCannotBeKeptLeavesNothing) {
    // The data folder's place is taken by a file: no archives folder can be made.
    WriteAll(dir_.path() + "/data", "not a folder");
    EXPECT_EQ(KeepArchiveImage(KnownImage(), LocalTime(2026, 12, 10, 14, 3, 27)), QString());
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{"data"});
}

TEST(DataFolder, FollowsXdgDataHome) {
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    const bool had = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    EXPECT_EQ(DataFolder(), dir.path() + "/veresk");
    EXPECT_EQ(ArchivesFolder(), dir.path() + "/veresk/archives");
    EXPECT_EQ(LiveLogFolder(), dir.path() + "/veresk/log");
    SetDataFolder("/elsewhere");
    EXPECT_EQ(ArchivesFolder(), "/elsewhere/archives");
    SetDataFolder(QString());
    if (had) qputenv("XDG_DATA_HOME", old);
    else qunsetenv("XDG_DATA_HOME");
}
