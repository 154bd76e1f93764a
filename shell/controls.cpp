#include "shell/controls.h"

#include <QHeaderView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QPointer>
#include <QToolTip>

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

namespace {

// One painted panel of the status bar, as an accessible child of the bar.
class StatusPanelAccessible : public QAccessibleInterface {
public:
    StatusPanelAccessible(TStatusBar* bar, int index) : bar_(bar), index_(index) {}
    bool isValid() const override { return !bar_.isNull(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return bar_ ? bar_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(bar_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        if (!bar_) return {};
        switch (t) {
        case QAccessible::Name: return bar_->AccessiblePanelName(index_);
        case QAccessible::Description: return bar_->AccessiblePanelDescription(index_);
        default: return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!bar_) return {};
        const QRect r = bar_->PanelRect(index_);
        return QRect(bar_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::StaticText; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.readOnly = true;
        if (!bar_ || !bar_->isVisible()) s.invisible = true;
        return s;
    }

private:
    QPointer<TStatusBar> bar_;
    int index_;
};

// The status bar with one child per panel.
class StatusBarAccessible : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(TStatusBar* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {
        for (int i = 0; i < bar->PanelCount(); ++i)
            ids_.push_back(QAccessible::registerAccessibleInterface(new StatusPanelAccessible(bar, i)));
    }
    ~StatusBarAccessible() override {
        for (const QAccessible::Id id : ids_) QAccessible::deleteAccessibleInterface(id);
    }
    int childCount() const override { return static_cast<int>(ids_.size()); }
    QAccessibleInterface* child(int i) const override {
        return i >= 0 && i < childCount() ? QAccessible::accessibleInterface(ids_[static_cast<size_t>(i)]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* c) const override {
        for (int i = 0; i < childCount(); ++i)
            if (child(i) == c) return i;
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (int i = 0; i < childCount(); ++i)
            if (child(i)->rect().contains(x, y)) return child(i);
        return nullptr;
    }

private:
    std::vector<QAccessible::Id> ids_;
};

QAccessibleInterface* StatusBarFactory(const QString&, QObject* object) {
    if (auto* bar = qobject_cast<TStatusBar*>(object)) return new StatusBarAccessible(bar);
    return nullptr;
}

}  // namespace

TStatusBar::TStatusBar(const std::vector<int>& widths, QWidget* parent)
    : QWidget(parent), widths_(widths), texts_(widths.size()), captions_(widths.size()) {
    static const bool factoryInstalled = (QAccessible::installFactory(StatusBarFactory), true);
    (void)factoryInstalled;
    setFixedHeight(22);
}

void TStatusBar::SetPanelText(int i, const QString& text) {
    if (texts_.at(i) == text) return;
    texts_.at(i) = text;
    update();
    PanelChanged(i);
}

void TStatusBar::DrawStatusMessage(const QString& text, bool red) {
    const bool changed = text != message_ || red != messageRed_;
    if (!changed) return;  // the same message stays as drawn
    message_ = text;
    messageRed_ = red;
    update();
    PanelChanged(0);
}

void TStatusBar::PanelChanged(int i) {
    if (!QAccessible::isActive()) return;
    QAccessibleEvent name(this, QAccessible::NameChanged);
    name.setChild(i);
    QAccessible::updateAccessibility(&name);
    QAccessibleEvent description(this, QAccessible::DescriptionChanged);
    description.setChild(i);
    QAccessible::updateAccessibility(&description);
}

void TStatusBar::SetAccessibleTexts(const std::vector<QString>& captions, const QString& errorWord,
                                    const QString& okWord) {
    for (size_t i = 0; i < captions_.size() && i < captions.size(); ++i) captions_[i] = captions[i];
    errorWord_ = errorWord;
    okWord_ = okWord;
}

QString TStatusBar::AccessiblePanelName(int i) const {
    return i == 0 ? message_ : texts_.at(static_cast<size_t>(i)).trimmed();
}

QString TStatusBar::AccessiblePanelDescription(int i) const {
    if (i != 0) return captions_.at(static_cast<size_t>(i));
    if (message_.isEmpty()) return captions_.at(0);
    return messageRed_ ? errorWord_ : okWord_;
}

QRect TStatusBar::PanelRect(int i) const {
    int x = 0;
    for (int k = 0; k < i; ++k) x += widths_.at(static_cast<size_t>(k));
    const int w = (i + 1 == PanelCount()) ? width() - x : widths_.at(static_cast<size_t>(i));
    return QRect(x, 0, w - 2, height() - 1);
}

void TStatusBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    for (size_t i = 0; i < widths_.size(); ++i) {
        const QRect r = PanelRect(static_cast<int>(i));
        p.setPen(palette().mid().color());
        p.drawRect(r);
        if (i == 0) {
            p.save();
            p.setFont(StatusLineFont());
            p.setPen(messageRed_ ? QColor(Qt::red) : QColor(Qt::black));
            p.drawText(StatusLineTextRect(), Qt::AlignVCenter | Qt::AlignLeft, StatusLineDrawnText());
            p.restore();
        } else {
            p.setPen(palette().windowText().color());
            p.drawText(r.adjusted(2, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, texts_[i]);
        }
    }
}

namespace {
constexpr int kSmallestCaptionPixels = 9;
}

QRect TStatusBar::StatusLineTextRect() const { return PanelRect(0).adjusted(5, 0, -1, 0); }

QFont TStatusBar::StatusLineFont() const {
    return ShrunkToFit(font(), message_, StatusLineTextRect().width(), kSmallestCaptionPixels);
}

QString TStatusBar::StatusLineDrawnText() const {
    const QFontMetrics m(StatusLineFont());
    const int room = StatusLineTextRect().width();
    return m.horizontalAdvance(message_) <= room ? message_ : m.elidedText(message_, Qt::ElideRight, room);
}

bool TStatusBar::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        if (PanelRect(0).contains(help->pos()) && StatusLineDrawnText() != message_)
            QToolTip::showText(help->globalPos(), message_, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}

QFont ShrunkToFit(QFont font, const QString& text, int room, int minPixels) {
    while (font.pixelSize() > minPixels && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPixelSize(font.pixelSize() - 1);
    return font;
}

TCaption::TCaption(const QString& text, int width, QWidget* parent) : QLabel(text, parent), width_(width) {
    resize(sizeHint());
}

QSize TCaption::sizeHint() const { return {width_, QLabel::sizeHint().height()}; }

QFont TCaption::DrawnFont() const { return ShrunkToFit(font(), text(), width_, kSmallestCaptionPixels); }

QString TCaption::DrawnText() const {
    const QFontMetrics m(DrawnFont());
    return m.horizontalAdvance(text()) <= width_ ? text() : m.elidedText(text(), Qt::ElideRight, width_);
}

void TCaption::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(DrawnFont());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft, DrawnText());
}

bool TCaption::event(QEvent* e) {
    if (e->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(e);
        if (DrawnText() != text()) QToolTip::showText(help->globalPos(), text(), this);
        else QToolTip::hideText();
        return true;
    }
    return QLabel::event(e);
}

void TProgressBar::SetBarColor(const QColor& c) {
    if (c == color_) return;
    color_ = c;
    setStyleSheet(QStringLiteral("QProgressBar::chunk { background-color: %1; }").arg(c.name()));
}

void AddInOrder(QXYSeries* series, QPointF point) {
    const int n = series->count();
    if (n == 0 || series->at(n - 1).x() <= point.x()) {
        series->append(point);
        return;
    }
    // After the last point with x not above the new one: a binary search over at(),
    // which reads the series' own list without copying it.
    int lo = 0, hi = n;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (series->at(mid).x() <= point.x()) lo = mid + 1;
        else hi = mid;
    }
    series->insert(lo, point);
}

int TimeLabelCount(const QDateTimeAxis* axis, int plotWidth) {
    // A label with wide digits: 28 December 2000, 23:58.
    const QString sample = WallLabel(QDateTime(QDate(2000, 12, 28), QTime(23, 58), Qt::UTC).toMSecsSinceEpoch(),
                                     axis->format());
    return LabelCountFor(plotWidth, QFontMetrics(axis->labelsFont()).horizontalAdvance(sample));
}

void ShowTimeTicks(QDateTimeAxis* axis, const TimeTicks& ticks) {
    axis->setRange(FromWallMs(ticks.min), FromWallMs(ticks.max));
    axis->setTickCount(ticks.count);
    axis->setLabelsVisible(ticks.labels);
}

namespace {

// A magnifying glass with a plus, a minus, or a frame (fit), for the zoom buttons where
// neither the icon theme nor the style has a picture.
QIcon DrawnZoomIcon(char kind, const QColor& ink) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ink, 1.6));
    if (kind == 'f') {
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(4, 8), QPointF(12, 8));
        p.drawLine(QPointF(8, 4), QPointF(8, 12));
        return QIcon(pm);
    }
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
    p.setPen(QPen(ink, 1.4));
    p.drawLine(QPointF(3.8, 6), QPointF(8.2, 6));
    if (kind == '+') p.drawLine(QPointF(6, 3.8), QPointF(6, 8.2));
    return QIcon(pm);
}

}  // namespace

QIcon ButtonIcon(const QString& themeName, const QStyle* style) {
    static const std::pair<const char*, QStyle::StandardPixmap> kArrows[] = {
        {"go-previous", QStyle::SP_ArrowLeft},
        {"go-next", QStyle::SP_ArrowRight},
        {"go-up", QStyle::SP_ArrowUp},
        {"go-down", QStyle::SP_ArrowDown},
    };
    QIcon fallback;
    for (const auto& [name, pixmap] : kArrows)
        if (themeName == QLatin1String(name)) fallback = style->standardIcon(pixmap);
    if (fallback.isNull()) {
        const QColor ink = QPalette().color(QPalette::ButtonText);
        fallback = DrawnZoomIcon(themeName == QLatin1String("zoom-in")    ? '+'
                                 : themeName == QLatin1String("zoom-out") ? '-'
                                                                          : 'f',
                                 ink);
    }
    return QIcon::fromTheme(themeName, fallback);
}

void SetBackground(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Base, c);
    w->setPalette(pal);
}

QColor Background(const QWidget* w) { return w->palette().color(QPalette::Base); }

}  // namespace veresk
