// The buttons of the parameters tab that send to the device: "Сохранить параметры",
// "Сбросить дозу" and the hidden "Заводские настройки".
#include <QLocale>
#include <algorithm>

#include "link/link.h"
#include "monitor/status.h"
#include "settings/parameters.h"
#include "settings/writeback.h"
#include "shell/application.h"
#include "shell/inifile.h"
#include "shell/kvelp.h"

namespace veresk {

namespace {

inline constexpr uint8_t ResetDoseCommand = 0x40;
inline constexpr uint8_t FactorySettingsCommand = 0x50;

ParameterControls ControlsOf(const TForm1& f) {
    ParameterControls c;
    c.ComboBox8 = f.ComboBox8->currentIndex();
    c.ComboBox3 = f.ComboBox3->currentIndex();
    c.ComboBox1 = f.ComboBox1->currentIndex();
    c.ComboBox4 = f.ComboBox4->currentIndex();
    c.ComboBox2 = f.ComboBox2->currentIndex();
    c.ComboBox5 = f.ComboBox5->currentIndex();
    c.ComboBox6 = f.ComboBox6->currentIndex();
    c.ComboBox7 = f.ComboBox7->currentIndex();
    for (int r = 1; r <= 3; ++r) {
        c.RateCells[r - 1] = f.StringGrid1->Cell(1, r);
        c.DoseCells[r - 1] = f.StringGrid4->Cell(1, r);
    }
    return c;
}

void ClearIoBuffer() { std::fill_n(Link.IoBuffer.begin(), 1000, 0xFF); }

// Opens the port and checks that a parameter block has been read; a refusal is drawn
// on the status line and nothing is sent.
bool ReadyToSend(TForm1& f) {
    if (OpenDevicePort() == nullptr) {
        f.StatusMessage(msg::ErrorOpeningPort, true);
        return false;
    }
    if (!Params.ParamsRead) {
        f.StatusMessage(msg::NoParameters, true);
        return false;
    }
    return true;
}

}  // namespace

void TForm1::ConnectParameterButtons() {
    connect(Button6, &QPushButton::clicked, this, [this] { Guarded([this] { Button6Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { Guarded([this] { Button3Click(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { Guarded([this] { Button4Click(); }); });
}

// Sends the whole parameter block.  It needs a status block decoded since the previous
// write-back (offset 42 carries that block's dose) and uses it up.  The typed threshold
// cells are checked before that: a cell that cannot be sent raises an error and the
// save changes nothing (the status block stays fresh, polling goes on), so that saving
// again after correcting the cell sends.  Without a good parameter read the cells hold
// nothing of the device's; the refusal below says so instead.
void TForm1::Button6Click() {
    if (!Polling.StatusFresh) return;
    const ParameterControls controls = ControlsOf(*this);
    const QLocale locale = QLocale::system();
    if (Params.ParamsRead) CheckThresholdCells(controls, locale, Settings.UiLanguage);
    Polling.StatusFresh = false;
    Timer1->SetEnabled(false);
    if (!ReadyToSend(*this)) return;
    BuildParameterPayload(controls, Params.ParameterValues, Polling.LiveStatus.Dose, locale, Settings.UiLanguage);
    WriteTransaction(ParameterWriteCommand, ParameterLength, ParameterAddress);
    StatusMessage(msg::WriteOk, false);
    Timer2->SetEnabled(true);
}

// Resets the device's accumulated dose.  No success message: the next ticks show it.
void TForm1::Button3Click() {
    Timer1->SetEnabled(false);
    if (!ReadyToSend(*this)) return;
    ClearIoBuffer();
    WriteTransaction(ResetDoseCommand, 0, 0);
    Params.ParameterValues.AccumulatedDoseTime = 0;
    // The status block in hand still carries the dose from before the reset; a
    // write-back based on it would put that dose back into the device.  The next
    // write-back waits for a block read after the reset.
    Polling.StatusFresh = false;
    LineSeries1->clear();
    Timer2->SetEnabled(true);
}

// Restores the device's factory settings.  Polling goes on, and nothing is reported.
void TForm1::Button4Click() {
    if (OpenDevicePort() == nullptr) return;
    if (!Params.ParamsRead) return;
    ClearIoBuffer();
    WriteTransaction(FactorySettingsCommand, 0, 0);
}

}  // namespace veresk
