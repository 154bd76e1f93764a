#pragma once
// Small window-framework pieces the program's windows are built from: a timer with an
// Enabled switch, a string grid addressed by (column, row), a status bar whose panel 0
// carries drawn link messages, and helpers for captions.
#include <QColor>
#include <QIcon>
#include <QStyle>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QXYSeries>
#include <vector>

#include "monitor/timeaxis.h"

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
    // The message as drawn: smaller, down to 9 pixels, and shortened with an ellipsis
    // when even that is too wide for panel 0 (the whole message is then its tooltip).
    QFont StatusLineFont() const;
    QString StatusLineDrawnText() const;
    bool StatusLineRed() const { return messageRed_; }
    int PanelWidth(int i) const { return widths_.at(i); }
    int PanelCount() const { return static_cast<int>(widths_.size()); }
    QRect PanelRect(int i) const;  // in the bar's coordinates

    // What assistive technology reads (the panels are painted, so they have no widgets
    // of their own): each panel is an accessible child whose name is its text; its
    // description is the caption above it, and for the status line the meaning of its
    // colour, `errorWord` (red) or `okWord` (black).
    void SetAccessibleTexts(const std::vector<QString>& captions, const QString& errorWord, const QString& okWord);
    QString AccessiblePanelName(int i) const;
    QString AccessiblePanelDescription(int i) const;

protected:
    void paintEvent(QPaintEvent*) override;
    bool event(QEvent* e) override;

private:
    void PanelChanged(int i);
    QRect StatusLineTextRect() const;

    std::vector<int> widths_;
    std::vector<QString> texts_;
    QString message_;
    bool messageRed_ = false;
    std::vector<QString> captions_;
    QString errorWord_, okWord_;
};

// `font` made smaller, a pixel at a time down to `minPixels`, until `text` fits in `room`
// pixels (or the smallest size is reached).
QFont ShrunkToFit(QFont font, const QString& text, int room, int minPixels);

// A caption over a status panel, kept within the panel's width.  A text too wide for
// the caption's font is drawn smaller, down to 9 pixels; a text that does not fit even
// then is shortened with an ellipsis and shows the whole text as its tooltip.
class TCaption : public QLabel {
    Q_OBJECT
public:
    TCaption(const QString& text, int width, QWidget* parent);
    QFont DrawnFont() const;
    QString DrawnText() const;  // the text as drawn: whole, or shortened
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override;
    bool event(QEvent* e) override;

private:
    int width_;
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

// Adds a point to a series kept in ascending order of x: a point not earlier than the
// last is appended (the usual case: the others are not touched, nothing is copied); an
// earlier one goes in at its place.
void AddInOrder(QXYSeries* series, QPointF point);

// How many labels of a time axis fit on a plot `plotWidth` pixels wide, in the axis's
// format and label font.
int TimeLabelCount(const QDateTimeAxis* axis, int plotWidth);
// Puts the limits and the label count on a time axis.
void ShowTimeTicks(QDateTimeAxis* axis, const TimeTicks& ticks);

// A picture for a button: the desktop icon theme's icon of that name (freedesktop
// names: "go-previous", "go-next", "go-up", "go-down", "zoom-in", "zoom-out",
// "zoom-fit-best"), else the style's standard arrow, else one drawn here.
QIcon ButtonIcon(const QString& themeName, const QStyle* style);

// Sets a widget's background colour (edits' alarm colours).
void SetBackground(QWidget* w, const QColor& c);
QColor Background(const QWidget* w);

}  // namespace veresk
