#include "link/scan.h"

namespace veresk {

TForm5::TForm5(QWidget* parent) : QWidget(parent, Qt::Window) {
    setFixedSize(260, 100);
    Label1 = new QLabel(QString::fromUtf8("Сканируем порты"), this);
    Label1->setGeometry(16, 10, 220, 20);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 255);
    ProgressBar1->setGeometry(16, 36, 228, 18);
    Button1 = new QPushButton(QString::fromUtf8("отмена"), this);
    Button1->setGeometry(90, 64, 80, 26);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
}

}  // namespace veresk
