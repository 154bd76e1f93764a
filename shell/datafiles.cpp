// The archive tab's "Открыть…" and "Экспорт…" buttons, keeping every good download as
// an image file, and the "Журнал" item of the view menu that logs every displayed tick.
#include "shell/datafiles.h"

#include <QFileDialog>
#include <QFileInfo>

#include "archive/archive.h"
#include "archive/export.h"
#include "monitor/clock.h"
#include "monitor/livelog.h"
#include "monitor/status.h"
#include "shell/application.h"
#include "shell/datafolder.h"
#include "shell/inifile.h"
#include "shell/kvelp.h"

namespace veresk {

namespace {

namespace datamsg {
constexpr TextPair NotKept{"Архив не сохранён в файл", "Archive not saved to a file"};
constexpr TextPair Opened{"Открыт ", "Opened "};
constexpr TextPair Unreadable{"Не читается: ", "Cannot read: "};
constexpr TextPair WrongSize{"Не архив: ", "Not an archive: "};
constexpr TextPair NoArchive{"Нет архива", "No archive"};
constexpr TextPair Exported{"Записан ", "Written "};
constexpr TextPair NotExported{"Не записан: ", "Cannot write: "};
constexpr TextPair LogFailed{"Журнал не записан", "Log not written"};
}  // namespace datamsg

FileDialogSeam& Seam() {
    static FileDialogSeam seam;
    return seam;
}

QString RealDialog(FileDialogKind kind, const QString& startPath) {
    const int lang = Settings.UiLanguage;
    if (kind == FileDialogKind::OpenArchive) {
        return QFileDialog::getOpenFileName(Form1, Tr({"Открыть архив", "Open archive"}, lang), startPath,
                                            Tr({"Архивы (*.bin);;Все файлы (*)", "Archives (*.bin);;All files (*)"},
                                               lang));
    }
    return QFileDialog::getSaveFileName(Form1, Tr({"Экспорт в CSV", "Export to CSV"}, lang), startPath,
                                        Tr({"Файлы CSV (*.csv)", "CSV files (*.csv)"}, lang));
}

}  // namespace

QString ChooseFile(FileDialogKind kind, const QString& startPath) {
    return Seam() ? Seam()(kind, startPath) : RealDialog(kind, startPath);
}

void SetFileDialogSeam(FileDialogSeam seam) { Seam() = std::move(seam); }

void TForm1::BuildDataFiles() {
    Button8 = new QPushButton(QString::fromUtf8("Открыть…"), TabSheet1);
    Button8->setGeometry(680, 10, 80, 28);
    Button9 = new QPushButton(QString::fromUtf8("Экспорт…"), TabSheet1);
    Button9->setGeometry(766, 10, 80, 28);
    N22 = Mview->addAction(QString::fromUtf8("Журнал"));
    N22->setCheckable(true);
    KeepNoticeTimer = new TTimer(kKeepNoticeDelayMs, this);
    KeepNoticeTimer->setSingleShot(true);
    connect(KeepNoticeTimer, &QTimer::timeout, this, [this] { StatusMessage(datamsg::NotKept, true); });
    connect(Button8, &QPushButton::clicked, this, [this] { Guarded([this] { Button8Click(); }); });
    connect(Button9, &QPushButton::clicked, this, [this] { Guarded([this] { Button9Click(); }); });
    connect(N22, &QAction::triggered, this, [this] { Guarded([this] { N22Click(); }); });
}

// ---------------------------------------------------------------- kept archives

void TForm1::KeepDownloadedArchive() {
    const std::time_t now = PcNow();
    const QString kept = KeepArchiveImage(Archive.ArchiveImage, now);
    archiveSource_ = QFileInfo(kept.isEmpty() ? ArchiveImageFileName(now) : kept).completeBaseName();
    // The download stands whatever happens here; a failure is told once "Прочитано"
    // has been on the status line for a moment.
    if (kept.isEmpty()) KeepNoticeTimer->start();
}

void TForm1::Button8Click() {
    const QString path = ChooseFile(FileDialogKind::OpenArchive, ArchivesFolder());
    if (path.isEmpty()) return;
    const QString name = QFileInfo(path).fileName();
    ArchiveImageT image{};
    switch (LoadArchiveImage(path, image)) {
    case ImageFileStatus::Unreadable:
        StatusBar1->DrawStatusMessage(Tr(datamsg::Unreadable, Settings.UiLanguage) + name, true);
        return;
    case ImageFileStatus::WrongSize:
        StatusBar1->DrawStatusMessage(Tr(datamsg::WrongSize, Settings.UiLanguage) + name, true);
        return;
    case ImageFileStatus::Loaded:
        break;
    }
    // Shown exactly as a download that has read this image.
    KeepNoticeTimer->stop();
    Archive.ArchiveImage = image;
    Archive.ArchiveLoaded = true;
    Archive.CurrentSession = 1;
    Archive.SessionCount = 0;
    archiveSource_ = QFileInfo(path).completeBaseName();
    PrepareSessionView();
    StatusBar1->DrawStatusMessage(Tr(datamsg::Opened, Settings.UiLanguage) + name, false);
    ShowFirstSession();
}

// ---------------------------------------------------------------- CSV export

void TForm1::Button9Click() {
    if (!Archive.ArchiveLoaded) {
        StatusMessage(datamsg::NoArchive, true);
        return;
    }
    const QString path = ChooseFile(FileDialogKind::ExportCsv, ArchivesFolder() + '/' + archiveSource_ + ".csv");
    if (path.isEmpty()) return;
    const QString name = QFileInfo(path).fileName();
    if (SaveArchiveCsv(Archive.ArchiveImage, path))
        StatusBar1->DrawStatusMessage(Tr(datamsg::Exported, Settings.UiLanguage) + name, false);
    else
        StatusBar1->DrawStatusMessage(Tr(datamsg::NotExported, Settings.UiLanguage) + name, true);
}

// ---------------------------------------------------------------- live log

void TForm1::N22Click() {
    Settings.LiveLog = N22->isChecked() ? 1 : 0;
    liveLogFailureShown_ = false;
}

void TForm1::AppendLiveLog() {
    if (Settings.LiveLog == 0) return;
    if (LiveLogWriter(LiveLogFolder()).Append(Polling.LiveStatus)) {
        liveLogFailureShown_ = false;
    } else if (!liveLogFailureShown_) {
        // Once per run of failures; polling goes on whatever the log does.
        StatusMessage(datamsg::LogFailed, true);
        liveLogFailureShown_ = true;
    }
}

}  // namespace veresk
