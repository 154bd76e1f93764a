#include "link/interface.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "link/link.h"
#include "shell/inifile.h"
#include "shell/texts.h"

namespace veresk {

namespace {
constexpr TextPair kCaption{"Связь", "Connection"};
constexpr TextPair kPortLabel{"COM-Порт", "COM-port"};
constexpr TextPair kAuto{"Автоопределение", "Auto connection"};
}  // namespace

TForm2::TForm2(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint) {
    setFixedSize(250, 110);
    Label1 = new QLabel(QString::fromUtf8("COM-Порт"), this);
    Label1->setGeometry(16, 12, 100, 20);
    ComboBox1 = new QComboBox(this);
    ComboBox1->setEditable(true);
    ComboBox1->setMaxVisibleItems(9);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);  // the list holds only ports that opened
    ComboBox1->setGeometry(16, 34, 90, 24);
    Button1 = new QPushButton(QString::fromUtf8("ОК"), this);
    Button1->setGeometry(120, 34, 110, 26);
    Button2 = new QPushButton(QString::fromUtf8("Автоопределение"), this);
    Button2->setGeometry(120, 68, 110, 26);
    Label2 = new QLabel(QString::fromUtf8("поиск устройства...."), this);
    Label2->setGeometry(16, 20, 220, 20);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 255);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(16, 50, 218, 18);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);

    // The dialog's port field is what the link opens while no device is known.
    Link.PortField = [this] { return ComboBox1->currentText(); };

    LoadSettings();
    const int lang = Settings.UiLanguage;
    setWindowTitle(Tr(kCaption, lang));
    Label1->setText(Tr(kPortLabel, lang));
    Button2->setText(Tr(kAuto, lang));
    // The two buttons as wide as the longer caption needs; the dialog grows with them.
    const int buttonWidth = std::max({110, Button1->sizeHint().width(), Button2->sizeHint().width()});
    Button1->setGeometry(120, 34, buttonWidth, 26);
    Button2->setGeometry(120, 68, buttonWidth, 26);
    setFixedSize(std::max(250, 120 + buttonWidth + 16), 110);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->availableGeometry();
        move(r.center() - QPoint(width() / 2, height() / 2));
    }
}

TForm2::~TForm2() { Link.PortField = nullptr; }

void TForm2::Button1Click() {
    Discovery.AutoDetect = false;
    hide();
    if (isModal()) done(QDialog::Accepted);
}

void TForm2::Button2Click() {
    Discovery.AutoDetect = true;
    hide();
    if (isModal()) done(QDialog::Accepted);
}

void TForm2::ScanningLayout() {
    ComboBox1->hide();
    Button1->hide();
    Button2->hide();
    Label2->show();
    ProgressBar1->show();
}

void TForm2::ChoosingLayout() {
    ComboBox1->show();
    Button1->show();
    Button2->show();
    Label2->hide();
    ProgressBar1->hide();
}

void TForm2::Clear() { ComboBox1->clear(); }
void TForm2::Append(const QString& item) { ComboBox1->addItem(item); }
int TForm2::Count() const { return ComboBox1->count(); }
QString TForm2::Item(int index) const { return ComboBox1->itemText(index); }
void TForm2::Select(int index) { ComboBox1->setCurrentIndex(index); }
void TForm2::Progress(int n) {
    ProgressBar1->setValue(n);
    if (isVisible()) ProgressBar1->repaint();
}

}  // namespace veresk
