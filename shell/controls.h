#pragma once
// Small window-framework pieces the program's windows are built from: a timer with an
// Enabled switch, a string grid addressed by (column, row), a status bar whose panel 0
// carries drawn link messages, and helpers for captions.
#include <QColor>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <vector>

namespace veresk {

// A timer that is either enabled (ticking at its interval) or not.  Enabling an
// enabled timer changes nothing: its count goes on.
class TTimer : public QTimer {
    Q_OBJECT
public:
    TTimer(int intervalMs, QObject* parent) : QTimer(parent) { setInterval(intervalMs); }
    bool Enabled() const { return isActive(); }
    void SetEnabled(bool on) {
        if (on && !isActive()) start();
        else if (!on && isActive()) stop();
    }
};

// A grid of texts, cells addressed column first as (col, row).
class TStringGrid : public QTableWidget {
    Q_OBJECT
public:
    TStringGrid(int cols, int rows, QWidget* parent);
    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString& text);
    int RowCount() const { return rowCount(); }
    void SetRowCount(int rows) { setRowCount(rows); }
    int FixedRows = 1;  // header rows drawn as headers
};

// The status bar: panel 0 is the status line where link messages are drawn, panels
// 1..8 hold plain texts.
class TStatusBar : public QWidget {
    Q_OBJECT
public:
    TStatusBar(const std::vector<int>& widths, QWidget* parent);
    QString PanelText(int i) const { return texts_.at(i); }
    void SetPanelText(int i, const QString& text);
    // A link message: the previous one is blanked out and the new one drawn at (5, 5)
    // in red (failure) or black (success).
    void DrawStatusMessage(const QString& text, bool red);
    QString StatusLineText() const { return message_; }
    bool StatusLineRed() const { return messageRed_; }
    int PanelWidth(int i) const { return widths_.at(i); }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    std::vector<int> widths_;
    std::vector<QString> texts_;
    QString message_;
    bool messageRed_ = false;
};

// A progress bar whose bar colour can be set.
class TProgressBar : public QProgressBar {
    Q_OBJECT
public:
    using QProgressBar::QProgressBar;
    void SetBarColor(const QColor& c);
    QColor BarColor() const { return color_; }

private:
    QColor color_;
};

// Sets a widget's background colour (edits' alarm colours).
void SetBackground(QWidget* w, const QColor& c);
QColor Background(const QWidget* w);

}  // namespace veresk
