// "Сохранить параметры", "Сбросить дозу" and "Заводские настройки": the payload built
// from the controls, and what goes over the wire to the simulator.
#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <functional>
#include <stdexcept>

#include "link/codecs.h"
#include "support/gui_fixture.h"
#include "settings/writeback.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

std::string Bytes(const uint8_t* p, int offset, int n) { return Hex(p + offset, static_cast<size_t>(n)); }
std::string Buffer(int offset, int n) { return Bytes(Link.IoBuffer.data(), offset, n); }
std::string Payload(const std::vector<uint8_t>& p, int offset, int n) {
    if (static_cast<int>(p.size()) < offset + n) return "short payload";
    return Bytes(p.data(), offset, n);
}

// Controls that build without complaint; each test changes what it looks at.
ParameterControls PlainControls() {
    ParameterControls c;
    c.ComboBox8 = c.ComboBox3 = c.ComboBox1 = c.ComboBox4 = c.ComboBox2 = c.ComboBox5 = c.ComboBox6 = c.ComboBox7 = 0;
    c.RateCells = {"1", "2", "3"};
    c.DoseCells = {"1", "2", "3"};
    return c;
}

const QLocale kPoint = QLocale::c();
const QLocale kComma{QLocale::Russian};

// ------------------------------------------------------------ the payload, window-free

TEST(ParameterPayload, LayoutFromControlsAndLastRead) {
    ParameterValuesT v;
    v.Word0 = 0x1234;
    v.Long2 = static_cast<int32_t>(0x89ABCDEFu);
    v.AccumulatedDoseTime = 3600;
    v.FirmwareVersion = 12;
    v.BacklightTime = 60;
    v.RateThresholdSetting = 2;
    v.Float30 = 1.0;
    v.Float34 = -1.0f;
    v.Float38 = 100.0f;
    v.StoredDose = 7.0f;  // not sent: offset 42 carries the live dose
    v.Long46 = 0x01020304;
    v.EditionFlags = 0xFB;
    ParameterControls c;
    c.ComboBox8 = 2;  // "3 мин"
    c.ComboBox3 = 1;
    c.ComboBox1 = 1;
    c.ComboBox4 = 0;
    c.ComboBox2 = 1;
    c.ComboBox5 = 0;
    c.ComboBox6 = 3;
    c.ComboBox7 = 2;
    c.RateCells = {"0.3", "-", "12"};
    c.DoseCells = {"-", "5", "-2"};
    Link.IoBuffer.fill(0x5A);

    BuildParameterPayload(c, v, 2.5f, kPoint, 1);

    const std::string expected =
        "12 34 89 AB CD EF 00 00 0E 10 "   // 0, 2, 6 (dose time)
        "0C B4 01 01 00 01 01 03 "         // 10 version, 11-17 selectors
        "3E 9A 1C AC 00 00 00 00 41 40 04 18 "  // 18, 22, 26: 0.301, 0, 12.001
        "3F 80 00 00 FF FF FF FF 42 C8 00 00 "  // 30 = 1, 34 negative: left erased, 38 = 100
        "40 20 00 00 01 02 03 04 "         // 42 live dose 2.5, 46
        "3A 83 12 6E 40 A0 08 31 40 00 00 00 "  // 50, 54, 58: 0.001, 5.001, |-2|
        "03 FB FF FF";                     // 62, 63, 64-65
    EXPECT_EQ(Buffer(0, 66), expected);
    for (int i = 66; i < 1000; ++i) ASSERT_EQ(Link.IoBuffer[i], 0xFF) << "byte " << i;
    EXPECT_EQ(Link.IoBuffer[1000], 0x5A);
}

TEST(ParameterPayload, ThresholdCells) {
    struct Case {
        const QLocale* locale;
        std::array<const char*, 3> rate, dose;
        const char* rateBytes;  // offsets 18-29
        const char* doseBytes;  // offsets 50-61
    };
    const Case cases[] = {
        {&kPoint, {"0.3", "-", "12"}, {"-", "5", "-2"},
         "3E 9A 1C AC 00 00 00 00 41 40 04 18", "3A 83 12 6E 40 A0 08 31 40 00 00 00"},
        {&kComma, {"0,3", "-", "12"}, {"-", "5", "-2"},
         "3E 9A 1C AC 00 00 00 00 41 40 04 18", "3A 83 12 6E 40 A0 08 31 40 00 00 00"},
        // Zero and negatives: a dose-rate value is raised only above 0, a dose value from 0 up.
        {&kPoint, {"0", "-0.5", "-2.5"}, {"0", "-0.5", "-2.5"},
         "00 00 00 00 3F 00 00 00 40 20 00 00", "3A 83 12 6E 3F 00 00 00 40 20 00 00"},
    };
    for (const Case& k : cases) {
        ParameterControls c = PlainControls();
        for (int i = 0; i < 3; ++i) {
            c.RateCells[i] = QString::fromUtf8(k.rate[i]);
            c.DoseCells[i] = QString::fromUtf8(k.dose[i]);
        }
        BuildParameterPayload(c, ParameterValuesT{}, 0, *k.locale, 1);
        EXPECT_EQ(Buffer(18, 12), k.rateBytes) << k.rate[0] << " " << k.locale->name().toStdString();
        EXPECT_EQ(Buffer(50, 12), k.doseBytes) << k.dose[0] << " " << k.locale->name().toStdString();
    }
}

TEST(ParameterPayload, SelectorBytes) {
    struct Case {
        int ParameterControls::*selector;
        uint8_t ParameterValuesT::*lastRead;
        int offset;
        int item;
        uint8_t expected;
    };
    // Last read: every byte 0x77, so a byte taken from the read is recognisable.
    const Case cases[] = {
        {&ParameterControls::ComboBox8, &ParameterValuesT::BacklightTime, 11, 0, 10},
        {&ParameterControls::ComboBox8, &ParameterValuesT::BacklightTime, 11, 1, 60},
        {&ParameterControls::ComboBox8, &ParameterValuesT::BacklightTime, 11, 2, 0xB4},
        {&ParameterControls::ComboBox8, &ParameterValuesT::BacklightTime, 11, -1, 0x77},
        {&ParameterControls::ComboBox3, &ParameterValuesT::DisplayMode, 12, 2, 2},
        {&ParameterControls::ComboBox3, &ParameterValuesT::DisplayMode, 12, 3, 0x77},
        {&ParameterControls::ComboBox1, &ParameterValuesT::SoundOn, 13, 1, 1},
        {&ParameterControls::ComboBox4, &ParameterValuesT::DeviceLanguage, 14, 1, 1},
        {&ParameterControls::ComboBox4, &ParameterValuesT::DeviceLanguage, 14, -1, 0x77},
        {&ParameterControls::ComboBox2, &ParameterValuesT::DisplayView, 15, 1, 1},
        {&ParameterControls::ComboBox5, &ParameterValuesT::RateThresholdSetting, 16, 0, 1},
        {&ParameterControls::ComboBox5, &ParameterValuesT::RateThresholdSetting, 16, 2, 3},
        {&ParameterControls::ComboBox6, &ParameterValuesT::Backlight, 17, 3, 3},
        {&ParameterControls::ComboBox6, &ParameterValuesT::Backlight, 17, 4, 0x77},
        {&ParameterControls::ComboBox7, &ParameterValuesT::DoseThresholdSetting, 62, 0, 1},
        {&ParameterControls::ComboBox7, &ParameterValuesT::DoseThresholdSetting, 62, 3, 0x77},  // the empty item
        {&ParameterControls::ComboBox7, &ParameterValuesT::DoseThresholdSetting, 62, -1, 0x77},
    };
    for (const Case& k : cases) {
        ParameterValuesT v;
        v.*k.lastRead = 0x77;
        ParameterControls c = PlainControls();
        c.*k.selector = k.item;
        BuildParameterPayload(c, v, 0, kPoint, 1);
        EXPECT_EQ(Link.IoBuffer[k.offset], k.expected) << "offset " << k.offset << " item " << k.item;
    }
}

TEST(ParameterPayload, CarriedFloatsAndLiveDose) {
    struct Case {
        const char* what;
        std::function<void(ParameterValuesT&, float&)> set;
        int offset;
        const char* expected;
    };
    const Case cases[] = {
        {"offset 30 zero", [](ParameterValuesT& v, float&) { v.Float30 = 0; }, 30, "00 00 00 00"},
        {"offset 30 negative", [](ParameterValuesT& v, float&) { v.Float30 = -1; }, 30, "FF FF FF FF"},
        {"offset 30 beyond single", [](ParameterValuesT& v, float&) { v.Float30 = std::ldexp(1.0, 130); }, 30,
         "7F 7F FF FF"},
        {"offset 34", [](ParameterValuesT& v, float&) { v.Float34 = 3.0f; }, 34, "40 40 00 00"},
        {"offset 38 negative", [](ParameterValuesT& v, float&) { v.Float38 = -0.5f; }, 38, "FF FF FF FF"},
        {"live dose", [](ParameterValuesT& v, float& d) { v.StoredDose = 1; d = 0.5f; }, 42, "3F 00 00 00"},
        {"live dose negative", [](ParameterValuesT& v, float& d) { v.StoredDose = 1; d = -3; }, 42, "FF FF FF FF"},
    };
    for (const Case& k : cases) {
        ParameterValuesT v;
        v.Float30 = v.Float34 = v.Float38 = 1;
        float dose = 1;
        k.set(v, dose);
        BuildParameterPayload(PlainControls(), v, dose, kPoint, 1);
        EXPECT_EQ(Buffer(k.offset, 4), k.expected) << k.what;
    }
}

TEST(ParameterPayload, CellThatCannotBeSentStopsBeforeTheBuffer) {
    struct Case {
        const QLocale* locale;
        bool doseGrid;
        const char* text;
    };
    const Case cases[] = {
        {&kPoint, false, "abc"},
        {&kPoint, true, ""},
        {&kPoint, false, " - "},     // only the bare dash means 0
        {&kPoint, true, "1,500"},    // not 1500: group separators are refused
        {&kComma, false, "0.3"},     // the user's separator is the comma
        {&kPoint, true, "12abc"},
        {&kPoint, false, "inf"},
        {&kPoint, true, "nan"},
        {&kPoint, false, "1e39"},    // beyond single precision
        {&kPoint, true, "-1e-40"},   // below the normal range (negatives are not raised)
    };
    // The message names the text, in the interface language.
    const char* messages[] = {"\"%1\" — не число", "\"%1\" is not a number"};
    for (const Case& k : cases) {
        for (int language : {1, 2}) {
            ParameterControls c = PlainControls();
            (k.doseGrid ? c.DoseCells : c.RateCells)[2] = QString::fromUtf8(k.text);
            const QString expected = QString::fromUtf8(messages[language - 1]).arg(QString::fromUtf8(k.text));
            Link.IoBuffer.fill(0x5A);
            try {
                BuildParameterPayload(c, ParameterValuesT{}, 0, *k.locale, language);
                ADD_FAILURE() << "'" << k.text << "' was taken";
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(QString::fromUtf8(e.what()), expected);
            }
            try {
                CheckThresholdCells(c, *k.locale, language);
                ADD_FAILURE() << "'" << k.text << "' passed the check";
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(QString::fromUtf8(e.what()), expected);
            }
            for (int i = 0; i < 1000; ++i) ASSERT_EQ(Link.IoBuffer[i], 0x5A) << "'" << k.text << "' byte " << i;
        }
    }
    EXPECT_NO_THROW(CheckThresholdCells(PlainControls(), kPoint, 1));
}

// ------------------------------------------------------------ the buttons, on the wire

constexpr uint8_t kBarrier = 0x77;  // a request the device ignores

class WriteBack : public GuiTest {
protected:
    std::vector<uint8_t> readBlock;  // the parameter block as the start-up read got it
    std::string lastRaw;             // what Sent() saw on the wire, without its own request

    // The device on COM3, the program started, its parameters read; polling off.
    void Boot() {
        simulator.WithDevice([](sim::Device& d) {
            auto& s = d.State();
            auto& p = s.parameters;
            PutBE16(&p[param_offset::Word0], 0xA1B2);
            PutBE32(&p[param_offset::Long2], 0xDEADBEEF);
            PutBE32(&p[param_offset::Long46], 0x01020304);
            p[param_offset::FirmwareVersion] = 12;
            p[param_offset::BacklightTime] = 60;
            p[param_offset::RateThresholdSetting] = 2;
            p[param_offset::DoseThresholdSetting] = 1;
            p[param_offset::EditionFlags] = 0xFB;
            s.doseTime = 3600;
            s.dose = 12.3456;
        });
        simulator.WithDevice([this](sim::Device& d) { readBlock = d.Read(ParameterReadCommand, ParameterLength, 0); });
        StartWithDevice();
        if (HasFatalFailure()) return;
    }
    // One polling tick: a fresh status block.
    void Tick() {
        Form1->Timer1Timer();
        ASSERT_TRUE(Polling.StatusFresh);
        simulator.ClearLog();
    }
    void SetPolling(bool on) {
        Form1->Timer1->SetEnabled(on);
        Form1->Timer2->SetEnabled(false);
    }
    // Every request the program sent since the log was last cleared; the log is cleared
    // again.  A request of our own goes last: the simulator takes its input in order, so
    // once it has logged that one it has logged everything sent before it.
    std::vector<sim::Request> Sent() {
        Link.DevicePort = 3;
        if (!Link.PortHandle) {
            EXPECT_NE(OpenDevicePort(), nullptr);
        }
        WriteTransaction(kBarrier, 0, 0);
        for (size_t n = 1; simulator.WaitForRequests(n, 3000); ++n) {
            std::vector<sim::Request> r = simulator.Requests();
            if (r[n - 1].command != kBarrier) continue;
            std::vector<uint8_t> raw = simulator.RawReceived();
            raw.resize(raw.size() - 8);  // 00 and the barrier's header
            lastRaw = Hex(raw);
            simulator.ClearLog();
            r.resize(n - 1);
            return r;
        }
        ADD_FAILURE() << "the simulator never saw the barrier";
        return {};
    }
    // The bytes behind the requests of the last Sent().
    const std::string& RawSent() const { return lastRaw; }
    sim::DeviceState Device() {
        sim::DeviceState s;
        simulator.WithDevice([&](sim::Device& d) { s = d.State(); });
        return s;
    }
};

TEST_F(WriteBack, SaveSendsTheBlockOnceForEachStatusBlock) {
    Boot();
    simulator.WithDevice([](sim::Device& d) {
        d.State().dose = 20.5;                       // the live dose differs from the one read
        d.State().parameters[param_offset::Word0] = 0;  // and the device's kept fields from the read
        d.State().doseTime = 99;
    });
    Tick();
    Form1->ComboBox8->setCurrentIndex(2);  // "3 мин"
    Form1->ComboBox5->setCurrentIndex(0);
    Form1->StringGrid1->SetCell(1, 1, "0.3");
    Form1->StringGrid1->SetCell(1, 2, "-");
    Form1->StringGrid1->SetCell(1, 3, "12");
    Form1->StringGrid4->SetCell(1, 1, "-");
    Form1->StringGrid4->SetCell(1, 2, "5");
    Form1->StringGrid4->SetCell(1, 3, "-2");
    SetPolling(true);

    Form1->Button6->click();

    EXPECT_EQ(StatusText(), QString::fromUtf8("Записано"));
    EXPECT_FALSE(StatusRed());
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form1->Timer2->Enabled());
    EXPECT_TRUE(Captured::errors.empty());
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    const sim::Request& w = sent[0];
    EXPECT_EQ(w.command, 0x80);
    EXPECT_EQ(w.length, 66);
    EXPECT_EQ(w.address, 0);
    EXPECT_TRUE(w.payloadCrcOk);
    ASSERT_EQ(w.payload.size(), 66u);
    // Lead-in, header, 66 bytes and their CRC.
    const std::string raw = RawSent();
    EXPECT_EQ(raw.substr(0, 3 * 8), "00 80 00 42 00 00 85 CA ");
    EXPECT_EQ(raw.size(), 3u * (1 + 7 + 66 + 2) - 1);
    EXPECT_EQ(raw.substr(3 * 8, 3 * 66 - 1), Hex(w.payload));

    EXPECT_EQ(Payload(w.payload, 18, 12), "3E 9A 1C AC 00 00 00 00 41 40 04 18");
    EXPECT_EQ(Payload(w.payload, 50, 12), "3A 83 12 6E 40 A0 08 31 40 00 00 00");
    EXPECT_EQ(Payload(w.payload, 64, 2), "FF FF");
    for (const auto& [offset, n] : {std::pair{0, 11}, {46, 4}, {63, 1}})
        EXPECT_EQ(Payload(w.payload, offset, n), Bytes(readBlock.data(), offset, n)) << "offset " << offset;
    EXPECT_EQ(Payload(w.payload, 42, 4), "41 A4 00 00");  // 20.5
    EXPECT_EQ(w.payload[11], 0xB4);
    EXPECT_EQ(w.payload[16], 1);
    EXPECT_NEAR(Device().dose, 20.5, 1e-6);

    // No status block since: the click does nothing, and polling goes on.
    SetPolling(true);
    Form1->StatusMessage(msg::Reading, false);
    Form1->Button6->click();
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_FALSE(Form1->Timer2->Enabled());
    EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение"));

    // The next block makes it possible again.
    Tick();
    Form1->Button6->click();
    const auto again = Sent();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].command, 0x80);
}

TEST_F(WriteBack, RefusedSaveChangesNothingAndSavingAfterTheCorrectionSends) {
    struct Case {
        int language;
        const char* message;
    } cases[] = {{1, "\"abc\" — не число"}, {2, "\"abc\" is not a number"}};
    ASSERT_NO_FATAL_FAILURE(Boot());
    for (const Case& k : cases) {
        SCOPED_TRACE(k.language);
        Settings.UiLanguage = k.language;
        Captured::errors.clear();
        Tick();
        Form1->StringGrid4->SetCell(1, 2, "abc");
        Form1->StatusMessage(msg::Reading, false);
        SetPolling(true);

        Form1->Button6->click();

        ASSERT_EQ(Captured::errors.size(), 1u);
        EXPECT_EQ(Captured::errors[0], QString::fromUtf8(k.message));
        EXPECT_TRUE(Sent().empty());
        // Nothing used up, nothing stopped.
        EXPECT_TRUE(Polling.StatusFresh);
        EXPECT_TRUE(Form1->Timer1->Enabled());
        EXPECT_FALSE(Form1->Timer2->Enabled());
        EXPECT_EQ(StatusText(), Tr(msg::Reading, k.language));

        // Corrected, the same status block serves the save.
        Form1->StringGrid4->SetCell(1, 2, "5");
        Form1->Button6->click();

        EXPECT_EQ(Captured::errors.size(), 1u);
        const auto sent = Sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].command, 0x80);
        EXPECT_EQ(Payload(sent[0].payload, 54, 4), "40 A0 08 31");  // 5.001
        EXPECT_EQ(StatusText(), k.language == 1 ? QString::fromUtf8("Записано") : "Write OK");
        EXPECT_FALSE(Polling.StatusFresh);
        // Polling resumes three seconds later.
        EXPECT_FALSE(Form1->Timer1->Enabled());
        EXPECT_TRUE(Form1->Timer2->Enabled());
        Form1->Timer2Timer();
        EXPECT_TRUE(Form1->Timer1->Enabled());
    }
}

TEST_F(WriteBack, SelectorsKeepTheirChoiceThroughLanguageAndViewChangesAndSendIt) {
    // The device: display mode 0, sound on, detailed view, green backlight, 1 min.
    ASSERT_NO_FATAL_FAILURE(Boot());
    struct Selector {
        QComboBox* box;
        int item;  // chosen, different from what was read
        const char* russian;
        const char* english;
        int offset;
        uint8_t sent;
    };
    const Selector selectors[] = {
        {Form1->ComboBox3, 2, "Время", "Time", param_offset::DisplayMode, 2},
        {Form1->ComboBox1, 0, "Выкл", "Off", param_offset::SoundOn, 0},
        {Form1->ComboBox2, 0, "Кратко", "Short", param_offset::DisplayView, 0},
        {Form1->ComboBox6, 3, "Белый", "White", param_offset::Backlight, 3},
        {Form1->ComboBox8, 2, "3 мин", "3 min", param_offset::BacklightTime, 180},
    };
    for (const Selector& s : selectors) {
        ASSERT_NE(s.box->currentIndex(), s.item);
        ASSERT_NE(readBlock[static_cast<size_t>(s.offset)], s.sent);
        s.box->setCurrentIndex(s.item);
    }
    auto shows = [&](bool english, const char* when) {
        for (const Selector& s : selectors) {
            EXPECT_EQ(s.box->currentIndex(), s.item) << when << " " << s.russian;
            EXPECT_EQ(s.box->currentText(), QString::fromUtf8(english ? s.english : s.russian)) << when;
        }
    };
    auto sendsWhatIsShown = [&](const char* when) {
        Tick();
        Form1->Button6->click();
        const auto sent = Sent();
        ASSERT_EQ(sent.size(), 1u) << when;
        for (const Selector& s : selectors)
            EXPECT_EQ(sent[0].payload[static_cast<size_t>(s.offset)], s.sent) << when << " " << s.russian;
    };

    Form1->English1Click();
    shows(true, "English");
    sendsWhatIsShown("English");

    // A compact window and back: the main window's texts are applied again on showing.
    Form1->ComboBox9->setCurrentIndex(2);
    Form1->N4Click();
    Form1->N3Click();
    ASSERT_EQ(Form1->ComboBox9->currentIndex(), 0);  // the lists were refilled
    shows(true, "compact and back");
    sendsWhatIsShown("compact and back");

    Form1->N1Click();
    shows(false, "Russian again");
    sendsWhatIsShown("Russian again");
}

TEST_F(WriteBack, DeviceValueOutsideItsListShowsNothingAndIsSentAsRead) {
    struct Selector {
        QComboBox* box;
        int offset;
        uint8_t value;  // outside the list
    };
    ASSERT_NO_FATAL_FAILURE(Boot());
    const Selector selectors[] = {
        {Form1->ComboBox8, param_offset::BacklightTime, 30},
        {Form1->ComboBox3, param_offset::DisplayMode, 5},
        {Form1->ComboBox1, param_offset::SoundOn, 2},
        {Form1->ComboBox2, param_offset::DisplayView, 7},
        {Form1->ComboBox4, param_offset::DeviceLanguage, 3},
        {Form1->ComboBox5, param_offset::RateThresholdSetting, 0},
        {Form1->ComboBox6, param_offset::Backlight, 4},
        {Form1->ComboBox7, param_offset::DoseThresholdSetting, 4},  // the empty fourth item
    };
    // Each box has shown an item before, in both languages.
    for (const Selector& s : selectors) ASSERT_FALSE(s.box->currentText().isEmpty());
    Form1->English1Click();
    Form1->N1Click();
    simulator.WithDevice([&](sim::Device& d) {
        for (const Selector& s : selectors) d.State().parameters[static_cast<size_t>(s.offset)] = s.value;
    });
    Form1->Button14Click();
    ASSERT_EQ(StatusText(), QString::fromUtf8("Прочитано"));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "as read" : "after a language switch");
        for (const Selector& s : selectors) {
            EXPECT_TRUE(s.box->currentText().isEmpty()) << s.offset;
            EXPECT_TRUE(s.box->placeholderText().isEmpty()) << s.offset;
        }
        Tick();
        Form1->Button6->click();
        const auto sent = Sent();
        ASSERT_EQ(sent.size(), 1u);
        for (const Selector& s : selectors)
            EXPECT_EQ(sent[0].payload[static_cast<size_t>(s.offset)], s.value) << "offset " << s.offset;
        Form1->English1Click();
    }
}

TEST_F(WriteBack, SaveAndResetRefuseWithoutPortOrParameters) {
    struct Case {
        const char* what;
        QPushButton* TForm1::*button;
        bool portMissing;
        const char* message;
    };
    const Case cases[] = {
        {"save, no port", &TForm1::Button6, true, "Невозможно открыть порт"},
        {"save, parameters not read", &TForm1::Button6, false, "Параметры не прочитаны!"},
        {"reset, no port", &TForm1::Button3, true, "Невозможно открыть порт"},
        {"reset, parameters not read", &TForm1::Button3, false, "Параметры не прочитаны!"},
    };
    Boot();
    for (const Case& k : cases) {
        Params.ParamsRead = true;
        Link.DevicePort = 3;
        Tick();
        if (k.portMissing) Link.DevicePort = 9;  // nothing there
        else Params.ParamsRead = false;
        SetPolling(true);

        (Form1->*k.button)->click();

        EXPECT_EQ(StatusText(), QString::fromUtf8(k.message)) << k.what;
        EXPECT_TRUE(StatusRed()) << k.what;
        EXPECT_FALSE(Form1->Timer1->Enabled()) << k.what;
        EXPECT_FALSE(Form1->Timer2->Enabled()) << k.what;
        EXPECT_TRUE(Sent().empty()) << k.what;
        EXPECT_EQ(Params.ParameterValues.AccumulatedDoseTime, 3600u) << k.what;
        EXPECT_NEAR(Device().dose, 12.3456, 1e-4) << k.what;
    }
    EXPECT_TRUE(Captured::errors.empty());
}

TEST_F(WriteBack, ResetDoseSendsTheHeaderAloneAndZeroesTheDoseTime) {
    Boot();
    Tick();
    Form1->LineSeries1->append(1000, 12.3);
    Form1->StatusMessage(msg::Reading, false);
    SetPolling(true);

    Form1->Button3->click();

    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(RawSent(), "00 40 00 00 00 00 25 CF");
    EXPECT_EQ(Device().dose, 0.0);
    EXPECT_EQ(Params.ParameterValues.AccumulatedDoseTime, 0u);
    EXPECT_EQ(Form1->LineSeries1->count(), 0);
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form1->Timer2->Enabled());
    EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение"));  // no message of its own

    // The status in hand is from before the reset: saving with it would send the old
    // dose back.  The save waits for the next block.
    Form1->Button6->click();
    EXPECT_TRUE(Sent().empty());

    Tick();
    Form1->Button6->click();
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(Payload(sent[0].payload, 6, 4), "00 00 00 00");
    EXPECT_EQ(Payload(sent[0].payload, 42, 4), "00 00 00 00");
    EXPECT_EQ(Device().dose, 0.0);
}

TEST_F(WriteBack, FactorySettingsOnlyWithPortAndParameters) {
    struct Case {
        bool portMissing;
        bool paramsRead;
        bool sent;
    };
    const Case cases[] = {{false, true, true}, {true, true, false}, {false, false, false}};
    Boot();
    for (const Case& k : cases) {
        simulator.WithDevice([](sim::Device& d) { d.State().parameters[param_offset::BacklightTime] = 60; });
        Link.DevicePort = k.portMissing ? 9 : 3;
        Params.ParamsRead = k.paramsRead;
        Form1->StatusMessage(msg::Reading, false);
        SetPolling(true);

        Form1->Button4->click();

        const std::string name = std::string(k.portMissing ? "no port" : "port") + (k.paramsRead ? ", read" : "");
        EXPECT_TRUE(Form1->Timer1->Enabled()) << name;
        EXPECT_FALSE(Form1->Timer2->Enabled()) << name;
        EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение")) << name;
        EXPECT_FALSE(StatusRed()) << name;
        const auto sent = Sent();
        EXPECT_EQ(RawSent(), k.sent ? "00 50 00 00 00 00 E4 0C" : "") << name;
        EXPECT_EQ(sent.size(), k.sent ? 1u : 0u) << name;
        EXPECT_EQ(Device().parameters[param_offset::BacklightTime], k.sent ? 10 : 60) << name;  // factory: 10 s
    }
    EXPECT_TRUE(Captured::errors.empty());
}

TEST_F(WriteBack, WrittenSettingsReadBackAsShown) {
    Boot();
    Tick();
    const char* rate[] = {"0.5", "2", "-"};
    const char* dose[] = {"-", "250", "10000"};
    for (int r = 1; r <= 3; ++r) {
        Form1->StringGrid1->SetCell(1, r, rate[r - 1]);
        Form1->StringGrid4->SetCell(1, r, dose[r - 1]);
    }
    Form1->ComboBox8->setCurrentIndex(2);
    Form1->ComboBox6->setCurrentIndex(2);
    Form1->ComboBox7->setCurrentIndex(1);
    Form1->Button6->click();
    ASSERT_EQ(Sent().size(), 1u);

    // Forget what the controls hold, then read the block back from the device.
    for (int r = 1; r <= 3; ++r) Form1->StringGrid4->SetCell(1, r, QString());
    for (QComboBox* b : {Form1->ComboBox8, Form1->ComboBox6, Form1->ComboBox7}) b->setCurrentIndex(-1);
    Form1->Button14Click();

    EXPECT_EQ(StatusText(), QString::fromUtf8("Прочитано"));
    const char* rateShown[] = {"0.50", "2.00", "-"};
    const char* doseShown[] = {"-", "250.00", "10000.00"};
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(Form1->StringGrid1->Cell(1, r), rateShown[r - 1]) << "rate row " << r;
        EXPECT_EQ(Form1->StringGrid4->Cell(1, r), doseShown[r - 1]) << "dose row " << r;
    }
    EXPECT_EQ(Form1->ComboBox8->currentIndex(), 2);
    EXPECT_EQ(Form1->ComboBox6->currentIndex(), 2);
    EXPECT_EQ(Form1->ComboBox7->currentIndex(), 1);
}

}  // namespace
