#pragma once
// The two compact windows: a picture of the device's front panel with its display
// (TForm6) and a bare text strip (TForm9).  Both show the dose rate or the dose.
#include <QLabel>
#include <QWidget>

class QMouseEvent;

namespace veresk {

// Clicks as the windows' controls know them: a click is a left-button release over the
// control, and the release that ends a double-click is not one.
struct ClickTracker {
    bool afterDoubleClick = false;
    bool IsClick(const QWidget* control, const QMouseEvent* release);
    bool IsDoubleClick(const QMouseEvent* e);
};

// Compact window 1.
class TForm6 : public QWidget {
    Q_OBJECT
public:
    explicit TForm6(QWidget* parent = nullptr);
    QLabel* Image1;  // the front panel
    QLabel* Label1;  // the display: value text
    QLabel* Image2;  // upper button
    QLabel* Image3;  // lower button
    void SetOpacity(int value);  // 0..255
    int Opacity() const { return opacity_; }
    // The display in the main window's alarm red while the shown quantity's alarm flag
    // is set, sky blue otherwise.
    void SetAlarm(bool on);
    bool Alarm() const { return alarm_; }
    // The window's and the display's names for assistive technology, in the interface
    // language.
    void Describe();

    void Image1MouseDown(QPoint p);
    void Image1MouseMove(QPoint p);
    void Image1MouseUp();
    void Image2Click();
    void Image2DblClick();
    void Image3Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* e) override;

private:
    int opacity_ = 100;
    bool alarm_ = false;
    ClickTracker upper_, lower_;
    bool dragging_ = false;
    QPoint press_;
    int moves_ = 0;
    bool placed_ = false;
};

// Compact window 2.
class TForm9 : public QWidget {
    Q_OBJECT
public:
    explicit TForm9(QWidget* parent = nullptr);
    QLabel* Label1;
    void SetOpacity(int value) { opacity_ = value; }  // handed over; the strip stays opaque
    int Opacity() const { return opacity_; }
    // The strip in the main window's alarm red while the shown quantity's alarm flag is
    // set, the button-face colour otherwise.
    void SetAlarm(bool on);
    bool Alarm() const { return alarm_; }
    void Describe();  // as TForm6::Describe

    void Label1MouseDown(QPoint p);
    void Label1MouseMove(QPoint p);
    void Label1MouseUp();
    void Label1Click();
    void Label1DblClick();
    void Label1ContextPopup();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* e) override;

private:
    int opacity_ = 255;
    bool alarm_ = false;
    ClickTracker clicks_;
    bool dragging_ = false;
    QPoint press_;
    int moves_ = 0;
    bool placed_ = false;
};

}  // namespace veresk
