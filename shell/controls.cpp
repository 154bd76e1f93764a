#include "shell/controls.h"

#include <QHeaderView>
#include <QPainter>

namespace veresk {

TStringGrid::TStringGrid(int cols, int rows, QWidget* parent) : QTableWidget(rows, cols, parent) {
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(20);
}

QString TStringGrid::Cell(int col, int row) const {
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

void TStringGrid::SetCell(int col, int row, const QString& text) {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount()) return;
    QTableWidgetItem* it = item(row, col);
    if (!it) {
        it = new QTableWidgetItem(text);
        if (row < FixedRows || col == 0) {
            it->setFlags(it->flags() & ~Qt::ItemIsEditable);
            it->setBackground(palette().button());
        }
        setItem(row, col, it);
    } else {
        it->setText(text);
    }
}

TStatusBar::TStatusBar(const std::vector<int>& widths, QWidget* parent)
    : QWidget(parent), widths_(widths), texts_(widths.size()) {
    setFixedHeight(22);
}

void TStatusBar::SetPanelText(int i, const QString& text) {
    if (texts_.at(i) == text) return;
    texts_.at(i) = text;
    update();
}

void TStatusBar::DrawStatusMessage(const QString& text, bool red) {
    message_ = text;
    messageRed_ = red;
    update();
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    int x = 0;
    for (size_t i = 0; i < widths_.size(); ++i) {
        const int w = (i + 1 == widths_.size()) ? width() - x : widths_[i];
        const QRect r(x, 0, w - 2, height() - 1);
        p.setPen(palette().mid().color());
        p.drawRect(r);
        if (i == 0) {
            p.setPen(messageRed_ ? QColor(Qt::red) : QColor(Qt::black));
            p.drawText(r.adjusted(5, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, message_);
        } else {
            p.setPen(palette().windowText().color());
            p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, texts_[i]);
        }
        x += widths_[i];
    }
}

void TProgressBar::SetBarColor(const QColor& c) {
    if (c == color_) return;
    color_ = c;
    setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: %1; }").arg(c.name()));
}

void SetBackground(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, c);
    w->setPalette(pal);
}

QColor Background(const QWidget* w) { return w->palette().color(QPalette::Base); }

}  // namespace veresk
