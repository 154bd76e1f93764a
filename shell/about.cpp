#include "shell/about.h"

#include <QFile>
#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "shell/jpeg.h"

namespace veresk {

namespace {

QFont MainFont(int px) {
    QFont f;
    f.setBold(true);
    f.setPixelSize(px);
    return f;
}

// The banner of the "Скворец" dialogs.
QPixmap Banner() {
    QPixmap pm(312, 157);
    QPainter p(&pm);
    QLinearGradient g(0, 0, 0, 157);
    g.setColorAt(0, QColor(32, 72, 120));
    g.setColorAt(1, QColor(14, 36, 66));
    p.fillRect(pm.rect(), g);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(240, 240, 240));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(30);
    p.setFont(f);
    p.drawText(QRect(0, 20, 312, 60), Qt::AlignCenter, QString::fromUtf8("РДТ-17"));
    f.setPixelSize(16);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRect(0, 80, 312, 40), Qt::AlignCenter, QString::fromUtf8("Вереск"));
    return pm;
}

// The photograph of the device with the maker's logo ("Кедр+" dialogs), a JPEG.
QPixmap Photograph() {
    QFile f(QStringLiteral(":/images/photo.jpg"));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QPixmap::fromImage(DecodeJpeg(f.readAll()));
}

}  // namespace

AboutDialog::AboutDialog(const Texts& t, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(t.caption));
    // Wide enough for the purpose line in its bold font.
    const int textWidth = QFontMetrics(MainFont(13)).horizontalAdvance(QString::fromUtf8(t.purpose));
    setFixedSize(std::max(340, textWidth + 32), t.photograph ? 330 : 320);
    Image1 = new QLabel(this);
    Image1->setGeometry((width() - 312) / 2, 10, 312, t.photograph ? 121 : 157);
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setPixmap(t.photograph ? Photograph() : Banner());
    const int y = t.photograph ? 140 : 176;
    Label1 = new QLabel(QString::fromUtf8(t.purpose), this);
    Label1->setGeometry(14, y, width() - 28, 18);
    Label2 = new QLabel(QString::fromUtf8(t.model), this);
    Label2->setGeometry(14, y + 20, 250, 18);
    Label5 = new QLabel(QStringLiteral("ver. ") + QLatin1String(kProgramVersion), this);
    Label5->setGeometry(266, y + 20, 60, 18);
    Label3 = new QLabel(QString::fromUtf8(t.firmware), this);
    Label3->setGeometry(14, y + 40, 200, 18);
    Label3->adjustSize();
    Label4 = new QLabel(QStringLiteral("      "), this);
    Label4->setGeometry(14 + Label3->width(), y + 40, 60, 18);
    for (QLabel* l : {Label1, Label2, Label5, Label3, Label4}) l->setFont(MainFont(13));
    Label3->adjustSize();
    // The number completes the "0." that the caption ends with, also where the caption
    // carries a trailing space.
    const QString caption = Label3->text();
    qsizetype visible = caption.size();
    while (visible > 0 && caption.at(visible - 1).isSpace()) --visible;
    Label4->move(Label3->x() + QFontMetrics(Label3->font()).horizontalAdvance(caption.left(visible)), y + 40);
}

QLabel* AboutDialog::ContactLine(const QString& text, int y) {
    auto* l = new QLabel(text, this);
    l->setFont(MainFont(11));
    l->setGeometry(14, y, width() - 28, 16);
    return l;
}

QPushButton* AboutDialog::OkButton(int y) {
    auto* b = new QPushButton(QStringLiteral("OK"), this);
    b->setGeometry((width() - 80) / 2, y, 80, 26);
    return b;
}

TForm3::TForm3(QWidget* parent)
    : AboutDialog({"О программе", "Сервисно-информационная программа для", "дозиметров РДТ-17 \"Скворец\" ",
                   "Версия ПО дозиметра - 0. ", false},
                  parent) {
    Button1 = OkButton(280);
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);
}

TForm4::TForm4(QWidget* parent)
    : AboutDialog({"About", "Service program", "for dosimeters RDT-17 \"Starling\" ", "Dosimeter software version  0.",
                   false},
                  parent) {
    Button1 = OkButton(280);
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);
}

TForm7::TForm7(QWidget* parent)
    : AboutDialog({"О программе", "Сервисно-информационная программа для", "дозиметров РДТ-17 \"Кедр+\" ",
                   "Версия ПО дозиметра - 0. ", true},
                  parent) {
    // The program's own facts where the maker's contact lines stand.
    adress = ContactLine(QString::fromUtf8("Вереск, версия %1").arg(QLatin1String(kProgramVersion)), 204);
    Label6 = ContactLine(QString::fromUtf8("Лицензия: GPL-3.0-or-later"), 222);
    Label7 = ContactLine(QString::fromUtf8("О неполадках: см. README"), 240);
    OK = OkButton(290);
    connect(OK, &QPushButton::clicked, this, &TForm7::OKClick);
}

TForm8::TForm8(QWidget* parent)
    : AboutDialog({"About", "Service program", "for dosimeters RDT-17 \"Starling\" ", "Dosimeter software version  0.",
                   true},
                  parent) {
    adress = ContactLine(QStringLiteral("Veresk, version %1").arg(QLatin1String(kProgramVersion)), 204);
    Label6 = ContactLine(QStringLiteral("Licence: GPL-3.0-or-later"), 222);
    Label7 = ContactLine(QStringLiteral("Reporting problems: see README"), 240);
    Button1 = OkButton(290);
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);
}

}  // namespace veresk
