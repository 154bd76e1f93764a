// The archive tab of the main window: download, session view and navigation, the
// session text file, the erase button and the chart's zoom and scroll buttons.
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QTime>
#include <algorithm>
#include <cmath>

#include "archive/archive.h"
#include "link/link.h"
#include "monitor/timeaxis.h"
#include "shell/application.h"
#include "shell/inifile.h"
#include "shell/kvelp.h"

namespace veresk {

namespace {

// The chart's axis limits and automatic settings.  Qt's axes have no automatic
// scaling of their own: the automatic limits are fitted here after every walk.
struct ArchiveChartAxes {
    AxisLimits time{0, 0, true};    // day-counts; automatic as designed
    AxisLimits value{0, 0, true};   // minimum fixed at 0, maximum automatic as designed
};
ArchiveChartAxes ChartAxes;

constexpr qint64 kMsPerDay = 86400000;
constexpr double kUnixDayCount = 25569.0;  // 1 January 1970 as a day-count

// A day-count as wall-clock milliseconds (the time axis's label arithmetic) and back.
qint64 DayCountToWallMs(double dayCount) {
    return std::llround((dayCount - kUnixDayCount) * static_cast<double>(kMsPerDay));
}
double WallMsToDayCount(qint64 wallMs) {
    return kUnixDayCount + static_cast<double>(wallMs) / static_cast<double>(kMsPerDay);
}

// A day-count holds the device's wall-clock time.  The time axis draws its labels in
// the PC's local time, so a point goes on the axis at the instant whose local time is
// that wall-clock time.
QDateTime DayCountToDateTime(double dayCount) { return FromWallMs(DayCountToWallMs(dayCount)); }

double DateTimeToDayCount(const QDateTime& dt) { return WallMsToDayCount(ToWallMs(dt)); }

double MsToDayCount(qreal ms) { return DateTimeToDayCount(QDateTime::fromMSecsSinceEpoch(std::llround(ms))); }

// Puts the limits on the chart, with as many time labels as fit and read differently in
// the chosen format.  Automatic time limits are rounded out to whole label steps, and
// the rounded limits are the axis's own (the first manual step starts from what is
// drawn).  Limits a person set are drawn as they are, unless they are too close for
// two labels to differ (a window of no width among them): then the drawn window is a
// little wider, while the limits themselves stay.
void ApplyAxes(TForm1& f) {
    const int labels = TimeLabelCount(f.Chart5Bottom, f.Chart5->width() - 90);
    const qint64 lo = DayCountToWallMs(ChartAxes.time.min), hi = DayCountToWallMs(ChartAxes.time.max);
    const QString format = f.Chart5Bottom->format();
    TimeTicks ticks;
    if (ChartAxes.time.automatic) {
        ticks = AlignedTimeTicks(lo, hi, labels, format);
        ChartAxes.time.min = WallMsToDayCount(ticks.min);
        ChartAxes.time.max = WallMsToDayCount(ticks.max);
    } else {
        ticks = KeptTimeTicks(lo, hi, labels, format);
    }
    ShowTimeTicks(f.Chart5Bottom, ticks);
    double vmin = ChartAxes.value.min, vmax = ChartAxes.value.max;
    if (!(vmax > vmin)) vmax = vmin + 1.0;
    f.Chart5Left->setRange(vmin, vmax);
}

constexpr double kValueMargin = 0.05;  // above the highest point of an automatic value axis

// Fits the automatic limits to the points with a small margin, so that no point is drawn
// on the plot's edge.
void FitAndApplyAxes(TForm1& f, const std::vector<QPointF>& points) {
    const bool time = ChartAxes.time.automatic, value = ChartAxes.value.automatic;
    FitAxes(ChartAxes.time, ChartAxes.value, points);
    if (!points.empty() && time) {
        qint64 lo = DayCountToWallMs(ChartAxes.time.min), hi = DayCountToWallMs(ChartAxes.time.max);
        AddTimeMargin(lo, hi);
        ChartAxes.time.min = WallMsToDayCount(lo);
        ChartAxes.time.max = WallMsToDayCount(hi);
    }
    if (!points.empty() && value) ChartAxes.value.max *= 1 + kValueMargin;
    ApplyAxes(f);
}

std::vector<QPointF> ShownPoints(const TForm1& f) {
    std::vector<QPointF> points;
    for (const QPointF& p : f.Series12->points()) points.emplace_back(MsToDayCount(p.x()), p.y());
    return points;
}

void EmptyCell(TStringGrid* grid, int col, int row) {
    if (QTableWidgetItem* it = grid->item(row, col); it && !it->text().isEmpty()) it->setText(QString());
}

// Empties the three cells of every grid row below the header; the row count stays.
void EmptyRecordRows(TStringGrid* grid) {
    for (int r = 1; r < grid->RowCount(); ++r)
        for (int c = 0; c < 3; ++c) EmptyCell(grid, c, r);
}

void SaveShownSession(const TForm1& f) {
    std::vector<GridRow> rows;
    for (int r = 1; r < f.StringGrid8->RowCount(); ++r)
        rows.push_back({f.StringGrid8->Cell(0, r), f.StringGrid8->Cell(1, r), f.StringGrid8->Cell(2, r)});
    SaveSessionFile(Archive.CurrentSession, rows, QLocale::system());
}

struct GridText {
    int col, row;
    TextPair text;
};
const GridText kRecordHeaders[] = {
    {0, 0, {"№", " #"}},
    {1, 0, {"Время, с", "Time, sec"}},
    {2, 0, {"МЭД", "Dose rate"}},
};
const GridText kStatLabels[] = {
    {0, 0, {"Время работы", "Working time"}},
    {0, 1, {"Измерений", "Samples"}},
    {0, 2, {"Максимум", "Maximum"}},
    {0, 3, {"Минимум", "Minimum"}},
    {0, 4, {"Среднее", "Average"}},
};

}  // namespace

void TForm1::ConnectArchiveTab() {
    // The axes as designed: the time axis automatic, the value axis from 0 with an
    // automatic maximum.
    ChartAxes = ArchiveChartAxes{};
    // Before any download the time axis shows today, one label at each end.
    const QDate today = QDate::currentDate();
    ChartAxes.time.min = DateTimeToDayCount(QDateTime(today, QTime(0, 0)));
    ChartAxes.time.max = DateTimeToDayCount(QDateTime(today.addDays(1), QTime(0, 0)));
    ChartAxes.value.min = 0;
    ChartAxes.value.max = Chart5Left->max();
    ApplyAxes(*this);

    auto on = [this](QPushButton* b, void (TForm1::*handler)()) {
        connect(b, &QPushButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    on(Button1, &TForm1::Button1Click);
    on(Button7, &TForm1::Button7Click);
    on(BitBtn5, &TForm1::BitBtn5Click);
    on(BitBtn11, &TForm1::BitBtn11Click);
    on(BitBtn1, &TForm1::BitBtn1Click);
    on(BitBtn2, &TForm1::BitBtn2Click);
    on(BitBtn3, &TForm1::BitBtn3Click);
    on(BitBtn4, &TForm1::BitBtn4Click);
    on(BitBtn6, &TForm1::BitBtn6Click);
    on(BitBtn7, &TForm1::BitBtn7Click);
    on(BitBtn8, &TForm1::BitBtn8Click);
    on(BitBtn9, &TForm1::BitBtn9Click);
    on(BitBtn10, &TForm1::BitBtn10Click);
}

// ---------------------------------------------------------------- download

void TForm1::Button1Click() {
    Timer1->SetEnabled(false);
    Series12->clear();
    ReadArchive();
    Timer2->SetEnabled(true);
}

void TForm1::ReadArchive() {
    if (!Link.PortHandle) {
        StatusMessage(msg::PortOpeningError, true);
        return;
    }
    ProgressBar2->setValue(0);
    ProgressBar2->show();
    PrepareSessionView();

    const DownloadOutcome outcome = DownloadArchive([this](int attempts) {
        ProgressBar2->setValue(std::clamp(attempts, ProgressBar2->minimum(), ProgressBar2->maximum()));
    });
    ProgressBar2->hide();
    if (outcome != DownloadOutcome::Read) {
        StatusMessage(outcome == DownloadOutcome::NoPort ? msg::PortOpeningError : msg::ConnectionError, true);
        return;
    }
    StatusMessage(msg::ReadOk, false);
    KeepDownloadedArchive();
    ShowFirstSession();
}

void TForm1::PrepareSessionView() {
    StringGrid8->SetRowCount(kArchiveRecordCount);
    const int lang = Settings.UiLanguage;
    for (const GridText& g : kRecordHeaders) StringGrid8->SetCell(g.col, g.row, Tr(g.text, lang));
    for (const GridText& g : kStatLabels) StringGrid3->SetCell(g.col, g.row, Tr(g.text, lang));
    EmptyRecordRows(StringGrid8);
}

void TForm1::ShowFirstSession() {
    Edit2->setText(SessionText(Archive.CurrentSession, Archive.SessionCount, Settings.UiLanguage));
    Series12->clear();
    ShowSession(1, Archive.SessionCount);
}

bool TForm1::ShowSession(int session, int& counter) {
    const QString format = TimeAxisFormat(ComboBox9->currentIndex());
    if (!format.isEmpty()) Chart5Bottom->setFormat(format);

    const QLocale locale = QLocale::system();
    const SessionView view = veresk::ShowSession(Archive.ArchiveImage, session, counter, locale);
    if (view.rowCount >= 0) StringGrid8->SetRowCount(view.rowCount);
    for (size_t i = 0; i < view.rows.size(); ++i) {
        const int row = static_cast<int>(i) + 1;
        StringGrid8->SetCell(0, row, QString::number(view.rows[i].record));
        StringGrid8->SetCell(1, row, view.rows[i].time);
        StringGrid8->SetCell(2, row, view.rows[i].value);
    }
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(view.points.size()));
    for (const QPointF& p : view.points)
        points.append(QPointF(static_cast<qreal>(DayCountToDateTime(p.x()).toMSecsSinceEpoch()), p.y()));
    Series12->append(points);
    FitAndApplyAxes(*this, view.points);

    if (view.stats.count == 0) return false;
    const int lang = Settings.UiLanguage;
    Edit2->setText(SessionText(Archive.CurrentSession, Archive.SessionCount, lang));
    const auto texts = SessionStatsTexts(view.stats, lang, locale);
    for (int r = 0; r < 5; ++r) StringGrid3->SetCell(1, r, texts[static_cast<size_t>(r)]);
    return true;
}

// ---------------------------------------------------------------- session navigation

// Both buttons step CurrentSession with wrap-around and show that session from the
// image in memory.  The walk numbers the sessions exactly as the download did (its
// counter starts at 0, and at 1 when memory begins with a record instead of a mark), so
// " 2 из 4" and сеанс2.txt are the download's second session and every session found,
// the last one included, can be reached.
void TForm1::StepSession(int step) {
    if (!Archive.ArchiveLoaded) return;
    Archive.CurrentSession += step;
    Series12->clear();
    EmptyRecordRows(StringGrid8);
    // Past either end to the other (staying at 0 while there is no session).
    if (Archive.CurrentSession <= 0) Archive.CurrentSession = Archive.SessionCount;
    if (Archive.CurrentSession > Archive.SessionCount) Archive.CurrentSession = 1;
    // While no session exists (no measurement at all) the buttons show nothing.
    int counter = 0;
    const int session = Archive.CurrentSession > 0 ? Archive.CurrentSession : -1;
    if (ShowSession(session, counter) && CheckBox1->isChecked()) SaveShownSession(*this);
}

void TForm1::BitBtn5Click() { StepSession(-1); }
void TForm1::BitBtn11Click() { StepSession(+1); }

// ---------------------------------------------------------------- erase

void TForm1::Button7Click() {
    Series12->clear();
    if (OpenDevicePort() == nullptr) StatusMessage(msg::PortOpeningError, true);
    std::fill_n(Link.IoBuffer.begin(), 1000, uint8_t{0xFF});
    WriteTransaction(ArchiveEraseCommand, 0, 0);  // with no port nothing goes out
    // The view is emptied whether or not the device got the command.
    ClearArchive();
    for (int c = 0; c < 3; ++c) EmptyCell(StringGrid8, c, 0);  // the header too; the next download writes it again
    EmptyRecordRows(StringGrid8);
    for (int r = 0; r < 5; ++r) EmptyCell(StringGrid3, 1, r);
}

// ---------------------------------------------------------------- chart navigation

void TForm1::BitBtn10Click() {
    AutomaticAxes(ChartAxes.time, ChartAxes.value);
    FitAndApplyAxes(*this, ShownPoints(*this));
}

void TForm1::BitBtn1Click() {
    if (TimeZoomIn(ChartAxes.time)) ApplyAxes(*this);
}

void TForm1::BitBtn2Click() {
    if (TimeZoomOut(ChartAxes.time)) ApplyAxes(*this);
}

void TForm1::BitBtn4Click() {
    if (TimeLater(ChartAxes.time)) ApplyAxes(*this);
}

void TForm1::BitBtn3Click() {
    if (TimeEarlier(ChartAxes.time)) ApplyAxes(*this);
}

void TForm1::BitBtn6Click() {
    if (ValueZoomIn(ChartAxes.value)) ApplyAxes(*this);
}

void TForm1::BitBtn7Click() {
    if (ValueZoomOut(ChartAxes.value)) ApplyAxes(*this);
}

void TForm1::BitBtn8Click() {
    if (ValueUp(ChartAxes.value)) ApplyAxes(*this);
}

void TForm1::BitBtn9Click() {
    if (ValueDown(ChartAxes.value)) ApplyAxes(*this);
}

}  // namespace veresk
