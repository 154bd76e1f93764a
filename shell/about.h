#pragma once
// The four about dialogs: Russian and English, for each of the two editions.
#include <QDialog>
#include <QLabel>
#include <QPushButton>

namespace veresk {

inline constexpr const char* kProgramVersion = "1.0";

// What the four dialogs have in common; each dialog is its own class below.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    QLabel* Label1;  // purpose
    QLabel* Label2;  // model line
    QLabel* Label5;  // program version
    QLabel* Label3;  // firmware caption, ending in "0."
    QLabel* Label4;  // firmware number
    QLabel* Image1;  // banner or photograph

protected:
    struct Texts {
        const char* caption;
        const char* purpose;
        const char* model;
        const char* firmware;
        bool photograph;
    };
    AboutDialog(const Texts& t, QWidget* parent);
    QLabel* ContactLine(const QString& text, int y);
    QPushButton* OkButton(int y);  // centred
};

class TForm3 : public AboutDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    QPushButton* Button1;
};

class TForm4 : public AboutDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);
    QPushButton* Button1;
};

class TForm7 : public AboutDialog {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);
    QLabel *adress, *Label6, *Label7;
    QPushButton* OK;
    void OKClick() { close(); }
};

class TForm8 : public AboutDialog {
    Q_OBJECT
public:
    explicit TForm8(QWidget* parent = nullptr);
    QLabel *adress, *Label6, *Label7;
    QPushButton* Button1;
};

}  // namespace veresk
