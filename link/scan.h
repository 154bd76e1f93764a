#pragma once
// The port-scan progress window.  It is created with the others but never shown.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

namespace veresk {

class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    QLabel* Label1;
    QProgressBar* ProgressBar1;
    QPushButton* Button1;
    void Button1Click() { close(); }
};

}  // namespace veresk
