// The polling tick, the parameter read and what they show, against the simulator over a
// pseudo-terminal.  Ticks are driven directly, not by waiting for the timer.
#include <gtest/gtest.h>

#include <ctime>

#include "link/codecs.h"
#include "monitor/polling.h"
#include "monitor/viewstate.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

void SetFloat(std::vector<uint8_t>& block, int offset, double v) { EncodeDeviceFloat(v, block.data() + offset); }

class PollingTick : public GuiTest {
protected:
    // The device on COM3, the program started and its start-up search done.
    void Boot() {
        simulator.WithDevice([](sim::Device& d) {
            auto& s = d.State();
            auto& p = s.parameters;
            SetFloat(p, param_offset::RateThresholds + 0, 0.3);
            SetFloat(p, param_offset::RateThresholds + 4, 1.2);
            SetFloat(p, param_offset::RateThresholds + 8, 2500);
            SetFloat(p, param_offset::DoseThresholds + 0, 100);
            SetFloat(p, param_offset::DoseThresholds + 4, 1000);
            SetFloat(p, param_offset::DoseThresholds + 8, 2500000);
            p[param_offset::RateThresholdSetting] = 1;
            p[param_offset::DoseThresholdSetting] = 1;
            p[param_offset::BacklightTime] = 60;
            p[param_offset::FirmwareVersion] = 12;
            s.doseTime = 3600;
            s.doseRate = 0.1234;
            s.dose = 12.3456;
            s.runningTime = 93784;
            s.temperature = 21.5;
            s.batteryMv = 3600;
            s.charging = false;
            s.pulseCount = 1234;
            s.measurementCount = 42;
            s.measurementTime = 30;
            s.statError = 15;
        });
        StartWithDevice();
        if (HasFatalFailure()) return;
    }
    void Tick() { Form1->Timer1Timer(); }
    bool Blank() const { return Form1->Edit4->text().isEmpty() && Panel(1).isEmpty() && Panel(8).isEmpty(); }
    size_t ClockWrites() const {
        size_t n = 0;
        for (const auto& r : simulator.Requests()) n += r.command == 0xBB;
        return n;
    }
};

}  // namespace

TEST_F(PollingTick, GoodTickFillsEveryTarget) {
    Boot();
    AtStartOfSecond();
    Tick();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение"));
    EXPECT_FALSE(StatusRed());
    EXPECT_EQ(Form1->Edit4->text(), "0.123");
    EXPECT_EQ(Form1->Label34->text(), QString::fromUtf8("мкЗв/ч"));
    EXPECT_EQ(Form1->Edit10->text(), "12.35");
    EXPECT_EQ(Form1->Label39->text(), QString::fromUtf8("мкЗв"));
    EXPECT_EQ(Form1->Edit1->text(), QString::fromUtf8(" 1 день 3 ч 3 мин"));  // running time + carried dose time
    EXPECT_EQ(Form1->Label20->text(), "15%");
    EXPECT_FALSE(Form1->Image1->isHidden());
    EXPECT_EQ(Panel(1), QString::fromUtf8(" 1 день 2 ч 3 мин"));
    EXPECT_EQ(Panel(2), " 50%");
    EXPECT_EQ(Panel(3), " 21.5");
    EXPECT_EQ(Panel(4), " 42");
    EXPECT_EQ(Panel(5), QString::fromUtf8(" 30 с"));
    EXPECT_EQ(Panel(6), " 1234");
    EXPECT_EQ(Panel(7), QString::fromUtf8(" 0.3 мкЗв/ч"));
    EXPECT_EQ(Panel(8), QString::fromUtf8(" 100.0 мкЗв"));
    EXPECT_EQ(Form6->Label1->text(), QString::fromUtf8(" 0.123 мкЗв/ч"));
    EXPECT_EQ(Form9->Label1->text(), QString::fromUtf8(" 0.123 мкЗв/ч"));
    const int records = veresk::Polling.LiveStatus.ArchiveFill;
    EXPECT_EQ(Form1->ProgressBar1->value(), records);
    EXPECT_EQ(Form1->Label21->text(), "0%");
    EXPECT_EQ(Form1->ProgressBar1->BarColor(), QColor(0, 128, 0));
    EXPECT_NE(Background(Form1->Edit4), QColor(Qt::red));
    EXPECT_TRUE(veresk::Polling.StatusFresh);
    EXPECT_EQ(ClockWrites(), 0u);
    // What a person sees; kept as main-window.png beside the test program.
    const QImage shot = Form1->grab().toImage();
    EXPECT_EQ(shot.width(), Form1->width());
    shot.save(QCoreApplication::applicationDirPath() + "/main-window.png");

    // Over the threshold in force, in English, the compact windows on the dose.
    simulator.WithDevice([](sim::Device& d) { d.State().doseRate = 2500; d.State().dose = 2500001; });
    Settings.UiLanguage = 2;
    Compact.CompactSelection = 1;
    AtStartOfSecond();
    Tick();
    EXPECT_EQ(StatusText(), "Reading");
    EXPECT_EQ(Background(Form1->Edit4), QColor(Qt::red));
    EXPECT_EQ(Background(Form1->Edit10), QColor(Qt::red));
    EXPECT_EQ(Form1->Edit4->text(), "2.500");
    EXPECT_EQ(Form1->Label34->text(), "mSv/h");
    EXPECT_EQ(Form1->Edit10->text(), "2.500");
    EXPECT_EQ(Form1->Label39->text(), "Sv");
    EXPECT_EQ(Form6->Label1->text(), " 2.500 Sv");
    EXPECT_EQ(Form1->Edit1->text(), "1 day 3 h 3 min");
}

TEST_F(PollingTick, FirstFillChangeMarksARecordForTheCharts) {
    Boot();
    AtStartOfSecond();
    Tick();
    EXPECT_GT(veresk::Polling.LiveStatus.ArchiveFill, 0);  // the power-on mark
    EXPECT_TRUE(veresk::Polling.NewRecordPending);
    EXPECT_EQ(veresk::Polling.LastArchiveFill, veresk::Polling.LiveStatus.ArchiveFill);
    AtStartOfSecond();
    Tick();
    EXPECT_FALSE(veresk::Polling.NewRecordPending);
    EXPECT_EQ(Form1->Series1->count(), 1);  // taken on the tick after the change
    EXPECT_EQ(Form1->LineSeries1->count(), 1);
}

TEST_F(PollingTick, FailureCountersAndTheirLimits) {
    Boot();
    AtStartOfSecond();
    Tick();
    ASSERT_FALSE(Blank());
    const QString reading = StatusText();

    struct Step {
        char fault;         // 'S' short answer, 'C' bad CRC, 'G' good
        bool blank;         // the no-link display is on after this tick
        const char* status; // status line after this tick
        bool red;
    };
    auto run = [&](const std::vector<Step>& steps, const char* name) {
        for (size_t i = 0; i < steps.size(); ++i) {
            const Step& s = steps[i];
            simulator.SetShortBy(s.fault == 'S' ? 1 : 0);
            if (s.fault == 'C') simulator.CorruptNextCrc(1);
            AtStartOfSecond();
            Tick();
            EXPECT_EQ(Blank(), s.blank) << name << " tick " << i + 1;
            EXPECT_EQ(StatusText(), QString::fromUtf8(s.status)) << name << " tick " << i + 1;
            EXPECT_EQ(StatusRed(), s.red) << name << " tick " << i + 1;
        }
        simulator.SetShortBy(0);
    };
    const char* rd = "Чтение";
    const char* lost = "Ошибка связи";
    run({{'S', false, rd, false}, {'S', false, rd, false}, {'S', false, rd, false},
         {'S', true, lost, true}, {'S', true, lost, true}, {'G', false, rd, false}},
        "four short answers");
    EXPECT_EQ(Link.LinkErrorCount, 0);

    std::vector<Step> crc(10, Step{'C', false, rd, false});
    crc.push_back({'C', true, rd, false});
    crc.push_back({'C', true, rd, false});
    crc.push_back({'G', false, rd, false});
    run(crc, "eleven CRC failures");

    run({{'S', false, rd, false}, {'S', false, rd, false}, {'S', false, rd, false},
         {'C', false, rd, false}, {'S', true, lost, true}},
        "three short, one CRC, one short");
    EXPECT_EQ(Link.LinkErrorCount, 5);
    EXPECT_EQ(reading, QString::fromUtf8(rd));
}

TEST_F(PollingTick, PortThatCannotBeOpenedBlanksAtOnce) {
    Boot();
    AtStartOfSecond();
    Tick();
    Link.LinkErrorCount = 2;
    Link.DevicePort = 9;  // nothing there
    Tick();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Невозможно открыть порт"));
    EXPECT_TRUE(StatusRed());
    EXPECT_TRUE(Blank());
    EXPECT_EQ(Form6->Label1->text(), QString::fromUtf8(" Нет связи "));
    EXPECT_EQ(Form9->Label1->text(), QString::fromUtf8(" Нет связи "));
    EXPECT_EQ(Link.LinkErrorCount, 2);
    // The unit labels and the fill indicator stay as they were.
    EXPECT_EQ(Form1->Label34->text(), QString::fromUtf8("мкЗв/ч"));
    EXPECT_FALSE(Form1->Label21->text().isEmpty());

    Settings.UiLanguage = 2;
    Tick();
    EXPECT_EQ(StatusText(), "Error opening port");
    EXPECT_EQ(Form6->Label1->text(), " error ");
    EXPECT_EQ(Form9->Label1->text(), " Connection error ");
}

TEST_F(PollingTick, DeviceClockIsKeptInStep) {
    Boot();
    struct Case { long long offset; bool set; };
    for (const Case c : {Case{5, false}, Case{-5, false}, Case{6, true}, Case{-6, true}, Case{3600, true}}) {
        simulator.WithDevice([&](sim::Device& d) { d.State().clockOffset = c.offset; });
        Form1->ShowNoLink();  // so that a displayed value shows up as text again
        simulator.ClearLog();
        AtStartOfSecond();
        const std::time_t before = std::time(nullptr);
        Tick();
        const std::time_t after = std::time(nullptr);
        EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение")) << c.offset;
        EXPECT_EQ(Form1->Edit4->text().isEmpty(), c.set) << c.offset;
        ASSERT_TRUE(simulator.WaitForRequests(c.set ? 2 : 1, 1000));
        const auto requests = simulator.Requests();
        ASSERT_EQ(requests.size(), c.set ? 2u : 1u) << c.offset;
        if (!c.set) continue;
        const auto& w = requests[1];
        EXPECT_EQ(w.command, 0xBB);
        EXPECT_EQ(w.length, 7);
        EXPECT_TRUE(w.payloadCrcOk);
        bool matches = false;
        for (std::time_t t = before; t <= after; ++t) {
            const auto bytes = ClockBytes(t);
            matches |= std::equal(bytes.begin(), bytes.end(), w.payload.begin(), w.payload.end());
        }
        EXPECT_TRUE(matches) << "clock bytes " << Hex(w.payload);
        // The device took the time: the next tick displays.
        AtStartOfSecond();
        Tick();
        EXPECT_FALSE(Form1->Edit4->text().isEmpty()) << c.offset;
    }
}

TEST(ClockBytes, SundayDecember2029) {
    std::tm tm{};
    tm.tm_year = 2029 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 9;
    tm.tm_hour = 14;
    tm.tm_min = 5;
    tm.tm_sec = 7;
    tm.tm_isdst = -1;
    const auto bytes = ClockBytes(std::mktime(&tm));
    EXPECT_EQ(Hex(bytes.data(), bytes.size()), "07 05 14 00 09 12 29");
}

TEST_F(PollingTick, ViewModeIsEnforcedEveryTick) {
    Boot();
    struct Case { int mode; bool main, c1, c2; bool n3, n4, n21; };
    const Case cases[] = {
        {1, false, true, true, false, true, false},    // compact window 2 is not touched in mode 1
        {2, false, true, true, false, false, true},   // compact window 1 is not touched in mode 2
        {0, true, false, false, true, false, false},
        {3, true, false, true, true, false, false},   // unknown mode: full view, compact window 2 kept
    };
    Form9->show();
    for (const Case& c : cases) {
        Settings.ViewMode = c.mode;
        if (c.mode == 3) Form9->show();
        Tick();
        EXPECT_EQ(Form1->isVisible(), c.main) << c.mode;
        EXPECT_EQ(Form6->isVisible(), c.c1) << c.mode;
        EXPECT_EQ(Form9->isVisible(), c.c2) << c.mode;
        EXPECT_EQ(Form1->N3->isChecked(), c.n3) << c.mode;
        EXPECT_EQ(Form1->N4->isChecked(), c.n4) << c.mode;
        EXPECT_EQ(Form1->N21->isChecked(), c.n21) << c.mode;
    }
}

TEST_F(PollingTick, ParameterReadShowsTheBlock) {
    Boot();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Прочитано"));
    EXPECT_FALSE(StatusRed());
    EXPECT_EQ(Form1->StringGrid1->Cell(1, 1), "0.30");
    EXPECT_EQ(Form1->StringGrid1->Cell(1, 3), "2500.00");
    EXPECT_EQ(Form1->StringGrid4->Cell(1, 2), "1000.00");
    EXPECT_EQ(Form1->ComboBox8->currentIndex(), 1);  // 60 s: "1 мин"
    EXPECT_EQ(Form1->ComboBox5->currentIndex(), 0);
    EXPECT_EQ(Form1->ComboBox7->currentIndex(), 0);
    EXPECT_EQ(Form3->Label4->text(), "12");
    EXPECT_EQ(Form8->Label4->text(), "12");
    EXPECT_EQ(Params.DeviceEdition, 0);

    // Button14: polling paused, the block read on the port the last tick left open.
    simulator.WithDevice([](sim::Device& d) { d.State().parameters[param_offset::RateThresholdSetting] = 3; });
    AtStartOfSecond();
    Tick();
    Form1->Timer1->SetEnabled(true);
    Form1->Button14Click();
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form1->Timer2->Enabled());
    EXPECT_EQ(Form1->ComboBox5->currentIndex(), 2);
    Form1->Timer2Timer();
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_FALSE(Form1->Timer2->Enabled());
}

TEST_F(PollingTick, ParameterReadFailures) {
    Boot();
    AtStartOfSecond();
    Tick();
    // A short answer: link failure, blank display, counter untouched.
    Link.LinkErrorCount = 0;
    simulator.SetShortBy(2);
    Form1->Button14Click();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Ошибка связи"));
    EXPECT_TRUE(StatusRed());
    EXPECT_TRUE(Blank());
    EXPECT_FALSE(Params.ParamsRead);
    EXPECT_TRUE(Form1->StringGrid1->Cell(1, 1).isEmpty());
    EXPECT_EQ(Form1->StringGrid4->Cell(1, 1), "100.00");  // the dose grid is not emptied
    EXPECT_EQ(Link.LinkErrorCount, 0);
    simulator.SetShortBy(0);

    // CRC failing twice: silent first, "Ошибка CRC" second.
    Form1->StatusMessage(msg::Reading, false);
    simulator.CorruptNextCrc(2);
    Form1->Button14Click();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Чтение"));
    EXPECT_EQ(Link.LinkErrorCount, 1);
    Form1->Button14Click();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Ошибка CRC"));
    EXPECT_TRUE(StatusRed());
    EXPECT_FALSE(Params.ParamsRead);
    // The last good copy is kept.
    EXPECT_EQ(Params.ParameterValues.FirmwareVersion, 12);

    // No open port at all.
    CloseDevicePort();
    Form1->Button14Click();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Невозможно открыть порт"));
}
