#include "shell/kvelp.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHeaderView>
#include <QPainter>
#include <QShowEvent>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <tuple>

#include "link/discovery.h"
#include "link/interface.h"
#include "link/link.h"
#include "monitor/compact.h"
#include "monitor/polling.h"
#include "monitor/viewstate.h"
#include "settings/readparams.h"
#include "shell/about.h"
#include "shell/application.h"
#include "shell/inifile.h"

namespace veresk {

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y) {
    auto* l = new QLabel(U(text), parent);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QComboBox* MakeCombo(QWidget* parent, std::initializer_list<const char*> items, int x, int y, int w) {
    auto* c = new QComboBox(parent);
    for (const char* item : items) c->addItem(U(item));
    c->setCurrentIndex(-1);
    c->setGeometry(x, y, w, 24);
    return c;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int x, int y, int w, int h = 26) {
    auto* b = new QPushButton(U(text), parent);
    b->setGeometry(x, y, w, h);
    return b;
}

QLineEdit* MakeValueEdit(QWidget* parent, int x, int y, int w, int px) {
    auto* e = new QLineEdit(parent);
    e->setReadOnly(true);
    e->setGeometry(x, y, w, px + 14);
    QFont f = e->font();
    f.setBold(true);
    f.setPixelSize(px);
    e->setFont(f);
    return e;
}

constexpr int kChartMargin = 2;  // around a chart's axes

// The design colour of the value fields: the system's menu-bar colour.
QColor MenuBarColour() { return QPalette().color(QPalette::Button); }

QChartView* MakeChart(QWidget* parent, QLineSeries*& series, QDateTimeAxis*& bottom, QValueAxis*& left,
                      const QColor& colour, qreal marker, const char* title) {
    auto* chart = new QChart();
    chart->legend()->hide();
    chart->setMargins(QMargins(kChartMargin, kChartMargin, kChartMargin, kChartMargin));
    series = new QLineSeries(chart);
    series->setColor(colour);
    series->setPointsVisible(true);
    series->setMarkerSize(marker);
    chart->addSeries(series);
    bottom = new QDateTimeAxis(chart);
    bottom->setFormat(QStringLiteral("dd.MM.yyyy"));
    bottom->setLabelsVisible(false);
    bottom->setTickCount(7);
    left = new QValueAxis(chart);
    left->setMin(0);
    left->setTitleText(U(title));
    chart->addAxis(bottom, Qt::AlignBottom);
    chart->addAxis(left, Qt::AlignLeft);
    series->attachAxis(bottom);
    series->attachAxis(left);
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing);
    return view;
}

// The interface texts of the main window (captions, lists, fixed grid cells).
struct CaptionRow {
    const char* ru;
    const char* en;
};

void SetSelection(QComboBox* box, int index) { box->setCurrentIndex(SelectorItem(index, box->count())); }

// What a screen reader adds to a value field's name and number: its unit, and the
// alarm its red background shows.
QString ValueDescription(const QString& unit, bool red, int uiLanguage) {
    return red ? unit + Tr(msg::ThresholdExceeded, uiLanguage) : unit;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    setWindowTitle(U("РДТ-17 'Скворец'"));
    Timer1 = new TTimer(1000, this);
    Timer2 = new TTimer(3000, this);
    Timer3 = new TTimer(7000, this);
    connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
    connect(Timer2, &QTimer::timeout, this, [this] { Guarded([this] { Timer2Timer(); }); });
    connect(Timer3, &QTimer::timeout, this, [this] { Guarded([this] { Timer3Timer(); }); });

    BuildMenu();
    const int top = MainMenu1->sizeHint().height();
    setFixedSize(863, 483 + top);

    auto* client = new QWidget(this);
    client->setGeometry(0, top, 863, 483);
    PageControl1 = new QTabWidget(client);
    PageControl1->setGeometry(0, 0, 862, 441);
    TabSheet2 = new QWidget();
    TabSheet5 = new QWidget();
    TabSheet1 = new QWidget();
    PageControl1->addTab(TabSheet2, U("Результаты измерения"));
    PageControl1->addTab(TabSheet5, U("Параметры"));
    PageControl1->addTab(TabSheet1, U("Архив"));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int) {
        if (!settingPage_) Guarded([this] { PageControl1Change(); });
    });

    const std::vector<int> widths = {155, 110, 75, 80, 70, 105, 80, 90, 50};
    StatusBar1 = new TStatusBar(widths, client);
    StatusBar1->setGeometry(0, 461, 863, 22);
    QLabel** captions[] = {&Label1, &Label2, &Label3, &Label4, &Label18, &Label5, &Label9, &Label19, &Label22};
    const char* captionTexts[] = {"Статус",    "Время работы", "Аккумулятор", "Температура", "Измерений",
                                  "Время измерения", "Импульсы", "Порог МЭД", "Порог ЭД"};
    QFont small = font();
    small.setPixelSize(11);
    StatusBar1->setFont(small);
    int x = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
        // Each caption keeps within its panel (the last panel reaches the window's edge).
        const int room = (i + 1 == widths.size() ? 863 - x : widths[i]) - 4;
        *captions[i] = new TCaption(U(captionTexts[i]), room, client);
        (*captions[i])->setFont(small);
        (*captions[i])->move(x + 2, 445);
        (*captions[i])->adjustSize();
        x += widths[i];
    }

    BuildResultsTab();
    BuildParametersTab();
    BuildArchiveTab();
    ConnectParameterButtons();
    ConnectArchiveTab();
    BuildDataFiles();

    // Loading the menu counts as a change of its items: polling stays off until the
    // window has been shown.
    MainMenu1Change();

    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TForm1::BuildMenu() {
    MainMenu1 = new QMenuBar(this);
    N8 = MainMenu1->addAction(U("Выход"));
    N13 = MainMenu1->addAction(U("Связь"));
    Mview = MainMenu1->addMenu(U("Вид"));
    Language2 = Mview->addMenu(U("Language/Язык"));
    N1 = Language2->addAction(U("Русский"));
    English1 = Language2->addAction(U("English"));
    N2 = Mview->addMenu(U("Режим"));
    N3 = N2->addAction(U("Полный"));
    N4 = N2->addAction(U("Краткий 1"));
    N21 = N2->addAction(U("Краткий 2"));
    Mhelp = MainMenu1->addMenu(U("Справка"));
    Mabout = Mhelp->addAction(U("О программе"));
    for (QAction* a : {N1, English1, N3, N4, N21}) a->setCheckable(true);
    N1->setChecked(true);
    N3->setChecked(true);
    connect(N8, &QAction::triggered, this, [this] { Guarded([this] { N8Click(); }); });
    connect(N13, &QAction::triggered, this, [this] { Guarded([this] { N13Click(); }); });
    connect(N1, &QAction::triggered, this, [this] { Guarded([this] { N1Click(); }); });
    connect(English1, &QAction::triggered, this, [this] { Guarded([this] { English1Click(); }); });
    connect(N3, &QAction::triggered, this, [this] { Guarded([this] { N3Click(); }); });
    connect(N4, &QAction::triggered, this, [this] { Guarded([this] { N4Click(); }); });
    connect(N21, &QAction::triggered, this, [this] { Guarded([this] { N21Click(); }); });
    connect(Mabout, &QAction::triggered, this, [this] { Guarded([this] { MaboutClick(); }); });
}

void TForm1::BuildResultsTab() {
    QWidget* t = TabSheet2;
    QFont caption = font();
    caption.setBold(true);
    caption.setPixelSize(16);
    Label12 = MakeLabel(t, "Мощность дозы,", 16, 6);
    Label34 = MakeLabel(t, "мкЗв/ч", 192, 6);
    Label34->setMinimumWidth(60);
    Edit4 = MakeValueEdit(t, 16, 26, 150, 22);
    Image1 = new QLabel(t);
    {
        QPixmap pm(9, 12);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setPen(QPen(palette().color(QPalette::WindowText), 1));
        p.drawLine(4, 1, 4, 7);
        p.drawLine(1, 4, 7, 4);
        p.drawLine(1, 10, 7, 10);
        Image1->setPixmap(pm);
    }
    Image1->setGeometry(172, 40, 9, 12);
    Image1->hide();
    Label20 = MakeLabel(t, "", 184, 38);
    Label20->setMinimumWidth(50);
    Label6 = MakeLabel(t, "Доза,", 290, 6);
    Label39 = MakeLabel(t, "мкЗв", 350, 6);
    Label39->setMinimumWidth(50);
    for (QLabel* l : {Label12, Label34, Label6, Label39}) {
        l->setFont(caption);
        l->adjustSize();
    }
    Label34->setMinimumWidth(80);
    Label39->setMinimumWidth(70);
    Edit10 = MakeValueEdit(t, 290, 26, 150, 22);
    Label17 = MakeLabel(t, "Время набора дозы", 450, 8);
    Edit1 = MakeValueEdit(t, 450, 26, 200, 14);
    Edit1->setGeometry(450, 30, 200, 26);
    for (QLineEdit* e : {Edit4, Edit10, Edit1}) SetBackground(e, MenuBarColour());

    ComboBox10 = MakeCombo(t, {"МЭД+ЭД", "МЭД", "ЭД"}, 680, 8, 150);
    ComboBox10->setCurrentIndex(0);
    Button5 = MakeButton(t, "Очистить график", 680, 36, 150);
    Panel1 = new QWidget(t);
    Panel1->setGeometry(25, 70, 801, 340);
    Chart1 = MakeChart(Panel1, LineSeries1, Chart1Bottom, Chart1Left, QColor(0, 128, 0), 2, "ЭД, мкЗв");
    Chart2 = MakeChart(Panel1, Series1, Chart2Bottom, Chart2Left, QColor(255, 0, 0), 3, "МЭД, мкЗв/ч");
    Chart2Left->setMax(723);
    // A spare series of the dose chart; it is cleared with the others and never fed.
    Series2 = new QLineSeries(Chart1->chart());
    Chart1->chart()->addSeries(Series2);
    Series2->attachAxis(Chart1Bottom);
    Series2->attachAxis(Chart1Left);
    Chart1->setGeometry(0, 8, 801, 150);
    Chart2->setGeometry(0, 160, 801, 169);
    for (QChartView* c : {Chart1, Chart2})
        connect(c->chart(), &QChart::plotAreaChanged, this, [this] { AlignLivePlots(); });
    // The second clear button sits below the visible part of the tab.
    Button2 = MakeButton(t, "Очистить график", 680, 430, 150);
    connect(ComboBox10, &QComboBox::activated, this, [this](int) { Guarded([this] { ComboBox10Change(); }); });
    connect(Button5, &QPushButton::clicked, this, [this] { Guarded([this] { Button5Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button11Click(); }); });
}

void TForm1::BuildParametersTab() {
    QWidget* t = TabSheet5;
    int y = 12;
    auto row = [&](QLabel*& label, const char* caption, QComboBox*& box, std::initializer_list<const char*> items) {
        label = MakeLabel(t, caption, 16, y + 4);
        box = MakeCombo(t, items, 170, y, 150);
        y += 34;
    };
    row(Label7, "Режим индикации", ComboBox3, {"Мощность Дозы", "Доза", "Время"});
    row(Label8, "Звук", ComboBox1, {"Выкл", "Вкл"});
    row(Label10, "Вид", ComboBox2, {"Кратко", "Подробно"});
    row(Label11, "Язык", ComboBox4, {"Русский", "English"});
    row(Label13, "Текущий порог МЭД", ComboBox5, {"1", "2", "3"});
    row(Label14, "Подсветка", ComboBox6, {"Выкл", "Зеленый", "Синий", "Белый"});
    row(Label15, "Текущий порог ЭД", ComboBox7, {"1", "2", "3", ""});
    row(Label16, "Время подсветки", ComboBox8, {"10 сек", "1 мин", "3 мин"});

    auto grid = [&](TStringGrid*& g, int cols, int rows, int gx, int gy) {
        g = new TStringGrid(cols, rows, t);
        g->setGeometry(gx, gy, 262, rows * 20 + 4);
        g->setColumnWidth(0, 100);
        g->setColumnWidth(1, 156);
        g->horizontalHeader()->setStretchLastSection(true);
    };
    grid(StringGrid1, 2, 4, 350, 12);
    grid(StringGrid4, 2, 4, 350, 110);
    grid(StringGrid2, 2, 5, 350, 210);
    StringGrid2->setEnabled(false);
    StringGrid2->hide();
    const char* nums[] = {"# 1", "# 2", "# 3"};
    StringGrid1->SetCell(0, 0, U("Порог МЭД"));
    StringGrid1->SetCell(1, 0, U("Значение, мкЗв/ч"));
    StringGrid4->SetCell(0, 0, U("Порог ЭД"));
    StringGrid4->SetCell(1, 0, U("Значение, мкЗв"));
    for (int r = 1; r <= 3; ++r) {
        StringGrid1->SetCell(0, r, U(nums[r - 1]));
        StringGrid4->SetCell(0, r, U(nums[r - 1]));
    }

    Button14 = MakeButton(t, "Считать параметры", 650, 12, 180, 30);
    Button6 = MakeButton(t, "Сохранить параметры", 650, 50, 180, 30);
    Button3 = MakeButton(t, "Сбросить дозу", 650, 88, 180, 30);
    Button4 = MakeButton(t, "Заводские настройки", 650, 126, 180, 30);
    Button4->hide();
    connect(Button14, &QPushButton::clicked, this, [this] { Guarded([this] { Button14Click(); }); });

    Label24 = MakeLabel(t, "Прозрачность  краткой формы", 16, 300);
    TrackBar1 = new QSlider(Qt::Horizontal, t);
    TrackBar1->setRange(40, 255);
    TrackBar1->setTickInterval(10);
    TrackBar1->setTickPosition(QSlider::TicksBelow);
    TrackBar1->setValue(255);
    TrackBar1->setGeometry(16, 320, 300, 30);
    connect(TrackBar1, &QSlider::valueChanged, this, [this](int) { Guarded([this] { TrackBar1Change(); }); });
    // The user's own operations count even when they leave the position as it was.
    connect(TrackBar1, &QSlider::sliderPressed, this, [this] { Guarded([this] { TrackBar1Change(); }); });
    connect(TrackBar1, &QSlider::sliderReleased, this, [this] { Guarded([this] { TrackBar1Change(); }); });
    connect(TrackBar1, &QSlider::actionTriggered, this, [this](int) { Guarded([this] { TrackBar1Change(); }); });
}

void TForm1::BuildArchiveTab() {
    QWidget* t = TabSheet1;
    Button1 = MakeButton(t, "Чтение архива", 16, 10, 140, 28);
    Button7 = MakeButton(t, "Стереть архив", 166, 10, 140, 28);
    Label32 = MakeLabel(t, "Заполнение памяти", 330, 16);
    ProgressBar1 = new TProgressBar(t);
    ProgressBar1->setRange(0, 3276);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setGeometry(470, 14, 130, 18);
    Label21 = MakeLabel(t, "", 608, 16);
    Label21->setMinimumWidth(50);
    ProgressBar2 = new TProgressBar(t);
    ProgressBar2->setRange(0, 16);
    ProgressBar2->setGeometry(16, 44, 290, 12);
    ProgressBar2->setTextVisible(false);
    ProgressBar2->hide();

    StringGrid8 = new TStringGrid(3, 3600, t);
    StringGrid8->setGeometry(16, 58, 290, 246);
    StringGrid8->setColumnWidth(0, 50);
    StringGrid8->setColumnWidth(1, 130);
    StringGrid8->setColumnWidth(2, 86);
    StringGrid8->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid8->SetCell(0, 0, U("№"));
    StringGrid8->SetCell(1, 0, U("Время, с"));
    StringGrid8->SetCell(2, 0, U("МЭД"));
    StringGrid3 = new TStringGrid(2, 5, t);
    StringGrid3->FixedRows = 0;
    StringGrid3->setGeometry(16, 306, 290, 104);  // its last row above the tab's lower edge
    StringGrid3->setColumnWidth(0, 120);
    StringGrid3->horizontalHeader()->setStretchLastSection(true);
    const char* stats[] = {"Время работы", "Измерений", "Максимум", "Минимум", "Среднее"};
    for (int r = 0; r < 5; ++r) StringGrid3->SetCell(0, r, U(stats[r]));

    Chart5 = MakeChart(t, Series12, Chart5Bottom, Chart5Left, QColor(255, 0, 0), 2, "");
    Chart5Bottom->setLabelsVisible(true);
    Chart5->setGeometry(350, 44, 490, 296);

    Label23 = MakeLabel(t, "Сеанс", 350, 376);
    BitBtn5 = MakeButton(t, "", 400, 372, 24, 24);
    Edit2 = new QLineEdit(t);
    Edit2->setReadOnly(true);
    Edit2->setGeometry(426, 372, 80, 24);
    BitBtn11 = MakeButton(t, "", 508, 372, 24, 24);
    CheckBox1 = new QCheckBox(U("Сохранить в файле"), t);
    CheckBox1->setGeometry(545, 374, 160, 20);
    ComboBox9 = MakeCombo(t, {" Время", " Дата", " Время и дата"}, 710, 372, 130);
    ComboBox9->setCurrentIndex(0);
    // Chart navigation: a row along the bottom edge, a column along the left edge.
    QPushButton** row[] = {&BitBtn10, &BitBtn1, &BitBtn2, &BitBtn4, &BitBtn3};
    for (int i = 0; i < 5; ++i) *row[i] = MakeButton(t, "", 350 + i * 26, 342, 24, 20);
    QPushButton** col[] = {&BitBtn6, &BitBtn7, &BitBtn8, &BitBtn9};
    for (int i = 0; i < 4; ++i) *col[i] = MakeButton(t, "", 322, 316 - i * 26, 24, 22);
    // Picture buttons; their tooltips come with the interface texts.
    const std::pair<QPushButton*, const char*> icons[] = {
        {BitBtn10, "zoom-fit-best"}, {BitBtn1, "zoom-in"}, {BitBtn2, "zoom-out"}, {BitBtn4, "go-next"},
        {BitBtn3, "go-previous"},    {BitBtn6, "zoom-in"}, {BitBtn7, "zoom-out"}, {BitBtn8, "go-up"},
        {BitBtn9, "go-down"},        {BitBtn5, "go-previous"}, {BitBtn11, "go-next"}};
    for (const auto& [button, name] : icons) {
        button->setIcon(ButtonIcon(QString::fromLatin1(name), style()));
        button->setIconSize(QSize(16, 16));
    }
}

// ---------------------------------------------------------------- shared displays

void TForm1::StatusMessage(const TextPair& text, bool red) { StatusBar1->DrawStatusMessage(Tr(text, Settings.UiLanguage), red); }

void TForm1::ShowNoLink() {
    Edit4->clear();
    Edit10->clear();
    Edit1->clear();
    for (int i = 1; i <= 8; ++i) StatusBar1->SetPanelText(i, QString());
    Form6->Label1->setText(NoLinkCompact1(Settings.UiLanguage));
    Form9->Label1->setText(NoLinkCompact2(Settings.UiLanguage));
    Form6->SetAlarm(false);  // the no-link text on the usual colours
    Form9->SetAlarm(false);
}

void TForm1::SetMenuCaption(QAction* item, const QString& text) {
    if (item->text() == text) return;
    item->setText(text);
    MainMenu1Change();
}

void TForm1::SetMenuCaption(QMenu* item, const QString& text) {
    if (item->title() == text) return;
    item->setTitle(text);
    MainMenu1Change();
}

void TForm1::ApplyStoredTransparency() {
    TrackBar1->setValue(std::clamp(Settings.Transparency, 40, 255));
    Form6->SetOpacity(Settings.Transparency & 0xFF);
    Form9->SetOpacity(Settings.Transparency & 0xFF);
}

void TForm1::ClearLiveSeries() {
    Series1->clear();
    LineSeries1->clear();
}

// ---------------------------------------------------------------- handlers

void TForm1::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (!e->spontaneous()) Guarded([this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent* e) {
    // The frame's close button ends the program without storing the settings.
    e->accept();
    EndProgram();
}

void TForm1::MainMenu1Change() { Timer1->SetEnabled(false); }

void TForm1::PageControl1Change() { Timer1->SetEnabled(true); }

void TForm1::Timer2Timer() {
    Timer1->SetEnabled(true);
    Timer2->SetEnabled(false);
}

void TForm1::Timer3Timer() {
    Form6->hide();
    Timer3->SetEnabled(false);
    Timer1->SetEnabled(true);
}

void TForm1::FormShow() {
    Polling.MaxDoseRate = 0;
    ApplyInterfaceTexts(Settings.UiLanguage);
    if (Settings.UiLanguage == 1 || Settings.UiLanguage == 2) {
        N1->setChecked(Settings.UiLanguage == 1);
        English1->setChecked(Settings.UiLanguage == 2);
    }
    N22->setChecked(Settings.LiveLog != 0);
    if (Discovery.ViewSwitched) return;

    Form2->ScanningLayout();
    Form2->show();
    ScanPorts(*Form2);
    Form2->hide();
    SearchDevice(*Form2);
    if (Link.DevicePort == 0) {
        StatusMessage(msg::CannotConnect, true);
    } else {
        Params.ParamsRead = false;
        Link.LinkErrorCount = 0;
        ReadParameters();
        ApplyStoredTransparency();
    }
    Series1->clear();
    Series2->clear();
    Series12->clear();
    ApplyStoredTransparency();
    SetActivePage(TabSheet2);
    Timer1->SetEnabled(true);
}

void TForm1::N13Click() {
    Timer1->SetEnabled(false);
    Form2->ScanningLayout();
    Form2->Label2->setText(Tr(msg::Searching, Settings.UiLanguage));
    Form2->show();
    ScanPorts(*Form2);
    Form2->hide();
    Form2->ChoosingLayout();
    Form2->exec();
    if (Discovery.AutoDetect) {
        SearchDevice(*Form2);
    } else if (OpenDevicePort() == nullptr) {
        StatusMessage(msg::ErrorOpeningPort, true);
        ShowNoLink();
        Timer2->SetEnabled(true);
        return;
    }
    if (Link.DevicePort != 0) {
        Params.ParamsRead = false;
        Link.LinkErrorCount = 0;
        ReadParameters();
    } else {
        StatusMessage(msg::ConnectionError, true);
    }
    Series1->clear();
    LineSeries1->clear();
    Series12->clear();
    SetActivePage(TabSheet2);
    Timer1->SetEnabled(true);
}

void TForm1::N8Click() {
    StoreSettings(TrackBar1->value());  // a failure stops here, with the port still open
    CloseDevicePort();
    hide();
    EndProgram();
}

void TForm1::N1Click() { SwitchLanguage(1); }
void TForm1::English1Click() { SwitchLanguage(2); }

void TForm1::SwitchLanguage(int language) {
    Settings.UiLanguage = language;
    ApplyInterfaceTexts(language);
    N1->setChecked(language == 1);
    English1->setChecked(language == 2);
    Timer1->SetEnabled(true);
}

void TForm1::SetViewTicks(int mode) {
    N3->setChecked(mode == 0);
    N4->setChecked(mode == 1);
    N21->setChecked(mode == 2);
}

void TForm1::N3Click() {
    Discovery.ViewSwitched = true;
    show();
    Form6->hide();
    SetViewTicks(0);
    Timer1->SetEnabled(true);
    Settings.ViewMode = 0;
}

// "Краткий 1" and "Краткий 2": the compact window replaces the main window and a
// transparency preview still running is cancelled (its window stays as it is).
void TForm1::SwitchToCompact(QWidget* compact, int mode) {
    Discovery.ViewSwitched = true;
    compact->show();
    compact->raise();
    hide();
    SetViewTicks(mode);
    Timer3->SetEnabled(false);
    Timer1->SetEnabled(true);
    Settings.ViewMode = mode;
}

void TForm1::N4Click() { SwitchToCompact(Form6, 1); }
void TForm1::N21Click() { SwitchToCompact(Form9, 2); }

void TForm1::TrackBar1Change() {
    Discovery.ViewSwitched = true;
    Timer1->SetEnabled(false);
    Timer3->SetEnabled(true);  // a preview already running is not prolonged
    Form6->show();
    Form6->raise();  // in front of the main window
    Form6->SetOpacity(TrackBar1->value() & 0xFF);
    Form9->SetOpacity(TrackBar1->value() & 0xFF);
}

void TForm1::MaboutClick() {
    for (AboutDialog* d : {static_cast<AboutDialog*>(Form3), static_cast<AboutDialog*>(Form4)}) {
        d->Label3->setVisible(Params.ParamsRead);
        d->Label4->setVisible(Params.ParamsRead);
    }
    const bool english = IsEnglish(Settings.UiLanguage);
    QDialog* dialog = Params.DeviceEdition == 1 ? (english ? static_cast<QDialog*>(Form8) : Form7)
                                                : (english ? static_cast<QDialog*>(Form4) : Form3);
    dialog->exec();
    Timer1->SetEnabled(true);
}

void TForm1::Button14Click() {
    Timer1->SetEnabled(false);
    ReadParameters();
    Timer2->SetEnabled(true);
}

void TForm1::SetActivePage(QWidget* page) {
    settingPage_ = true;
    PageControl1->setCurrentWidget(page);
    settingPage_ = false;
}

}  // namespace veresk

namespace veresk {

// ---------------------------------------------------------------- the polling tick

void TForm1::EnforceViewMode() {
    switch (Settings.ViewMode) {
    case 1:
        Form6->show();
        hide();
        break;
    case 2:
        Form9->show();
        hide();
        break;
    case 0:
        show();
        Form6->hide();
        Form9->hide();
        break;
    default:  // treated as the full view; compact window 2 is left as it is
        show();
        Form6->hide();
        break;
    }
    SetViewTicks((Settings.ViewMode == 1 || Settings.ViewMode == 2) ? Settings.ViewMode : 0);
}

void TForm1::Timer1Timer() {
    // The connection dialog runs modally inside "Связь", which has polling off for its
    // whole run; a resume timer that fires meanwhile must not start ticks behind it.
    if (Form2->isModal() && Form2->isVisible()) return;
    EnforceViewMode();
    const PollResult r = PollDevice();
    switch (r.outcome) {
    case PollOutcome::OpenFailed:
        StatusMessage(msg::ErrorOpeningPort, true);
        ShowNoLink();
        return;
    case PollOutcome::WrongLength:
        if (r.showNoLink) {
            ShowNoLink();
            StatusMessage(msg::ConnectionError, true);
        }
        return;
    case PollOutcome::CrcFailure:
        if (r.showNoLink) ShowNoLink();
        return;
    case PollOutcome::ClockSet:
        // Nothing is displayed: the next tick reads the corrected clock.
        StatusMessage(msg::Reading, false);
        return;
    case PollOutcome::Good:
        StatusMessage(msg::Reading, false);
        break;
    }
    const LiveStatusValues& s = Polling.LiveStatus;
    const Presentation p =
        PresentStatus(s, Params.ParameterValues, Settings.UiLanguage, Compact.CompactSelection, QLocale::system());
    SetBackground(Edit4, p.edit4Red ? QColor(Qt::red) : MenuBarColour());
    SetBackground(Edit10, p.edit10Red ? QColor(Qt::red) : MenuBarColour());
    UpdateLiveCharts();
    StatusBar1->SetPanelText(3, p.panel3);
    StatusBar1->SetPanelText(4, p.panel4);
    StatusBar1->SetPanelText(6, p.panel6);
    Label21->setText(p.fill.label);
    ProgressBar1->setValue(p.fill.position);
    ProgressBar1->SetBarColor(p.fill.color);
    // A new archive record: the live charts take a point on the next displayed tick.
    if (s.ArchiveFill != Polling.LastArchiveFill) {
        Polling.LastArchiveFill = s.ArchiveFill;
        Polling.NewRecordPending = true;
    } else {
        Polling.NewRecordPending = false;
    }
    Label20->setText(p.label20);
    Image1->show();
    ShowPresentation(p);
    AppendLiveLog();
}

void TForm1::ShowPresentation(const Presentation& p) {
    Edit4->setText(p.edit4);
    Label34->setText(p.label34);
    Edit10->setText(p.edit10);
    Label39->setText(p.label39);
    Form6->Label1->setText(p.compact1);
    Form9->Label1->setText(p.compact2);
    Form6->SetAlarm(p.compactRed);
    Form9->SetAlarm(p.compactRed);
    for (auto [edit, unit, red] : {std::tuple{Edit4, p.label34, p.edit4Red}, std::tuple{Edit10, p.label39, p.edit10Red}})
        if (const QString d = ValueDescription(unit, red, Settings.UiLanguage); edit->accessibleDescription() != d)
            edit->setAccessibleDescription(d);
    StatusBar1->SetPanelText(1, p.panel1);
    Edit1->setText(p.edit1);
    StatusBar1->SetPanelText(5, p.panel5);
    StatusBar1->SetPanelText(2, p.panel2);
    StatusBar1->SetPanelText(7, p.panel7);
    StatusBar1->SetPanelText(8, p.panel8);
}

namespace {

// The PC's time of day on the charts' time axis (the date part is the same for all).
qint64 TimeOfDayOnAxis() { return QDateTime(QDate(1970, 1, 1), QTime::currentTime()).toMSecsSinceEpoch(); }

// The time axis over the points with a small margin, or over the last half hour while
// there is none; labels on whole minutes, at least a minute apart.
void FitTimeAxis(QDateTimeAxis* axis, const QLineSeries* series, int plotWidth) {
    qint64 lo, hi;
    if (series->count() == 0) {
        hi = ToWallMs(QDateTime::fromMSecsSinceEpoch(TimeOfDayOnAxis()));
        lo = hi - 1800000;
    } else {
        lo = ToWallMs(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(series->at(0).x())));
        hi = ToWallMs(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(series->at(series->count() - 1).x())));
        AddTimeMargin(lo, hi);
    }
    ShowTimeTicks(axis, AlignedTimeTicks(lo, hi, TimeLabelCount(axis, plotWidth), axis->format()));
}

}  // namespace

void TForm1::UpdateLiveCharts() {
    const LiveStatusValues& s = Polling.LiveStatus;
    Chart1Bottom->setFormat(QStringLiteral("hh:mm"));
    Chart2Bottom->setFormat(QStringLiteral("hh:mm"));
    if (Polling.NewRecordPending) {
        AddInOrder(Series1, QPointF(static_cast<qreal>(TimeOfDayOnAxis()), s.DoseRate));
        AddInOrder(LineSeries1, QPointF(static_cast<qreal>(TimeOfDayOnAxis()), s.Dose));
    }
    // The time axes change with a new point, or with the clock while there is none.
    for (auto [axis, series] : {std::pair{Chart2Bottom, Series1}, std::pair{Chart1Bottom, LineSeries1}})
        if (Polling.NewRecordPending || series->count() == 0) FitTimeAxis(axis, series, Panel1->width() - 90);
    if (s.DoseRate > Polling.MaxDoseRate) Polling.MaxDoseRate = s.DoseRate;
    Chart1Bottom->setLabelsVisible(true);
    Chart2Bottom->setLabelsVisible(true);
    constexpr long double kSeventh = 0.142857142857142857L;
    Chart1Left->setRange(0, static_cast<double>(s.Dose + s.Dose * kSeventh));
    Chart2Left->setRange(0, static_cast<double>(Polling.MaxDoseRate + Polling.MaxDoseRate * kSeventh));
}

// ---------------------------------------------------------------- the parameter read

void TForm1::ReadParameters() {
    for (int r = 1; r <= 3; ++r) StringGrid1->SetCell(1, r, QString());
    for (int r = 1; r <= 4; ++r) StringGrid2->SetCell(1, r, QString());
    switch (ReadParameterBlock()) {
    case ParamReadOutcome::NoPort:
        StatusMessage(msg::ErrorOpeningPort, true);
        ShowNoLink();
        return;
    case ParamReadOutcome::WrongLength:
        StatusMessage(msg::ConnectionError, true);
        ShowNoLink();
        return;
    case ParamReadOutcome::CrcSilent:
        return;
    case ParamReadOutcome::CrcReported:
        StatusMessage(msg::CrcError, true);
        return;
    case ParamReadOutcome::Good:
        break;
    }
    StatusMessage(msg::ReadOk, false);
    const ParameterValuesT& v = Params.ParameterValues;
    const QString version = QString::number(v.FirmwareVersion);
    for (AboutDialog* d : {static_cast<AboutDialog*>(Form3), static_cast<AboutDialog*>(Form4),
                           static_cast<AboutDialog*>(Form7), static_cast<AboutDialog*>(Form8)})
        d->Label4->setText(version);
    const QLocale locale = QLocale::system();
    StringGrid2->SetCell(1, 3, FormatFixedPrecision(v.Float30, 7, 2, locale));
    StringGrid2->SetCell(1, 4, FormatFixedPrecision(v.StoredDose, 10, 4, locale));
    for (int r = 1; r <= 3; ++r) {
        StringGrid1->SetCell(1, r, FormatThresholdCell(v.RateThresholds[r - 1], locale));
        StringGrid4->SetCell(1, r, FormatThresholdCell(v.DoseThresholds[r - 1], locale));
    }
    SetSelection(ComboBox3, v.DisplayMode);
    SetSelection(ComboBox1, v.SoundOn);
    SetSelection(ComboBox2, v.DisplayView);
    SetSelection(ComboBox4, v.DeviceLanguage);
    SetSelection(ComboBox5, v.RateThresholdSetting - 1);
    SetSelection(ComboBox6, v.Backlight);
    SetSelection(ComboBox7, v.DoseThresholdSetting - 1);
    SetSelection(ComboBox8, BacklightTimeItem(v.BacklightTime));
}

// ---------------------------------------------------------------- interface texts

void TForm1::ApplyInterfaceTexts(int language) {
    const bool en = IsEnglish(language);
    auto T = [en](const char* ru, const char* e) { return U(en ? e : ru); };
    Label34->move(en ? 153 : 192, Label34->y());
    // The unit labels keep their unit in the new language (they show the design's
    // micro units until the first displayed tick, and keep their unit without a link).
    for (auto [label, quantity] : {std::pair{Label34, Quantity::DoseRate}, std::pair{Label39, Quantity::Dose}})
        for (int unit = 0; unit < 3; ++unit)
            if (label->text() == UnitLabel(quantity, unit, 1) || label->text() == UnitLabel(quantity, unit, 2))
                label->setText(UnitLabel(quantity, unit, en ? 2 : 1));

    setWindowTitle(T("РДТ-17 'Скворец'", "RDT-17 'Starling'"));
    SetMenuCaption(N8, T("Выход", "Exit"));
    SetMenuCaption(N13, T("Связь", "Connect"));
    SetMenuCaption(Mview, T("Вид", "View"));
    SetMenuCaption(N22, T("Журнал", "Log"));
    SetMenuCaption(Mhelp, T("Справка", "Help"));
    SetMenuCaption(Mabout, T("О программе", "About"));
    PageControl1->setTabText(0, T("Результаты измерения", "Measurement results"));
    PageControl1->setTabText(1, T("Параметры", "Parameters"));
    PageControl1->setTabText(2, T("Архив", "Archive"));
    const std::pair<QWidget*, CaptionRow> captions[] = {
        {Label12, {"Мощность дозы,", "Dose rate,"}},
        {Label6, {"Доза,", "Dose,"}},
        {Button5, {"Очистить график", "Clear the graph"}},
        {Label1, {"Статус", "Status"}},
        {Label2, {"Время работы", "Working time"}},
        {Label3, {"Аккумулятор", "Battery"}},
        {Label4, {"Температура", "Temperature"}},
        {Label18, {"Измерений", "Measurements"}},
        {Label5, {"Время измерения", "Measurement time"}},
        {Label9, {"Импульсы", "Pulses"}},
        {Label19, {"Порог МЭД", "Threshold MED"}},
        {Label22, {"Порог ЭД", "Threshold ED"}},
        {Label13, {"Текущий порог МЭД", "Сurrent threshold MED"}},  // the English text starts with a Cyrillic С
        {Label15, {"Текущий порог ЭД", "Сurrent threshold ED"}},
        {Label7, {"Режим индикации", "Display mode"}},
        {Label8, {"Звук", "Sound"}},
        {Label10, {"Вид", "View"}},
        {Label11, {"Язык", "Language"}},
        {Label14, {"Подсветка", "Backlight"}},
        {Label16, {"Время подсветки", "Backlight time"}},
        {Label17, {"Время набора дозы", "Dose accumulation time"}},
        {Button14, {"Считать параметры", "Read parameters"}},
        {Button7, {"Стереть архив", "Erase archive"}},
        {Button6, {"Сохранить параметры", "Save parameters"}},
        {Button3, {"Сбросить дозу", "Dose reset"}},
        {Button1, {"Чтение архива", "Read archive"}},
        {Label32, {"Заполнение памяти", "Memory filling"}},
        {Label23, {"Сеанс", "Session"}},
        {CheckBox1, {"Сохранить в файле", "Save to file"}},
        {Button8, {"Открыть…", "Open…"}},
        {Button9, {"Экспорт…", "Export…"}},
    };
    for (const auto& [w, text] : captions) {
        const QString t = T(text.ru, text.en);
        if (auto* l = qobject_cast<QLabel*>(w)) {
            l->setText(t);
            l->adjustSize();
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            b->setText(t);
        }
    }

    // Item lists: a refilled parameter list keeps its chosen item, now in the new language
    // (what the box shows is what the write-back sends; a list with no choice stays empty).
    auto refill = [&](QComboBox* box, std::initializer_list<CaptionRow> items, bool selectFirst) {
        const int chosen = box->currentIndex();
        box->clear();
        for (const CaptionRow& item : items) box->addItem(T(item.ru, item.en));
        box->setCurrentIndex(selectFirst ? 0 : chosen);
    };
    refill(ComboBox3, {{"Мощность дозы", "Dose rate"}, {"Доза", "Dose"}, {"Время", "Time"}}, false);
    refill(ComboBox1, {{"Выкл", "Off"}, {"Вкл", "On"}}, false);
    refill(ComboBox2, {{"Кратко", "Short"}, {"Подробно", "Detailed"}}, false);
    refill(ComboBox6, {{"Выкл", "Off"}, {"Зеленый", "Green"}, {"Синий", "Blue"}, {"Белый", "White"}}, false);
    refill(ComboBox8, {{"10 сек", "10 sec"}, {"1 мин", "1 min"}, {"3 мин", "3 min"}}, false);
    refill(ComboBox9, {{" Время", " Time"}, {" Дата", " Date"}, {" Время и дата", " Date & Time"}}, true);
    refill(ComboBox10, {{"МЭД+ЭД", "MED+ED"}, {"МЭД", "MED"}, {"ЭД", "ED"}}, true);

    const CaptionRow stats[] = {{"Время работы", "Working time"}, {"Измерений", "Samples"}, {"Максимум", "Maximum"},
                                {"Минимум", "Minimum"},          {"Среднее", "Average"}};
    for (int r = 0; r < 5; ++r) StringGrid3->SetCell(0, r, T(stats[r].ru, stats[r].en));
    StringGrid8->SetCell(0, 0, T("№", " #"));
    StringGrid8->SetCell(1, 0, T("Время, с", "Time, sec"));
    StringGrid8->SetCell(2, 0, T("МЭД", "Dose rate"));
    StringGrid1->SetCell(0, 0, T("Порог МЭД", "Threshold MED"));
    StringGrid1->SetCell(1, 0, T("Значение, мкЗв/ч", "Value,  uSv/h"));
    StringGrid4->SetCell(0, 0, T("Порог ЭД", "Threshold ED"));
    StringGrid4->SetCell(1, 0, T("Значение, мкЗв", "Value,  uSv"));

    // Names for assistive technology, and the picture buttons' tooltips.
    const std::pair<QWidget*, CaptionRow> names[] = {
        {Edit4, {"Мощность дозы", "Dose rate"}},
        {Edit10, {"Доза", "Dose"}},
        {Edit1, {"Время набора дозы", "Dose accumulation time"}},
        {StatusBar1, {"Строка состояния", "Status bar"}},
        {BitBtn10, {"Масштаб по данным", "Fit to the data"}},
        {BitBtn1, {"Время: крупнее", "Time: zoom in"}},
        {BitBtn2, {"Время: мельче", "Time: zoom out"}},
        {BitBtn4, {"Время: сдвинуть позже", "Time: move later"}},
        {BitBtn3, {"Время: сдвинуть раньше", "Time: move earlier"}},
        {BitBtn6, {"МЭД: крупнее", "Dose rate: zoom in"}},
        {BitBtn7, {"МЭД: мельче", "Dose rate: zoom out"}},
        {BitBtn8, {"МЭД: сдвинуть вверх", "Dose rate: move up"}},
        {BitBtn9, {"МЭД: сдвинуть вниз", "Dose rate: move down"}},
        {BitBtn5, {"Предыдущий сеанс", "Previous session"}},
        {BitBtn11, {"Следующий сеанс", "Next session"}},
    };
    for (const auto& [w, text] : names) {
        w->setAccessibleName(T(text.ru, text.en));
        if (qobject_cast<QAbstractButton*>(w)) w->setToolTip(T(text.ru, text.en));
    }
    // Captions that stay Russian in both languages are explained by a tooltip in the
    // language in force.
    const std::pair<QWidget*, CaptionRow> explained[] = {
        {TrackBar1, {"Прозрачность краткой формы", "Transparency of the compact view"}},
        {Label24, {"Прозрачность краткой формы", "Transparency of the compact view"}},
        {Chart1, {"Доза, мкЗв", "Dose, uSv"}},
        {Chart2, {"Мощность дозы, мкЗв/ч", "Dose rate, uSv/h"}},
    };
    for (const auto& [w, text] : explained) {
        w->setToolTip(T(text.ru, text.en));
        w->setAccessibleName(T(text.ru, text.en));
    }
    StatusBar1->SetAccessibleTexts({Label1->text(), Label2->text(), Label3->text(), Label4->text(), Label18->text(),
                                    Label5->text(), Label9->text(), Label19->text(), Label22->text()},
                                   T("ошибка", "error"), T("норма", "ok"));
    if (Form6) Form6->Describe();
    if (Form9) Form9->Describe();

    // The live charts in their "both" layout (the list now has its first item selected).
    ComboBox10Change();
}

}  // namespace veresk

namespace veresk {

// ---------------------------------------------------------------- the live charts' controls

void TForm1::ComboBox10Change() {
    switch (ComboBox10->currentIndex()) {
    case 0:  // both
        Chart1->setGeometry(0, 8, 801, 150);
        Chart2->setGeometry(0, 160, 801, 169);
        Chart1->show();
        Chart2->show();
        break;
    case 1:  // dose rate only
        Chart1->hide();
        Chart2->setGeometry(0, 8, 801, 326);
        Chart2->show();
        break;
    case 2:  // dose only
        Chart1->setGeometry(0, 8, 801, 326);
        Chart1->show();
        Chart2->hide();
        break;
    default:
        break;
    }
}

// The two charts share their time axis: the wider value labels set where both plots
// begin, so that a time of day stands at the same place in both.
void TForm1::AlignLivePlots() {
    QChartView* views[] = {Chart1, Chart2};
    qreal natural[2];  // where each plot would begin with the usual margin
    qreal start = 0;   // the furthest of these among the charts shown
    for (int i = 0; i < 2; ++i) {
        const QChart* c = views[i]->chart();
        natural[i] = c->plotArea().left() - (c->margins().left() - kChartMargin);
        if (views[i]->isVisibleTo(Panel1)) start = std::max(start, natural[i]);
    }
    for (int i = 0; i < 2; ++i) {
        QChart* c = views[i]->chart();
        QMargins m = c->margins();
        const int left = kChartMargin + static_cast<int>(std::max(0L, std::lround(start - natural[i])));
        if (m.left() == left) continue;
        m.setLeft(left);
        c->setMargins(m);
    }
}

// The axes are left as they are: the next displayed tick sets them again.
void TForm1::Button5Click() { ClearLiveSeries(); }

void TForm1::Button11Click() { Series1->clear(); }

}  // namespace veresk
