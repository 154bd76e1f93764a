#include "monitor/compact.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "link/discovery.h"
#include "monitor/viewstate.h"
#include "shell/application.h"
#include "shell/controls.h"
#include "shell/inifile.h"
#include "shell/texts.h"
#include "shell/kvelp.h"

namespace veresk {

namespace {

QFont ValueFont() {
    QFont f(QStringLiteral("Calibri"));
    f.setBold(true);
    f.setPixelSize(15);
    return f;
}

// The value label keeps its size; a text longer than the label is drawn in a smaller
// size of the same font, so that the number and its unit stay readable.
class FitLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (autoFillBackground()) p.fillRect(rect(), palette().color(QPalette::Window));
        p.setFont(ShrunkToFit(font(), text(), width() - 2, 9));
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(rect().adjusted(1, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, text());
    }
};

// The front panel of the dosimeter: a display window at the left, two round buttons in
// the middle and the nameplate at the right.
QPixmap FrontPanel() {
    QPixmap pm(342, 95);
    pm.fill(QColor(58, 62, 68));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 30, 34), 2));
    p.setBrush(QColor(74, 79, 86));
    p.drawRoundedRect(QRectF(2, 2, 338, 91), 10, 10);
    p.setBrush(QColor(20, 24, 28));
    p.drawRoundedRect(QRectF(24, 14, 104, 47), 4, 4);  // display bezel, clear of the buttons
    for (const QRect r : {QRect(128, 5, 41, 41), QRect(129, 48, 41, 41)}) {
        QRadialGradient g(r.center(), 20);
        g.setColorAt(0, QColor(170, 172, 176));
        g.setColorAt(1, QColor(90, 92, 96));
        p.setBrush(g);
        p.drawEllipse(r.adjusted(3, 3, -3, -3));
    }
    p.setBrush(QColor(196, 198, 190));
    p.drawRoundedRect(QRectF(182, 10, 150, 75), 4, 4);
    p.setPen(QColor(30, 30, 30));
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(16);
    p.setFont(f);
    p.drawText(QRect(182, 14, 150, 22), Qt::AlignCenter, QString::fromUtf8("РДТ-17"));
    f.setBold(false);
    f.setPixelSize(9);
    p.setFont(f);
    p.drawText(QRect(186, 40, 142, 42), Qt::AlignCenter | Qt::TextWordWrap,
               QString::fromUtf8("0,1 мкЗв/ч – 1 Зв/ч\n0,01 мкЗв – 10 Зв"));
    return pm;
}

QPixmap ButtonPicture() {
    QPixmap pm(41, 41);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(16, 14), 24);
    g.setColorAt(0, QColor(225, 226, 228));
    g.setColorAt(1, QColor(110, 112, 118));
    p.setPen(QPen(QColor(40, 40, 44), 1.5));
    p.setBrush(g);
    p.drawEllipse(QRectF(3, 3, 35, 35));
    return pm;
}

// Moves on the first, fourth, seventh ... movement report while a button is held.
void DragMove(QWidget* window, bool dragging, QPoint press, int& moves, QPoint at) {
    if (moves == 0 && dragging) {
        window->move(window->pos() + (at - press));
        ++moves;
    } else if (dragging) {
        ++moves;
    }
    if (moves == 3) moves = 0;
}

// The display's ground: the main window's alarm red, or the window's usual colour.
// Set once a second by the tick: only a change of colour touches the widget.
void PaintGround(QWidget* w, bool alarm, const QColor& usual) {
    const QColor colour = alarm ? QColor(Qt::red) : usual;
    if (w->palette().color(QPalette::Window) == colour && w->testAttribute(Qt::WA_SetPalette)) return;
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    w->setPalette(pal);
}

const QColor kSkyBlue(0xA6, 0xCA, 0xF0);

// What a screen reader says: the window's name, and for the value text (read as its
// own name) the quantity it is and whether its threshold is passed.
void DescribeCompact(QWidget* window, QLabel* value, int number, bool alarm) {
    const int lang = Settings.UiLanguage;
    static constexpr TextPair kWindow[] = {{"Краткий вид 1", "Compact view 1"}, {"Краткий вид 2", "Compact view 2"}};
    static constexpr TextPair kQuantity[] = {{"Мощность дозы", "Dose rate"}, {"Доза", "Dose"}};
    // Set once a second by the tick: only a change reaches assistive technology.
    if (const QString name = Tr(kWindow[number - 1], lang); window->accessibleName() != name)
        window->setAccessibleName(name);
    const QString description = Tr(kQuantity[Compact.CompactSelection == 1 ? 1 : 0], lang) +
                                (alarm ? Tr(msg::ThresholdExceeded, lang) : QString());
    if (value->accessibleDescription() != description) value->setAccessibleDescription(description);
}

void EndFromCompact(QWidget* window, int mode) {
    Settings.ViewMode = mode;
    StoreSettings(Form1->TrackBar1->value());
    window->close();
    EndProgram();
}

void BackToMain(QWidget* compact, QAction* untick) {
    Form1->show();
    compact->hide();
    Form1->N3->setChecked(true);
    untick->setChecked(false);
    Settings.ViewMode = 0;
    Form1->Timer3->SetEnabled(false);
    Form1->Timer1->SetEnabled(true);
}

}  // namespace

bool ClickTracker::IsClick(const QWidget* control, const QMouseEvent* release) {
    const bool ends = afterDoubleClick;
    afterDoubleClick = false;
    return !ends && release->button() == Qt::LeftButton && control->rect().contains(release->position().toPoint());
}

bool ClickTracker::IsDoubleClick(const QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return false;
    afterDoubleClick = true;
    return true;
}

TForm6::TForm6(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setFixedSize(342, 95);
    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, 342, 95);
    Image1->setPixmap(FrontPanel());
    Label1 = new FitLabel(this);
    Label1->setGeometry(34, 24, 85, 27);
    Label1->setFont(ValueFont());
    Label1->setAutoFillBackground(true);
    QPalette pal = Label1->palette();
    pal.setColor(QPalette::Window, kSkyBlue);
    pal.setColor(QPalette::WindowText, palette().color(QPalette::WindowText));
    Label1->setPalette(pal);
    Image2 = new QLabel(this);
    Image2->setGeometry(128, 5, 41, 41);
    Image2->setPixmap(ButtonPicture());
    Image3 = new QLabel(this);
    Image3->setGeometry(129, 48, 41, 41);
    Image3->setPixmap(ButtonPicture());
    for (QLabel* l : {Image1, Image2, Image3}) l->installEventFilter(this);
    SetOpacity(100);
    Describe();
}

void TForm6::SetAlarm(bool on) {
    alarm_ = on;
    PaintGround(Label1, on, kSkyBlue);
    Describe();
}

void TForm6::Describe() { DescribeCompact(this, Label1, 1, alarm_); }

void TForm6::SetOpacity(int value) {
    opacity_ = value & 0xFF;
    setWindowOpacity(opacity_ / 255.0);
}

void TForm6::showEvent(QShowEvent* e) {
    if (!placed_) {
        placed_ = true;
        if (const QScreen* s = QGuiApplication::primaryScreen())
            move(s->geometry().center() - QPoint(width() / 2, height() / 2));
    }
    QWidget::showEvent(e);
}

bool TForm6::eventFilter(QObject* watched, QEvent* event) {
    const auto* me = static_cast<QMouseEvent*>(event);
    if (watched == Image1) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: Guarded([&] { Image1MouseDown(me->position().toPoint()); }); return true;
        case QEvent::MouseMove: Guarded([&] { Image1MouseMove(me->position().toPoint()); }); return true;
        case QEvent::MouseButtonRelease: Guarded([&] { Image1MouseUp(); }); return true;
        default: break;
        }
    } else if (watched == Image2) {
        if (event->type() == QEvent::MouseButtonRelease) {
            if (upper_.IsClick(Image2, me)) Guarded([&] { Image2Click(); });
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            if (upper_.IsDoubleClick(me)) Guarded([&] { Image2DblClick(); });
            return true;
        }
    } else if (watched == Image3) {
        if (event->type() == QEvent::MouseButtonRelease) {
            if (lower_.IsClick(Image3, me)) Guarded([&] { Image3Click(); });
            return true;
        }
        if (event->type() == QEvent::MouseButtonDblClick) {
            lower_.IsDoubleClick(me);  // its second half is no click
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm6::Image1MouseDown(QPoint p) { dragging_ = true; press_ = p; }
void TForm6::Image1MouseMove(QPoint p) { DragMove(this, dragging_, press_, moves_, p); }
void TForm6::Image1MouseUp() { dragging_ = false; moves_ = 0; }

void TForm6::Image2Click() {
    if (++Compact.CompactSelection > 1) Compact.CompactSelection = 0;
}

void TForm6::Image2DblClick() { EndFromCompact(this, 1); }

void TForm6::Image3Click() { BackToMain(this, Form1->N4); }

TForm9::TForm9(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setFixedSize(137, 33);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    Label1 = new FitLabel(this);
    Label1->setGeometry(0, 0, 137, 33);
    Label1->setFont(ValueFont());
    Label1->setContextMenuPolicy(Qt::DefaultContextMenu);  // the right button's request: back
    Label1->installEventFilter(this);
    Describe();
}

void TForm9::SetAlarm(bool on) {
    alarm_ = on;
    PaintGround(this, on, QPalette().color(QPalette::Button));
    Describe();
}

void TForm9::Describe() { DescribeCompact(this, Label1, 2, alarm_); }

void TForm9::showEvent(QShowEvent* e) {
    if (!placed_) {
        placed_ = true;
        move(229, 391);
    }
    QWidget::showEvent(e);
}

bool TForm9::eventFilter(QObject* watched, QEvent* event) {
    if (watched != Label1) return QWidget::eventFilter(watched, event);
    const auto* me = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        Guarded([&] { Label1MouseDown(me->position().toPoint()); });
        return true;
    case QEvent::MouseMove: Guarded([&] { Label1MouseMove(me->position().toPoint()); }); return true;
    case QEvent::MouseButtonRelease:
        Guarded([&] { Label1MouseUp(); });
        if (clicks_.IsClick(Label1, me)) Guarded([&] { Label1Click(); });
        return true;
    case QEvent::MouseButtonDblClick:
        if (clicks_.IsDoubleClick(me)) Guarded([&] { Label1DblClick(); });
        return true;
    case QEvent::ContextMenu:
        Guarded([&] { Label1ContextPopup(); });
        return true;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm9::Label1MouseDown(QPoint p) { dragging_ = true; press_ = p; }
void TForm9::Label1MouseMove(QPoint p) { DragMove(this, dragging_, press_, moves_, p); }
void TForm9::Label1MouseUp() { dragging_ = false; moves_ = 0; }

void TForm9::Label1Click() {
    if (++Compact.CompactSelection > 1) Compact.CompactSelection = 0;
}

void TForm9::Label1DblClick() { EndFromCompact(this, 2); }

void TForm9::Label1ContextPopup() { BackToMain(this, Form1->N21); }

}  // namespace veresk
