// Start-up and "Связь": the port scan, the device search, the connection dialog, and
// the settings file read at start-up and written on exit.
#include <gtest/gtest.h>

#include <QFile>
#include <QTimer>

#include "link/discovery.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

class Startup : public GuiTest {
protected:
    void Start() {
        CreateForms();
        opened.clear();
        Form1->show();
    }
    std::vector<QString> ListItems() const {
        std::vector<QString> items;
        for (int i = 0; i < Form2->ComboBox1->count(); ++i) items.push_back(Form2->ComboBox1->itemText(i));
        return items;
    }
    // The port numbers opened after the scan's 1..255.
    std::vector<int> AfterScan() const {
        const auto it = std::find(opened.begin(), opened.end(), 255);
        return it == opened.end() ? std::vector<int>{} : std::vector<int>(it + 1, opened.end());
    }
    // Answers the modal connection dialog as soon as it opens.
    void AnswerDialog(const QString& port, bool automatic) {
        QTimer::singleShot(0, [port, automatic] {
            if (!port.isEmpty()) Form2->ComboBox1->setCurrentText(port);
            (automatic ? Form2->Button2 : Form2->Button1)->click();
        });
    }
    size_t RequestsWith(uint8_t command) const {
        size_t n = 0;
        for (const auto& r : simulator.Requests()) n += r.command == command;
        return n;
    }
};

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
}

}  // namespace

TEST_F(Startup, FindsTheDeviceOnPortThree) {
    ASSERT_TRUE(sandbox.AddSilentPort(1));
    ASSERT_TRUE(sandbox.Link(simulator, 3));
    Start();
    // Every port opened once, in rising order, then the two listed ones probed in turn.
    ASSERT_GE(opened.size(), 255u);
    EXPECT_EQ(std::vector<int>(opened.begin(), opened.begin() + 255), Range(1, 255));
    EXPECT_EQ(AfterScan(), (std::vector<int>{1, 3}));
    EXPECT_EQ(ListItems(), (std::vector<QString>{"1", "3"}));
    EXPECT_EQ(Link.DevicePort, 3);
    EXPECT_EQ(Form2->ComboBox1->currentText(), "3");
    EXPECT_FALSE(Form2->isVisible());
    // The probe, then the parameter read on the same open port.
    const auto requests = simulator.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].command, 0x10);
    EXPECT_EQ(requests[0].length, 20);
    EXPECT_EQ(requests[0].address, 128);
    EXPECT_EQ(requests[1].command, 0x30);
    EXPECT_TRUE(Params.ParamsRead);
    EXPECT_EQ(StatusText(), QString::fromUtf8("Прочитано"));
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_EQ(Form1->PageControl1->currentWidget(), Form1->TabSheet2);
}

TEST_F(Startup, PortsButNoDevice) {
    ASSERT_TRUE(sandbox.AddSilentPort(1));
    ASSERT_TRUE(sandbox.AddSilentPort(3));
    Start();
    EXPECT_EQ(Link.DevicePort, 0);
    EXPECT_EQ(StatusText(), QString::fromUtf8("Невозможно установить связь"));
    EXPECT_TRUE(StatusRed());
    EXPECT_TRUE(Form1->Timer1->Enabled());  // polling starts anyway ...
    opened.clear();
    Form1->Timer1Timer();
    EXPECT_EQ(opened, std::vector<int>{3});  // ... on the last listed port
}

TEST_F(Startup, NoPortsAtAll) {
    Start();
    EXPECT_EQ(Form2->ComboBox1->count(), 0);
    EXPECT_EQ(Link.DevicePort, 0);
    EXPECT_EQ(StatusText(), QString::fromUtf8("Невозможно установить связь"));
    opened.clear();
    Form1->Timer1Timer();  // no number in the field: nothing is opened
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(StatusText(), QString::fromUtf8("Невозможно открыть порт"));
}

TEST_F(Startup, HalfGoodProbeAnswerIsNotTheDevice) {
    ASSERT_TRUE(sandbox.Link(simulator, 3));
    simulator.HalfZeroResidualNext(1);
    Start();
    EXPECT_EQ(Link.DevicePort, 0);
    EXPECT_EQ(Link.LinkErrorCount, 0);  // a probe failure does not count as a link error
}

TEST_F(Startup, NoTickRunsWhileTheConnectionDialogIsOpen) {
    ASSERT_TRUE(sandbox.Link(simulator, 3));
    Start();
    Form1->Button14Click();  // arms the resume timer
    std::vector<int> openedDuringDialog;
    QTimer::singleShot(0, [&] {
        opened.clear();
        Form1->Timer2Timer();  // the resume timer fires while the dialog is open ...
        Form1->Timer1Timer();  // ... and a tick falls due
        openedDuringDialog = opened;
        Form2->Button1->click();
    });
    Form1->N13Click();
    EXPECT_TRUE(openedDuringDialog.empty());
    EXPECT_TRUE(Form1->Timer1->Enabled());
}

TEST_F(Startup, ManualOkKeepsAKnownDevice) {
    ASSERT_TRUE(sandbox.Link(simulator, 3));
    ASSERT_TRUE(sandbox.AddSilentPort(5));
    Start();
    ASSERT_EQ(Link.DevicePort, 3);
    simulator.ClearLog();
    Params.ParamsRead = false;
    AnswerDialog("5", false);
    opened.clear();
    Form1->N13Click();
    EXPECT_FALSE(Discovery.AutoDetect);
    EXPECT_EQ(AfterScan(), std::vector<int>{3});  // port 3 opened again, not the chosen 5
    EXPECT_EQ(RequestsWith(0x30), 1u);
    EXPECT_TRUE(Params.ParamsRead);
    EXPECT_TRUE(Form1->Timer1->Enabled());
    EXPECT_EQ(Form2->Label2->text(), QString::fromUtf8("Поиск устройства..."));
}

TEST_F(Startup, ManualOkWithoutADeviceUsesTheChosenPort) {
    ASSERT_TRUE(sandbox.AddSilentPort(2));
    ASSERT_TRUE(sandbox.AddSilentPort(4));
    Start();
    ASSERT_EQ(Link.DevicePort, 0);
    AnswerDialog("2", false);
    Form1->N13Click();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Ошибка связи"));
    EXPECT_TRUE(StatusRed());
    EXPECT_TRUE(Form1->Timer1->Enabled());
    opened.clear();
    Form1->Timer1Timer();
    EXPECT_EQ(opened, std::vector<int>{2});

    // A typed number with no port behind it: the open fails, polling resumes later.
    AnswerDialog("9", false);
    Form1->N13Click();
    EXPECT_EQ(StatusText(), QString::fromUtf8("Невозможно открыть порт"));
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_TRUE(Form1->Timer2->Enabled());
}

TEST_F(Startup, AutoDetectFromTheDialogFindsTheDevice) {
    ASSERT_TRUE(sandbox.AddSilentPort(2));
    Start();
    ASSERT_EQ(Link.DevicePort, 0);
    ASSERT_TRUE(sandbox.Link(simulator, 7));  // plugged in later
    AnswerDialog("", true);
    Form1->N13Click();
    EXPECT_TRUE(Discovery.AutoDetect);
    EXPECT_EQ(Link.DevicePort, 7);
    EXPECT_EQ(ListItems(), (std::vector<QString>{"2", "7"}));
    EXPECT_TRUE(Params.ParamsRead);
}

TEST_F(Startup, ShowingTheMainWindowAfterAViewChangeDoesNotSearch) {
    ASSERT_TRUE(sandbox.Link(simulator, 3));
    WriteSettings("[Common]\r\nTransparent=255\r\n");
    Start();
    ASSERT_FALSE(Discovery.ViewSwitched);  // no preview at 255
    Form1->N4Click();
    EXPECT_FALSE(Form1->isVisible());
    EXPECT_TRUE(Form6->isVisible());
    simulator.ClearLog();
    opened.clear();
    Form6->Image3Click();  // back to the main window
    EXPECT_TRUE(Form1->isVisible());
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(simulator.Requests().empty());
    EXPECT_EQ(Settings.ViewMode, 0);
}

// --- the settings file

TEST_F(Startup, NoSettingsFile) {
    Start();
    EXPECT_EQ(Settings.UiLanguage, 0);
    EXPECT_EQ(Settings.ViewMode, 0);
    EXPECT_EQ(Settings.Transparency, 40);
    EXPECT_EQ(Form1->TrackBar1->value(), 40);
    EXPECT_EQ(Form6->Opacity(), 40);
    EXPECT_TRUE(Form1->N1->isChecked());  // Russian, as designed
    EXPECT_TRUE(Form1->N3->isChecked());
    EXPECT_EQ(Form1->windowTitle(), QString::fromUtf8("РДТ-17 'Скворец'"));
    EXPECT_EQ(Form2->windowTitle(), QString::fromUtf8("Связь"));
    Form1->N8Click();
    EXPECT_EQ(Captured::ended, 1);
    QFile f(workdir.filePath("prog.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains("Language=0")) << text.toStdString();
    EXPECT_TRUE(text.contains("Transparent=40"));
    EXPECT_TRUE(text.contains("Mode=0"));
    EXPECT_LT(text.indexOf("Language"), text.indexOf("Transparent"));
    EXPECT_LT(text.indexOf("Transparent"), text.indexOf("Mode"));
}

TEST_F(Startup, StoredValuesAreReadAndClamped) {
    struct Case {
        const char* ini;
        int language, transparency, mode, slider, opacity;
    };
    const Case cases[] = {
        {"[Common]\nLanguage=abc\nTransparent=300\nMode=1\n", 0, 300, 1, 255, 44},
        {"[common]\nlanguage=0x2\ntransparent=$64\nmode=2\n", 2, 100, 2, 100, 100},
        {"[Common]\nLanguage=1\nTransparent=12\n", 1, 12, 0, 40, 12},
    };
    for (const Case& c : cases) {
        WriteSettings(c.ini);
        Start();
        EXPECT_EQ(Settings.UiLanguage, c.language) << c.ini;
        EXPECT_EQ(Settings.Transparency, c.transparency) << c.ini;
        EXPECT_EQ(Settings.ViewMode, c.mode) << c.ini;
        EXPECT_EQ(Form1->TrackBar1->value(), c.slider) << c.ini;
        EXPECT_EQ(Form6->Opacity(), c.opacity) << c.ini;
        DestroyForms();
        ResetAllState();
    }
}

TEST_F(Startup, EnglishStartAndExitStoresTheSlider) {
    WriteSettings("; kept\r\n[Common]\r\nLanguage=2\r\nTransparent=300\r\nMode=0\r\nColour=7\r\n[Other]\r\nx=1\r\n");
    Start();
    EXPECT_EQ(Form1->windowTitle(), "RDT-17 'Starling'");
    EXPECT_EQ(Form1->N13->text(), "Connect");
    EXPECT_TRUE(Form1->English1->isChecked());
    EXPECT_FALSE(Form1->N1->isChecked());
    EXPECT_EQ(Form2->windowTitle(), "Connection");
    EXPECT_EQ(Form2->Button2->text(), "Auto connection");
    EXPECT_EQ(StatusText(), "Connection error");
    Form1->N8Click();
    QFile f(workdir.filePath("prog.ini"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(),
              QByteArray("; kept\r\n[Common]\r\nLanguage=2\r\nTransparent=255\r\nMode=0\r\nColour=7\r\nLiveLog=0\r\n"
                         "[Other]\r\nx=1\r\n"));
}

TEST_F(Startup, ExitThatCannotWriteKeepsRunning) {
    ASSERT_TRUE(sandbox.Link(simulator, 3));
    Start();
    ASSERT_NE(Link.PortHandle, nullptr);
    // The settings file cannot be written: a directory stands in its place.
    ASSERT_TRUE(QDir(workdir.path()).mkdir("prog.ini"));
    Form1->N8->trigger();
    ASSERT_EQ(Captured::errors.size(), 1u);
    EXPECT_EQ(Captured::errors[0], "Unable to write to " + QDir::toNativeSeparators(workdir.filePath("prog.ini")));
    EXPECT_EQ(Captured::ended, 0);
    EXPECT_NE(Link.PortHandle, nullptr);  // the port stays open
    EXPECT_TRUE(Form1->isVisible());
}

TEST_F(Startup, FrameCloseDoesNotWriteSettings) {
    Start();
    Form1->close();
    EXPECT_EQ(Captured::ended, 1);
    EXPECT_FALSE(QFile::exists(workdir.filePath("prog.ini")));
}

TEST_F(Startup, MainWindowAsDesigned) {
    CreateForms();
    // Before the first show nothing polls.
    EXPECT_FALSE(Form1->Timer1->Enabled());
    EXPECT_FALSE(Form1->Timer2->Enabled());
    EXPECT_FALSE(Form1->Timer3->Enabled());
    EXPECT_EQ(Form1->Timer1->interval(), 1000);
    EXPECT_EQ(Form1->Timer2->interval(), 3000);
    EXPECT_EQ(Form1->Timer3->interval(), 7000);
    EXPECT_TRUE(Form2->isVisible());  // the connection dialog is on screen at once
    EXPECT_EQ(Form1->width(), 863);
    EXPECT_EQ(Form1->PageControl1->parentWidget()->size(), QSize(863, 483));  // the client area
    EXPECT_EQ(Form1->PageControl1->size(), QSize(862, 441));
    EXPECT_EQ(Form1->minimumSize(), Form1->maximumSize());  // fixed size
    const std::vector<QString> tabs = {QString::fromUtf8("Результаты измерения"), QString::fromUtf8("Параметры"),
                                       QString::fromUtf8("Архив")};
    ASSERT_EQ(Form1->PageControl1->count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Form1->PageControl1->tabText(i), tabs[i]);
    EXPECT_EQ(Form1->PageControl1->widget(0), Form1->TabSheet2);
    EXPECT_EQ(Form1->PageControl1->widget(2), Form1->TabSheet1);
    const int widths[] = {155, 110, 75, 80, 70, 105, 80, 90, 50};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Form1->StatusBar1->PanelWidth(i), widths[i]) << i;
    EXPECT_TRUE(Form1->N1->isChecked());
    EXPECT_TRUE(Form1->N3->isChecked());
    EXPECT_FALSE(Form1->N4->isChecked());
    EXPECT_TRUE(Form1->Button4->isHidden());
    EXPECT_TRUE(Form1->StringGrid2->isHidden());
    EXPECT_EQ(Form1->TrackBar1->value(), 255);

    // A caption change stops polling; choosing a tab starts it again.
    Form1->Timer1->SetEnabled(true);
    Form1->SetMenuCaption(Form1->N8, "Exit");
    EXPECT_FALSE(Form1->Timer1->Enabled());
    Form1->SetMenuCaption(Form1->N8, "Exit");  // no change: nothing stops
    Form1->PageControl1->setCurrentIndex(1);
    EXPECT_TRUE(Form1->Timer1->Enabled());
}
