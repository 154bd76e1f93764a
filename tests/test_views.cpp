// What the person looks at besides the numbers: the live charts and their controls, the
// two compact windows and the view modes, the language switch and the about dialogs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QTest>
#include <QTimer>

#include "link/discovery.h"
#include "monitor/viewstate.h"
#include "shell/jpeg.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

class Views : public GuiTest {
protected:
    void Boot(const QByteArray& ini = {}) {
        if (!ini.isEmpty()) WriteSettings(ini);
        simulator.WithDevice([](sim::Device& d) {
            d.State().doseRate = 0.25;
            d.State().dose = 3.5;
        });
        StartWithDevice();
        if (HasFatalFailure()) return;
        Form1->Timer3->SetEnabled(false);
        Form6->hide();
    }
    void Tick() {
        AtStartOfSecond();
        Form1->Timer1Timer();
    }
    void NewRecord() {
        simulator.WithDevice([](sim::Device& d) { d.AppendRecord(d.State().doseRate, d.DeviceNow()); });
    }
    QString IniText() const {
        QFile f(workdir.filePath("prog.ini"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

}  // namespace

// --- live charts

TEST_F(Views, OnePointPerArchiveRecordOnTheNextDisplayedTick) {
    Boot();
    Tick();  // sees the power-on mark: a record is pending
    EXPECT_EQ(Form1->Series1->count(), 0);
    Tick();
    ASSERT_EQ(Form1->Series1->count(), 1);
    ASSERT_EQ(Form1->LineSeries1->count(), 1);
    EXPECT_FLOAT_EQ(Form1->Series1->at(0).y(), 0.25f);
    EXPECT_FLOAT_EQ(Form1->LineSeries1->at(0).y(), 3.5f);
    for (int i = 0; i < 3; ++i) Tick();  // no new record: no points
    EXPECT_EQ(Form1->Series1->count(), 1);

    NewRecord();
    simulator.WithDevice([](sim::Device& d) { d.State().doseRate = 0.5; });
    Tick();
    EXPECT_EQ(Form1->Series1->count(), 1);
    Tick();
    ASSERT_EQ(Form1->Series1->count(), 2);
    EXPECT_EQ(Form1->LineSeries1->count(), 2);
    EXPECT_FLOAT_EQ(Form1->Series1->at(1).y(), 0.5f);
    EXPECT_GE(Form1->Series1->at(1).x(), Form1->Series1->at(0).x());
    EXPECT_EQ(Form1->Chart2Bottom->format(), "hh:mm");
    EXPECT_TRUE(Form1->Chart2Bottom->labelsVisible());

    // A failed tick adds nothing and leaves the axes.
    NewRecord();
    Tick();
    simulator.SetShortBy(1);
    Tick();
    simulator.SetShortBy(0);
    EXPECT_EQ(Form1->Series1->count(), 2);
}

TEST_F(Views, AxisMaximaFollowDoseAndPeakRate) {
    Boot();
    simulator.WithDevice([](sim::Device& d) { d.State().dose = 0; d.State().doseRate = 7; });
    Tick();
    EXPECT_EQ(Form1->Chart1Left->min(), 0);
    EXPECT_EQ(Form1->Chart1Left->max(), 0);
    EXPECT_DOUBLE_EQ(Form1->Chart2Left->max(), 8.0);
    simulator.WithDevice([](sim::Device& d) { d.State().dose = 14; d.State().doseRate = 1; });
    Tick();
    EXPECT_DOUBLE_EQ(Form1->Chart1Left->max(), 16.0);
    EXPECT_DOUBLE_EQ(Form1->Chart2Left->max(), 8.0);  // the peak keeps the axis wide
    Form1->Button5Click();
    Tick();
    EXPECT_DOUBLE_EQ(Form1->Chart2Left->max(), 8.0);
    // Showing the main window again forgets the peak.
    Form1->hide();
    Form1->show();
    Tick();
    EXPECT_DOUBLE_EQ(Form1->Chart2Left->max(), 8.0 / 7.0);
}

TEST_F(Views, ChartViewSelectorAndClearButtons) {
    Boot();
    Tick();
    Tick();
    ASSERT_EQ(Form1->Series1->count(), 1);
    struct Case { int index; bool c1; int top1, h1; bool c2; int top2, h2; };
    const Case cases[] = {{1, false, -1, -1, true, 8, 326}, {0, true, 8, 150, true, 160, 169}, {2, true, 8, 326, false, -1, -1}};
    for (const Case& c : cases) {
        Form1->ComboBox10->setCurrentIndex(c.index);
        Form1->ComboBox10Change();
        EXPECT_EQ(!Form1->Chart1->isHidden(), c.c1) << c.index;
        EXPECT_EQ(!Form1->Chart2->isHidden(), c.c2) << c.index;
        if (c.c1) {
            EXPECT_EQ(Form1->Chart1->geometry(), QRect(0, c.top1, 801, c.h1)) << c.index;
        }
        if (c.c2) {
            EXPECT_EQ(Form1->Chart2->geometry(), QRect(0, c.top2, 801, c.h2)) << c.index;
        }
    }
    Form1->Button11Click();  // the lower button clears the dose-rate series only
    EXPECT_EQ(Form1->Series1->count(), 0);
    EXPECT_EQ(Form1->LineSeries1->count(), 1);
    Form1->Button5Click();
    EXPECT_EQ(Form1->LineSeries1->count(), 0);
}

// --- compact windows and view modes

TEST_F(Views, CompactModesReplaceTheMainWindow) {
    Boot();
    Form1->N4Click();
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_TRUE(Form6->isVisible());
    EXPECT_TRUE(Form1->N4->isChecked());
    EXPECT_FALSE(Form1->N3->isChecked());
    EXPECT_EQ(Settings.ViewMode, 1);
    EXPECT_TRUE(Discovery.ViewSwitched);
    Tick();
    EXPECT_EQ(Form6->Label1->text(), QString::fromUtf8(" 0.250 мкЗв/ч"));
    Form6->Image2Click();  // the upper button toggles to the dose
    Tick();
    EXPECT_EQ(Form6->Label1->text(), QString::fromUtf8(" 3.500 мкЗв"));
    EXPECT_EQ(Form9->Label1->text(), QString::fromUtf8(" 3.500 мкЗв"));
    Form6->Image3Click();  // the lower button: back
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form6->isVisible());
    EXPECT_TRUE(Form1->N3->isChecked());
    EXPECT_EQ(Settings.ViewMode, 0);

    Form1->N21Click();
    EXPECT_TRUE(Form9->isVisible());
    EXPECT_FALSE(Form1->isVisible());
    Form9->Label1Click();  // compact window 2 toggles the same selection
    EXPECT_EQ(Compact.CompactSelection, 0);
    Form9->Label1ContextPopup();
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form9->isVisible());
    EXPECT_FALSE(Form1->N21->isChecked());
}

TEST_F(Views, TransparencyPreviewRunsOnceFromTheFirstMove) {
    Boot();
    Form1->Timer1->SetEnabled(true);
    Form1->TrackBar1->setValue(200);
    EXPECT_TRUE(Form1->Timer3->Enabled());
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form6->isVisible());
    const int first = Form1->Timer3->remainingTime();
    QTest::qSleep(60);
    Form1->TrackBar1->setValue(100);
    EXPECT_LT(Form1->Timer3->remainingTime(), first);  // not prolonged
    EXPECT_EQ(Form6->Opacity(), 100);
    EXPECT_EQ(Form9->Opacity(), 100);
    Form1->Timer3Timer();
    EXPECT_FALSE(Form6->isVisible());
    EXPECT_FALSE(Form1->Timer3->Enabled());
    EXPECT_TRUE(Form1->Timer1->Enabled());

    // Letting go of the thumb is an operation of the slider as well.
    emit Form1->TrackBar1->sliderReleased();
    EXPECT_TRUE(Form1->Timer3->Enabled());
    EXPECT_FALSE(Form1->Timer1->Enabled());
    Form1->Timer3Timer();

    // "Краткий 2" during a preview cancels it; compact window 1 stays beside window 2.
    Form1->TrackBar1->setValue(150);
    Form1->N21Click();
    EXPECT_FALSE(Form1->Timer3->Enabled());
    Tick();
    EXPECT_TRUE(Form6->isVisible());
    EXPECT_TRUE(Form9->isVisible());
}

TEST_F(Views, DraggingMovesOnEveryThirdReport) {
    Boot();
    Form9->show();
    const QPoint start = Form9->pos();
    Form9->Label1MouseDown(QPoint(10, 10));
    std::vector<QPoint> seen;
    for (int i = 0; i < 7; ++i) {
        Form9->Label1MouseMove(QPoint(15, 12));  // 5 right, 2 down of the press point
        seen.push_back(Form9->pos() - start);
    }
    const std::vector<QPoint> expected = {{5, 2}, {5, 2}, {5, 2}, {10, 4}, {10, 4}, {10, 4}, {15, 6}};
    EXPECT_EQ(seen, expected);
    Form9->Label1MouseUp();
    Form9->Label1MouseMove(QPoint(30, 30));  // released: no move
    EXPECT_EQ(Form9->pos() - start, QPoint(15, 6));
    Form9->Label1MouseDown(QPoint(0, 0));  // a new press restarts the count
    Form9->Label1MouseMove(QPoint(1, 1));
    EXPECT_EQ(Form9->pos() - start, QPoint(16, 7));
}

TEST_F(Views, ClicksAreReleasesOverTheControl) {
    Boot();
    Form1->N21Click();
    QWidget* label = Form9->Label1;
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(Compact.CompactSelection, 1);
    // Pressed on the strip, released beside it: no click.
    QTest::mousePress(label, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(200, 10));
    EXPECT_EQ(Compact.CompactSelection, 1);
    // A double-click as the window system delivers it (press, release, double-click,
    // release): its first click toggles, its second half does not; then the end.
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseDClick(label, Qt::LeftButton, {}, QPoint(20, 10));
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_EQ(Compact.CompactSelection, 0);
    EXPECT_EQ(Captured::ended, 1);
    EXPECT_TRUE(IniText().contains("Mode=2"));
    const int afterDouble = Compact.CompactSelection;
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_NE(Compact.CompactSelection, afterDouble);  // the next click counts again
    // A right double-click on the upper button of window 1 does not end the program.
    QTest::mouseDClick(Form6->Image2, Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_EQ(Captured::ended, 1);
    // The strip's context-menu request goes back to the main window.
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(20, 10), label->mapToGlobal(QPoint(20, 10)));
    QCoreApplication::sendEvent(label, &menu);
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_FALSE(Form9->isVisible());
}

TEST_F(Views, EndingFromACompactWindowStoresItsMode) {
    Boot();
    Form1->English1Click();
    Form1->N4Click();
    Form6->Image2DblClick();
    EXPECT_EQ(Captured::ended, 1);
    EXPECT_TRUE(IniText().contains("Language=2"));
    EXPECT_TRUE(IniText().contains("Mode=1"));
    Form9->Label1DblClick();
    EXPECT_EQ(Captured::ended, 2);
    EXPECT_TRUE(IniText().contains("Mode=2"));
}

TEST_F(Views, CompactStartWithoutPreviewSearchesAgainOnReturn) {
    Boot("[Common]\r\nLanguage=1\r\nTransparent=255\r\nMode=1\r\n");
    EXPECT_FALSE(Discovery.ViewSwitched);
    Tick();  // the first tick changes to compact window 1
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_TRUE(Form6->isVisible());
    opened.clear();
    Form6->Image3Click();
    EXPECT_GE(opened.size(), 255u);  // the start-up search ran again
    EXPECT_EQ(Link.DevicePort, 3);
}

// --- language

namespace {
std::vector<QString> Captions() {
    std::vector<QString> v = {Form1->windowTitle(), Form1->N8->text(), Form1->N13->text(), Form1->Mview->title(),
                              Form1->PageControl1->tabText(0), Form1->PageControl1->tabText(2),
                              Form1->Label13->text(), Form1->Label17->text(), Form1->Button14->text(),
                              Form1->CheckBox1->text(), Form1->StringGrid1->Cell(1, 0), Form1->StringGrid8->Cell(0, 0),
                              Form1->StringGrid3->Cell(0, 1), Form1->ComboBox9->itemText(2),
                              Form1->ComboBox10->currentText(), Form1->Label24->text(), Form1->N3->text()};
    return v;
}
}  // namespace

TEST_F(Views, LanguageSwitchRewritesTheTexts) {
    Boot();
    const auto russian = Captions();
    ASSERT_EQ(Form1->ComboBox1->currentText(), QString::fromUtf8("Вкл"));  // the sound is on
    Form1->English1Click();
    const auto english = Captions();
    const std::vector<QString> expected = {
        "RDT-17 'Starling'", "Exit", "Connect", "View", "Measurement results", "Archive",
        QString::fromUtf8("Сurrent threshold MED"), "Dose accumulation time", "Read parameters", "Save to file",
        "Value,  uSv/h", " #", "Samples", " Date & Time", "MED+ED",
        QString::fromUtf8("Прозрачность  краткой формы"), QString::fromUtf8("Полный")};
    EXPECT_EQ(english, expected);
    EXPECT_TRUE(english[6].startsWith(QChar(0x0421)));  // a Cyrillic Es, as the device's texts have it
    EXPECT_TRUE(Form1->English1->isChecked());
    EXPECT_FALSE(Form1->N1->isChecked());
    EXPECT_TRUE(Form1->Timer1->Enabled());
    // The sound list offers the English items and keeps its choice, now in English.
    EXPECT_EQ(Form1->ComboBox1->currentIndex(), 1);
    EXPECT_EQ(Form1->ComboBox1->currentText(), "On");
    EXPECT_EQ(Form1->ComboBox1->itemText(0), "Off");
    EXPECT_EQ(Form2->windowTitle(), QString::fromUtf8("Связь"));  // the dialog keeps its language
    EXPECT_EQ(Form1->Label34->x(), 153);

    Form1->N1Click();
    EXPECT_EQ(Captions(), russian);
    EXPECT_EQ(Form1->Label34->x(), 192);
    // However often the lists are refilled, each keeps the item chosen, and a list with
    // nothing chosen stays empty.
    Form1->ComboBox8->setCurrentIndex(-1);
    for (int i = 0; i < 3; ++i) {
        (i % 2 ? Form1->N1Click() : Form1->English1Click());
        EXPECT_EQ(Form1->ComboBox1->currentIndex(), 1) << i;
        EXPECT_EQ(Form1->ComboBox1->currentText(), i % 2 ? QString::fromUtf8("Вкл") : "On") << i;
        EXPECT_EQ(Form1->ComboBox8->currentIndex(), -1) << i;
        EXPECT_TRUE(Form1->ComboBox8->currentText().isEmpty()) << i;
    }
}

// --- about dialogs

TEST_F(Views, AboutShowsTheDialogOfEditionAndLanguage) {
    Boot();
    struct Case { int language; int edition; bool paramsRead; QDialog* dialog; };
    std::vector<QWidget*> shown;
    auto about = [&] {
        QTimer::singleShot(0, [&] {
            QWidget* w = QApplication::activeModalWidget();
            shown.push_back(w);
            if (w) w->close();
        });
        Form1->MaboutClick();
    };
    const Case cases[] = {{1, 0, false, Form3}, {2, 0, true, Form4}, {1, 1, true, Form7}, {2, 1, true, Form8}};
    for (const Case& c : cases) {
        Settings.UiLanguage = c.language;
        Params.DeviceEdition = c.edition;
        Params.ParamsRead = c.paramsRead;
        Form1->Timer1->SetEnabled(false);
        shown.clear();
        about();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], c.dialog) << c.language << " " << c.edition;
        EXPECT_TRUE(Form1->Timer1->Enabled());
        // The "Скворец" dialogs show the firmware line only after a good parameter read.
        EXPECT_EQ(Form3->Label4->isHidden(), !c.paramsRead);
        EXPECT_EQ(Form4->Label3->isHidden(), !c.paramsRead);
        EXPECT_FALSE(Form7->Label4->isHidden());
    }
    EXPECT_EQ(Form4->Label3->text(), "Dosimeter software version  0.");
    EXPECT_EQ(Form4->Label4->text(), QString::number(Params.ParameterValues.FirmwareVersion));
    EXPECT_EQ(Form7->Label2->text(), QString::fromUtf8("дозиметров РДТ-17 \"Кедр+\" "));
    EXPECT_EQ(Form8->Label2->text(), "for dosimeters RDT-17 \"Starling\" ");
}

TEST(Jpeg, PhotographDecodesAndGarbageDoesNot) {
    Q_INIT_RESOURCE(resources);
    QFile f(":/images/photo.jpg");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QByteArray data = f.readAll();
    const QImage photo = DecodeJpeg(data);
    EXPECT_EQ(photo.size(), QSize(310, 118));
    EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture")).isNull());
    data.truncate(data.size() / 3);  // a damaged file still gives a picture or nothing, never a crash
    const QImage part = DecodeJpeg(data);
    EXPECT_TRUE(part.isNull() || part.size() == QSize(310, 118));
}
