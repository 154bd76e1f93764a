#pragma once
// The main window: three tabs, nine status panels, the main menu and the three timers.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QWidget>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>

#include "monitor/presentation.h"
#include "shell/controls.h"
#include "shell/texts.h"

namespace veresk {

class TChart;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    // --- the frame ---
    QMenuBar* MainMenu1;
    QAction *N8, *N13;                        // "Выход", "Связь" on the menu bar
    QMenu *Mview, *Language2, *N2, *Mhelp;    // submenus
    QAction *N1, *English1;                   // language ticks
    QAction *N3, *N4, *N21;                   // view-mode ticks
    QAction* Mabout;
    QTabWidget* PageControl1;
    QWidget *TabSheet2, *TabSheet5, *TabSheet1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label18, *Label5, *Label9, *Label19, *Label22;  // panel captions
    TStatusBar* StatusBar1;
    TTimer *Timer1, *Timer2, *Timer3;

    // --- "Результаты измерения" ---
    QLabel *Label12, *Label34, *Label6, *Label39, *Label17, *Label20;
    QLineEdit *Edit4, *Edit10, *Edit1;
    QLabel* Image1;  // the plus-minus sign before the statistical error
    QWidget* Panel1;  // holds the two live charts
    QChartView *Chart1, *Chart2;
    QLineSeries *LineSeries1, *Series1, *Series2;
    QDateTimeAxis *Chart1Bottom, *Chart2Bottom;
    QValueAxis *Chart1Left, *Chart2Left;
    QComboBox* ComboBox10;
    QPushButton *Button5, *Button2;

    // --- "Параметры" ---
    QLabel *Label7, *Label8, *Label10, *Label11, *Label13, *Label14, *Label15, *Label16, *Label24;
    QComboBox *ComboBox3, *ComboBox1, *ComboBox2, *ComboBox4, *ComboBox5, *ComboBox6, *ComboBox7, *ComboBox8;
    TStringGrid *StringGrid1, *StringGrid4, *StringGrid2;
    QPushButton *Button14, *Button6, *Button3, *Button4;
    QSlider* TrackBar1;

    // --- "Архив" ---
    QPushButton *Button1, *Button7;
    QLabel *Label32, *Label21, *Label23;
    TProgressBar *ProgressBar1, *ProgressBar2;
    TStringGrid *StringGrid8, *StringGrid3;
    QChartView* Chart5;
    QLineSeries* Series12;
    QDateTimeAxis* Chart5Bottom;  // time axis
    QValueAxis* Chart5Left;       // dose-rate axis
    QLineEdit* Edit2;
    QPushButton *BitBtn5, *BitBtn11;
    QCheckBox* CheckBox1;
    QComboBox* ComboBox9;
    QPushButton *BitBtn1, *BitBtn2, *BitBtn3, *BitBtn4, *BitBtn6, *BitBtn7, *BitBtn8, *BitBtn9, *BitBtn10;

    // --- handlers ---
    void FormShow();
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void MainMenu1Change();
    void PageControl1Change();
    void N8Click();
    void N13Click();
    void N1Click();
    void English1Click();
    void N3Click();
    void N4Click();
    void N21Click();
    void MaboutClick();
    void Button14Click();
    void TrackBar1Change();
    void ComboBox10Change();
    void Button5Click();
    void Button11Click();

    // Parameter write-back and device commands (settings/parameters_tab.cpp).
    void Button6Click();  // "Сохранить параметры"
    void Button3Click();  // "Сбросить дозу"
    void Button4Click();  // "Заводские настройки" (hidden)

    // The archive tab (archive/archive_tab.cpp).
    void Button1Click();  // "Чтение архива"
    void Button7Click();  // "Стереть архив"
    void BitBtn5Click();  // previous session
    void BitBtn11Click(); // next session
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn6Click();
    void BitBtn7Click();
    void BitBtn8Click();
    void BitBtn9Click();
    void BitBtn10Click();

    // Kept archive images, opening one, the CSV export and the live log (shell/datafiles.cpp).
    QPushButton *Button8, *Button9;  // "Открыть…", "Экспорт…" on the archive tab
    QAction* N22;                     // "Журнал": the live log, a tick item of "Вид"
    void Button8Click();
    void Button9Click();
    void N22Click();
    void KeepDownloadedArchive();  // after a good download, with "Прочитано" drawn
    void AppendLiveLog();          // on every displayed tick
    TTimer* KeepNoticeTimer;       // draws a failed keep once "Прочитано" has been seen

    // --- shared displays ---
    void ShowNoLink();
    // A link message on the status line, in the current language.
    void StatusMessage(const TextPair& text, bool red);
    void ApplyInterfaceTexts(int language);
    // Writes what one displayed tick shows.
    void ShowPresentation(const Presentation& p);
    // Sets the slider and both compact windows to the stored transparency.
    void ApplyStoredTransparency();

    // A menu caption change; raises MainMenu1Change when the text differs.
    void SetMenuCaption(QAction* item, const QString& text);
    void SetMenuCaption(QMenu* item, const QString& text);

    // Reads the parameter block over the open port and shows it on the parameters tab.
    void ReadParameters();
    void SwitchLanguage(int language);
    void SetActivePage(QWidget* page);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void ConnectParameterButtons();  // settings/parameters_tab.cpp
    void ConnectArchiveTab();        // archive/archive_tab.cpp
    // The archive download and the session walk on the archive tab (archive/archive_tab.cpp).
    void ReadArchive();
    bool ShowSession(int session, int& counter);  // false: the session has no measurement
    void StepSession(int step);                   // the two session buttons
    void PrepareSessionView();                    // grid rows, headings and labels for a new image
    void ShowFirstSession();                      // session 1 of the image in memory
    void BuildDataFiles();                        // shell/datafiles.cpp
    QString archiveSource_;                       // the kept or opened file the image came from
    bool liveLogFailureShown_ = false;            // one report per run of failing writes
    void BuildResultsTab();
    void BuildParametersTab();
    void BuildArchiveTab();
    void BuildMenu();
    void EnforceViewMode();
    void ClearLiveSeries();
    void UpdateLiveCharts();
    void AlignLivePlots();
    void SetViewTicks(int mode);
    void SwitchToCompact(QWidget* compact, int mode);
    bool settingPage_ = false;
};

}  // namespace veresk
