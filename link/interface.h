#pragma once
// The connection dialog "Связь": the port list, "ОК" and "Автоопределение", and its
// scanning layout (a notice and a progress bar).
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "link/discovery.h"

namespace veresk {

class TForm2 : public QDialog, public PortList {
    Q_OBJECT
public:
    // Reads the settings file and takes the texts of the stored language.
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    QLabel* Label1;
    QComboBox* ComboBox1;
    QPushButton* Button1;
    QPushButton* Button2;
    QLabel* Label2;
    QProgressBar* ProgressBar1;

    void Button1Click();
    void Button2Click();
    void ScanningLayout();
    void ChoosingLayout();

    // PortList
    void Clear() override;
    void Append(const QString& item) override;
    int Count() const override;
    QString Item(int index) const override;
    void Select(int index) override;
    void Progress(int n) override;

protected:
    // Only the dialog's own buttons close it (no Escape, no frame button).
    void reject() override {}
};

}  // namespace veresk
