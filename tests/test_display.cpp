// What is drawn and what assistive technology reads: captions within their panels,
// time labels on the live charts, picture buttons, the about dialogs' own facts, the
// status line through the accessibility interface, and the compact windows' alarm;
// controls within their tabs and texts within their controls in both languages.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QToolTip>
#include <map>

#include "monitor/viewstate.h"
#include "support/gui_fixture.h"

using namespace veresk;
using namespace veresk::testing;

namespace {

QString U(const char* s) { return QString::fromUtf8(s); }

class Readable : public GuiTest {
protected:
    // Readings below the thresholds in force (0.3 uSv/h and 100 uSv); ticks by hand.
    void Boot() {
        simulator.WithDevice([](sim::Device& d) { d.State().doseRate = 0.25; d.State().dose = 3.5; });
        StartWithDevice();
        if (!HasFatalFailure()) Form1->Timer3->SetEnabled(false);
    }
    void Tick() { AtStartOfSecond(); Form1->Timer1Timer(); }
    static std::vector<TCaption*> Captions() {
        std::vector<TCaption*> out;
        for (QLabel* l : {Form1->Label1, Form1->Label2, Form1->Label3, Form1->Label4, Form1->Label18, Form1->Label5,
                          Form1->Label9, Form1->Label19, Form1->Label22})
            out.push_back(qobject_cast<TCaption*>(l));
        return out;
    }
};

}  // namespace

// --- captions over the status panels

TEST_F(Readable, PanelCaptionsStayWithinTheirPanelsInBothLanguages) {
    Boot();
    for (int language : {1, 2}) {
        Form1->SwitchLanguage(language);
        const auto captions = Captions();
        int x = 0;
        for (int i = 0; i < 9; ++i) {
            TCaption* c = captions[static_cast<size_t>(i)];
            ASSERT_NE(c, nullptr) << i;
            const int end = i == 8 ? Form1->width() : x + Form1->StatusBar1->PanelWidth(i);
            SCOPED_TRACE(c->text().toStdString());
            EXPECT_GE(c->x(), x);
            EXPECT_LT(c->x() + c->width(), end);  // a gap before the next caption
            EXPECT_LE(QFontMetrics(c->DrawnFont()).horizontalAdvance(c->DrawnText()), c->width());
            EXPECT_GE(c->DrawnFont().pixelSize(), 9);
            // Shortened only when even the smallest size is too wide.
            if (c->DrawnText() != c->text()) {
                QFont smallest = c->font();
                smallest.setPixelSize(9);
                EXPECT_GT(QFontMetrics(smallest).horizontalAdvance(c->text()), c->width());
            }
            x += Form1->StatusBar1->PanelWidth(i);
        }
    }
    // A text that cannot fit: shortened with an ellipsis, the whole text as its tooltip.
    TCaption* c = Captions()[8];
    c->setText("Threshold of the accumulated dose");
    EXPECT_TRUE(c->DrawnText().endsWith(QChar(0x2026))) << c->DrawnText().toStdString();
    Form1->show();
    QHelpEvent help(QEvent::ToolTip, QPoint(2, 2), c->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(c, &help);
    EXPECT_EQ(QToolTip::text(), c->text());
    QToolTip::hideText();
}

// --- live charts

TEST_F(Readable, LiveTimeLabelsFallOnWholeMinutesAndNeverRepeat) {
    Boot();
    for (int i = 0; i < 3; ++i) {
        Tick();
        simulator.WithDevice([](sim::Device& d) { d.AppendRecord(d.State().doseRate, d.DeviceNow()); });
    }
    ASSERT_GE(Form1->Series1->count(), 2);
    for (QDateTimeAxis* axis : {Form1->Chart1Bottom, Form1->Chart2Bottom}) {
        const QDateTime lo = axis->min(), hi = axis->max();
        EXPECT_EQ(lo.time().second(), 0);
        EXPECT_EQ(lo.time().msec(), 0);
        EXPECT_EQ(hi.time().second(), 0);
        const int n = axis->tickCount();
        ASSERT_GE(n, 2);
        const qint64 step = (hi.toMSecsSinceEpoch() - lo.toMSecsSinceEpoch()) / (n - 1);
        EXPECT_GE(step, 60000);
        EXPECT_EQ(step % 60000, 0);
        QStringList labels;
        for (int k = 0; k < n; ++k)
            labels << QDateTime::fromMSecsSinceEpoch(lo.toMSecsSinceEpoch() + k * step).toString(axis->format());
        EXPECT_EQ(QStringList(labels).removeDuplicates(), 0) << labels.join(' ').toStdString();
        EXPECT_TRUE(axis->labelsVisible());
    }
    // Every point inside the plot, none on its edge.
    for (int k = 0; k < Form1->Series1->count(); ++k) {
        EXPECT_LT(Form1->Chart2Bottom->min().toMSecsSinceEpoch(), Form1->Series1->at(k).x());
        EXPECT_GT(Form1->Chart2Bottom->max().toMSecsSinceEpoch(), Form1->Series1->at(k).x());
    }
}

TEST_F(Readable, StackedLiveChartsBeginTheirPlotsAtTheSameX) {
    // A dose with long value labels above a dose rate with short ones.
    simulator.WithDevice([](sim::Device& d) { d.State().doseRate = 0.25; d.State().dose = 12345.678f; });
    StartWithDevice();
    Form1->Timer3->SetEnabled(false);
    for (int i = 0; i < 2; ++i) {
        Tick();
        simulator.WithDevice([](sim::Device& d) { d.AppendRecord(d.State().doseRate, d.DeviceNow()); });
    }
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    const QRectF dose = Form1->Chart1->chart()->plotArea(), rate = Form1->Chart2->chart()->plotArea();
    EXPECT_NEAR(dose.left(), rate.left(), 0.5);  // margins are whole pixels
    EXPECT_DOUBLE_EQ(dose.right(), rate.right());
    // The wider labels keep the usual margin; only the other chart's grows.
    EXPECT_EQ(std::min(Form1->Chart1->chart()->margins().left(), Form1->Chart2->chart()->margins().left()), 2);
    EXPECT_GT(Form1->Chart2->chart()->margins().left(), 2);
}

TEST(LiveSeries, PointsGoInOrderOfTime) {
    struct Case {
        qreal x;
        std::vector<qreal> after;
    };
    const Case cases[] = {
        {6, {1, 3, 5, 6}},     // later: appended
        {5, {1, 3, 5, 5}},     // same time: after the one there
        {4, {1, 3, 4, 5}},     // between
        {0, {0, 1, 3, 5}},     // after midnight: before the evening
        {3, {1, 3, 3, 5}},
    };
    for (const Case& c : cases) {
        QLineSeries s;
        s.append({QPointF(1, 10), QPointF(3, 30), QPointF(5, 50)});
        AddInOrder(&s, QPointF(c.x, 99));
        std::vector<qreal> xs;
        for (int i = 0; i < s.count(); ++i) xs.push_back(s.at(i).x());
        EXPECT_EQ(xs, c.after) << c.x;
        int added = 0;
        for (int i = 0; i < s.count(); ++i) added += s.at(i).y() == 99;
        EXPECT_EQ(added, 1);
    }
    QLineSeries empty;
    AddInOrder(&empty, QPointF(7, 1));
    EXPECT_EQ(empty.count(), 1);
}

// --- archive buttons

TEST_F(Readable, ArchiveNavigationButtonsArePicturesWithTooltipsInBothLanguages) {
    Boot();
    const std::vector<QPushButton*> buttons = {Form1->BitBtn10, Form1->BitBtn1, Form1->BitBtn2, Form1->BitBtn4,
                                               Form1->BitBtn3,  Form1->BitBtn6, Form1->BitBtn7, Form1->BitBtn8,
                                               Form1->BitBtn9,  Form1->BitBtn5, Form1->BitBtn11};
    std::map<int, QStringList> tips;
    for (int language : {1, 2}) {
        Form1->SwitchLanguage(language);
        for (QPushButton* b : buttons) {
            EXPECT_TRUE(b->text().isEmpty()) << b->text().toStdString();
            EXPECT_FALSE(b->icon().isNull());
            EXPECT_FALSE(b->icon().pixmap(16, 16).isNull());
            EXPECT_FALSE(b->toolTip().isEmpty());
            EXPECT_EQ(b->accessibleName(), b->toolTip());
            tips[language] << b->toolTip();
        }
        EXPECT_EQ(QStringList(tips[language]).removeDuplicates(), 0) << language;  // each says what it does
    }
    EXPECT_EQ(tips[1][0], U("Масштаб по данным"));
    EXPECT_EQ(tips[2][0], "Fit to the data");
    EXPECT_EQ(tips[2][9], "Previous session");
    for (int i = 0; i < static_cast<int>(buttons.size()); ++i) EXPECT_NE(tips[1][i], tips[2][i]);
}

// --- about dialogs

TEST_F(Readable, AboutDialogsShowTheProgramsOwnFactsAndFitTheirTexts) {
    Boot();
    const std::pair<std::vector<QLabel*>, const char*> kedr[] = {
        {{Form7->adress, Form7->Label6, Form7->Label7}, "ru"},
        {{Form8->adress, Form8->Label6, Form8->Label7}, "en"},
    };
    for (const auto& [lines, language] : kedr) {
        QString all;
        for (QLabel* l : lines) all += l->text() + "\n";
        SCOPED_TRACE(all.toStdString());
        for (const char* invented : {"000", "example", "Примерн", "Primernaya", "+7"})
            EXPECT_FALSE(all.contains(U(invented))) << invented;
        EXPECT_TRUE(all.contains("1.0"));
        EXPECT_TRUE(all.contains("GPL-3.0-or-later"));
        EXPECT_TRUE(all.contains("README"));
    }
    EXPECT_EQ(Form7->adress->text(), U("Вереск, версия 1.0"));
    EXPECT_EQ(Form8->adress->text(), "Veresk, version 1.0");
    for (AboutDialog* d : {static_cast<AboutDialog*>(Form3), static_cast<AboutDialog*>(Form4),
                           static_cast<AboutDialog*>(Form7), static_cast<AboutDialog*>(Form8)})
        for (QLabel* l : {d->Label1, d->Label2, d->Label3}) {
            EXPECT_LE(QFontMetrics(l->font()).horizontalAdvance(l->text()), l->width()) << l->text().toStdString();
            EXPECT_LE(l->geometry().right(), d->width());
        }
    // The firmware number completes "0." without a gap, in both languages (the Russian
    // caption ends in a space).
    for (AboutDialog* d : {static_cast<AboutDialog*>(Form3), static_cast<AboutDialog*>(Form4),
                           static_cast<AboutDialog*>(Form7), static_cast<AboutDialog*>(Form8)}) {
        const QFontMetrics m(d->Label3->font());
        const int textEnd = d->Label3->x() + m.horizontalAdvance(d->Label3->text().trimmed());
        EXPECT_GE(d->Label4->x(), textEnd) << d->Label3->text().toStdString();
        EXPECT_LT(d->Label4->x() - textEnd, m.horizontalAdvance(' ')) << d->Label3->text().toStdString();
    }
}

// --- windows: controls within their places, texts within their controls

TEST_F(Readable, ControlsOfEachTabLieWithinItAndDoNotOverlap) {
    Boot();
    Tick();
    for (int language : {1, 2}) {
        Form1->SwitchLanguage(language);
        for (QWidget* page : {Form1->TabSheet2, Form1->TabSheet5, Form1->TabSheet1}) {
            Form1->SetActivePage(page);
            QApplication::processEvents();
            std::vector<QWidget*> shown;
            for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (w->isVisibleTo(page) && w != Form1->Button2) shown.push_back(w);  // Button2 lies below, as designed
            for (size_t i = 0; i < shown.size(); ++i) {
                const QRect r = shown[i]->geometry();
                const std::string name = shown[i]->metaObject()->className() + (" at " + std::to_string(r.x()) + "," +
                                                                                std::to_string(r.y()));
                EXPECT_TRUE(page->rect().contains(r)) << language << " " << name;
                for (size_t k = i + 1; k < shown.size(); ++k)
                    EXPECT_FALSE(r.intersects(shown[k]->geometry()))
                        << language << " " << name << " and " << shown[k]->metaObject()->className() << " at "
                        << shown[k]->x() << "," << shown[k]->y();
            }
        }
    }
}

TEST_F(Readable, ButtonCaptionsFitTheirButtonsInBothLanguages) {
    Boot();
    for (int language : {1, 2}) {
        Form1->SwitchLanguage(language);
        for (QPushButton* b : Form1->findChildren<QPushButton*>())
            if (!b->text().isEmpty()) {
                EXPECT_LE(b->sizeHint().width(), b->width()) << b->text().toStdString();
            }
    }
    // The connection dialog takes its texts from the stored language when it is created.
    for (const char* ini : {"[Common]\nLanguage=1\n", "[Common]\nLanguage=2\n"}) {
        DestroyForms();
        WriteSettings(ini);
        CreateForms();
        for (QPushButton* b : {Form2->Button1, Form2->Button2}) {
            EXPECT_LE(b->sizeHint().width(), b->width()) << b->text().toStdString();
            EXPECT_LE(b->geometry().right(), Form2->width() - 8) << b->text().toStdString();
        }
    }
    EXPECT_EQ(Form2->Button2->text(), "Auto connection");
}

TEST_F(Readable, StatusLineMessagesFitTheirPanel) {
    Boot();
    TStatusBar* bar = Form1->StatusBar1;
    const int room = bar->PanelRect(0).width() - 6;
    for (const TextPair& m : {msg::Reading, msg::ErrorOpeningPort, msg::PortOpeningError, msg::ConnectionError,
                              msg::CannotConnect, msg::CrcError, msg::ReadOk, msg::WriteOk, msg::NoParameters,
                              msg::Searching})
        for (int language : {1, 2}) {
            bar->DrawStatusMessage(Tr(m, language), true);
            SCOPED_TRACE(bar->StatusLineText().toStdString());
            EXPECT_EQ(bar->StatusLineDrawnText(), bar->StatusLineText());  // whole, if need be smaller
            EXPECT_LE(QFontMetrics(bar->StatusLineFont()).horizontalAdvance(bar->StatusLineDrawnText()), room);
            EXPECT_GE(bar->StatusLineFont().pixelSize(), 9);
        }
    // A message with a long file name: shortened, the whole message as the tooltip.
    const QString opened = U("Открыт архив-2026-12-10-15-50-03-длинное-имя.bin");
    bar->DrawStatusMessage(opened, false);
    EXPECT_TRUE(bar->StatusLineDrawnText().endsWith(QChar(0x2026))) << bar->StatusLineDrawnText().toStdString();
    EXPECT_LE(QFontMetrics(bar->StatusLineFont()).horizontalAdvance(bar->StatusLineDrawnText()), room);
    const QPoint inside = bar->PanelRect(0).center();
    QHelpEvent help(QEvent::ToolTip, inside, bar->mapToGlobal(inside));
    QApplication::sendEvent(bar, &help);
    EXPECT_EQ(QToolTip::text(), opened);
    QToolTip::hideText();
}

TEST_F(Readable, UnitLabelsAndRussianCaptionsReadInTheLanguageInForce) {
    Boot();
    // Before the first displayed tick the unit labels show the design's micro units.
    Form1->SwitchLanguage(2);
    EXPECT_EQ(Form1->Label34->text(), "uSv/h");
    EXPECT_EQ(Form1->Label39->text(), "uSv");
    // A unit chosen by a tick keeps its scale through a switch, also without a link.
    simulator.WithDevice([](sim::Device& d) { d.State().doseRate = 2500; d.State().dose = 1.5e6; });
    Tick();
    EXPECT_EQ(Form1->Label34->text(), "mSv/h");
    EXPECT_EQ(Form1->Label39->text(), "Sv");
    Link.DevicePort = 99;  // no such port
    Tick();
    Form1->SwitchLanguage(1);
    EXPECT_EQ(Form1->Label34->text(), U("мЗв/ч"));
    EXPECT_EQ(Form1->Label39->text(), U("Зв"));
    // Captions that stay Russian are explained in the language in force.
    std::map<int, QStringList> tips;
    for (int language : {1, 2}) {
        Form1->SwitchLanguage(language);
        for (QWidget* w : std::initializer_list<QWidget*>{Form1->TrackBar1, Form1->Label24, Form1->Chart1, Form1->Chart2})
            tips[language] << w->toolTip();
    }
    EXPECT_EQ(Form1->Label24->text(), U("Прозрачность  краткой формы"));
    for (int i = 0; i < tips[2].size(); ++i) {
        EXPECT_FALSE(tips[1][i].isEmpty());
        EXPECT_NE(tips[1][i], tips[2][i]);
        for (QChar ch : tips[2][i]) EXPECT_LT(ch.unicode(), 128) << tips[2][i].toStdString();
    }
}

// --- accessibility

TEST_F(Readable, StatusLineAndPanelsReadThroughTheAccessibilityInterface) {
    Boot();
    Tick();
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(Form1->StatusBar1);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role(), QAccessible::StatusBar);
    EXPECT_EQ(bar->text(QAccessible::Name), U("Строка состояния"));
    ASSERT_EQ(bar->childCount(), 9);
    QAccessibleInterface* line = bar->child(0);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->parent(), bar);
    EXPECT_EQ(bar->indexOfChild(line), 0);
    EXPECT_EQ(line->text(QAccessible::Name), U("Чтение"));
    EXPECT_EQ(line->text(QAccessible::Description), U("норма"));
    const char* captions[] = {"Статус",          "Время работы", "Аккумулятор", "Температура", "Измерений",
                              "Время измерения", "Импульсы",     "Порог МЭД",   "Порог ЭД"};
    for (int i = 1; i < 9; ++i) {
        QAccessibleInterface* panel = bar->child(i);
        ASSERT_NE(panel, nullptr) << i;
        EXPECT_FALSE(panel->text(QAccessible::Name).isEmpty()) << i;
        EXPECT_EQ(panel->text(QAccessible::Name), Panel(i).trimmed()) << i;
        EXPECT_EQ(panel->text(QAccessible::Description), U(captions[i])) << i;
        EXPECT_EQ(panel->rect().width(), Form1->StatusBar1->PanelRect(i).width()) << i;
    }
    EXPECT_EQ(bar->child(3)->text(QAccessible::Name), Panel(3).trimmed());

    // A failure, in English: the message and its meaning.
    Form1->English1Click();
    Form1->Timer1->SetEnabled(false);
    simulator.SetSilent(true);
    Form1->Button14Click();  // read parameters: no answer
    EXPECT_TRUE(StatusRed());
    EXPECT_EQ(line->text(QAccessible::Name), "Connection error");
    EXPECT_EQ(line->text(QAccessible::Description), "error");
    EXPECT_EQ(bar->text(QAccessible::Name), "Status bar");
    EXPECT_EQ(bar->child(4)->text(QAccessible::Description), "Measurements");

    // The value fields and the compact windows.
    const std::pair<QWidget*, const char*> named[] = {
        {Form1->Edit4, "Dose rate"}, {Form1->Edit10, "Dose"}, {Form1->Edit1, "Dose accumulation time"},
        {Form6, "Compact view 1"},   {Form9, "Compact view 2"}};
    for (const auto& [w, name] : named) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->text(QAccessible::Name), name);
    }
    QAccessibleInterface* value = QAccessible::queryAccessibleInterface(Form6->Label1);
    EXPECT_EQ(value->text(QAccessible::Name), Form6->Label1->text());
    EXPECT_EQ(value->text(QAccessible::Description), "Dose rate");
}

// --- compact windows

TEST_F(Readable, CompactWindowsShowTheAlarmOfTheQuantityTheyShow) {
    Boot();
    const QColor skyBlue(0xA6, 0xCA, 0xF0);
    const QColor face = QPalette().color(QPalette::Button);
    struct Case {
        double rate, dose;
        int selection;
        bool red;
    };
    const Case cases[] = {
        {2.503, 3.5, 0, true},  {2.503, 3.5, 1, false}, {0.25, 150, 1, true},
        {0.25, 150, 0, false},  {2.503, 150, 1, true},  {0.25, 3.5, 0, false},
    };
    for (const Case& c : cases) {
        simulator.WithDevice([&](sim::Device& d) {
            d.State().doseRate = c.rate;
            d.State().dose = c.dose;
        });
        Compact.CompactSelection = c.selection;
        Tick();
        SCOPED_TRACE(::testing::Message() << c.rate << " " << c.dose << " " << c.selection);
        EXPECT_EQ(Form6->Alarm(), c.red);
        EXPECT_EQ(Form9->Alarm(), c.red);
        EXPECT_EQ(Form6->Label1->palette().color(QPalette::Window), c.red ? QColor(Qt::red) : skyBlue);
        EXPECT_EQ(Form9->palette().color(QPalette::Window), c.red ? QColor(Qt::red) : face);
        // The same red as the main window's field of that quantity.
        QLineEdit* field = c.selection == 1 ? Form1->Edit10 : Form1->Edit4;
        EXPECT_EQ(Background(field) == QColor(Qt::red), c.red);
        EXPECT_EQ(Form6->Label1->accessibleDescription().contains(U("порог превышен")), c.red);
    }
    // In alarm, then the link is lost: the no-link text on the usual colours.
    simulator.WithDevice([](sim::Device& d) { d.State().doseRate = 2.503; });
    Compact.CompactSelection = 0;
    Tick();
    ASSERT_TRUE(Form6->Alarm());
    Link.DevicePort = 99;  // no such port
    Tick();
    EXPECT_EQ(Form6->Label1->text(), NoLinkCompact1(Settings.UiLanguage));
    EXPECT_FALSE(Form6->Alarm());
    EXPECT_FALSE(Form9->Alarm());
    EXPECT_EQ(Form6->Label1->palette().color(QPalette::Window), skyBlue);
    EXPECT_EQ(Form9->palette().color(QPalette::Window), face);
}
