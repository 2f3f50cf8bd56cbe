// arvelo-screenshot: pictures of the window program for the documentation.
// Runs the real main window against the in-process virtual reader, downloads
// every log twice and grabs the screen: the splash, the main window after the
// first run (log list and data window) and during the second (with the
// progress window on top), the two settings dialogs, and the Graph of two
// of the logs with a sample chosen in the grid. Then, with the readers of
// the visits of a well field downloaded after it, the Archive window (a
// logger with a gap chosen) and the Graph of the last visit's wells.
//
//   arvelo-screenshot IMAGE.bin OUTPUT-FOLDER [VISIT.bin...]   (under an X server, e.g. xvfb-run)
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

#include "app/TfrmParent.h"
#include "app/TfrmSplash.h"
#include "archive/Archive.h"
#include "archive/SeriesCsv.h"
#include "device/FixedText.h"
#include "settings/SettingsStore.h"
#include "support/QtTestSupport.h"
#include "tools/sim/Server.h"
#include "views/TfrmArchive.h"
#include "views/TfrmFileSelection.h"
#include "views/TfrmGraph.h"
#include "views/TfrmProgress.h"
#include "views/WellPanel.h"

namespace {

void Settle() {
    WaitFor([] { return false; }, std::chrono::milliseconds(300));
}

bool SaveScreen(const QWidget& window, const QString& path) {
    const QPixmap shot =
        window.screen()->grabWindow(0, window.x(), window.y(), window.width(), window.height());
    const bool saved = shot.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

}  // namespace

// WELL 12 declared as the user guide's example declares it (its reference
// point, its baro, the dips of the sheet), then its Well tab and its level
// Graph pictured: archive-well.png, level-graph.png.
bool ShowLevels(TfrmArchive& window, const QString& dipSheet, const QString& outputFolder) {
    constexpr char kWell[] = "WELL 12";
    {
        auto opened = archive::Archive::Open(window.ReadsFrom().empty() ? archive::DefaultLocation()
                                                                        : window.ReadsFrom());
        QFile sheet(dipSheet);
        if (!opened || !sheet.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "the archive or %s cannot be read\n", qPrintable(dipSheet));
            return false;
        }
        archive::Archive& archive = **opened;
        const archive::DipSheet dips = archive::ReadDipSheet(sheet.readAll().toStdString());
        for (const archive::Result<void>& done :
             {archive.SetWell(kWell, {"12.30", "m NAP", "52.37", std::nullopt}),
              archive.AssignBaro(kWell, {"..00-80802  1...", "", 0, "0",
                                         std::numeric_limits<int64_t>::min(), std::nullopt}),
              archive.AddDips(dips.dips)}) {
            if (!done) {
                std::fprintf(stderr, "%s\n", done.failure().message.c_str());
                return false;
            }
        }
    }
    for (int g = 0; g < window.tvwLoggers->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = window.tvwLoggers->topLevelItem(g);
        if (group->text(TfrmArchive::kLocation) == kWell && group->childCount() > 0) {
            window.tvwLoggers->setCurrentItem(group->child(0));
        }
    }
    window.parentWidget()->showMaximized();
    window.tabLists->setCurrentWidget(window.pnlWell);
    WaitFor([&] { return !window.Loading(); }, std::chrono::minutes(1));
    Settle();
    bool ok = SaveScreen(*window.window(), outputFolder + "/archive-well.png");
    TfrmGraph* levels = nullptr;
    QObject::connect(&window, &TfrmArchive::GraphOpened,
                     [&levels](TfrmGraph* graph) { levels = graph; });
    window.btnLevelGraphClick();
    WaitFor([&] { return levels != nullptr; }, std::chrono::minutes(1));
    if (levels == nullptr) {
        std::fprintf(stderr, "the level Graph did not open: %s\n",
                     qPrintable(window.lblState->text()));
        return false;
    }
    levels->parentWidget()->showMaximized();
    Settle();
    return SaveScreen(*window.window(), outputFolder + "/level-graph.png") && ok;
}

// Settings, logs and the archive in a folder of their own.
void UseSandbox(QTemporaryDir& temp) {
    qputenv("XDG_CONFIG_HOME", temp.filePath("config").toLocal8Bit());
    qputenv("XDG_DATA_HOME", temp.filePath("data").toLocal8Bit());  // the archive
    settings::SetStoreFile(temp.filePath("config/Arvelo.ini"));
    const QString logs = temp.filePath("Field data") + "/";
    QDir().mkpath(logs);
    {
        settings::SettingsKey key(settings::KEY_ARVELO);
        key.SetString(settings::VALUE_OUTPUT_DIR, logs);
        key.SetString(settings::VALUE_FILE_TYPE, ".omb");
        key.SetDword(settings::VALUE_FILE_OPTION, 11);
        settings::SettingsKey(settings::KEY_ARCHIVE)
            .SetString(settings::VALUE_ARCHIVE_CLOCK, "+00:00");
    }
}

bool RunEnded(const TfrmParent& window) {
    return window.tbuDownloadAll->isEnabled();
}

// The main window after a first download and during the second, with the
// progress window on top; the two settings dialogs, as the Configuration
// menu shows them.
bool ShowDownloads(TfrmParent& window, const QString& outputFolder) {
    window.tbuDownloadAllClick();
    if (!WaitFor([&] { return RunEnded(window); }, std::chrono::minutes(1))) {
        std::fprintf(stderr, "the first download did not end\n");
        return false;
    }
    Settle();
    bool ok = SaveScreen(window, outputFolder + "/main-window-after-download.png");

    window.tbuDownloadAllClick();
    const bool progressShown = WaitFor(
        [&] {
            return window.progressWindow != nullptr && window.progressWindow->isVisible() &&
                   window.progressWindow->proLogProgress->value() >= 2 &&
                   window.progressWindow->proDownloadProgress->value() >= 8;
        },
        std::chrono::minutes(1));
    ok = progressShown && SaveScreen(window, outputFolder + "/main-window.png") && ok;
    WaitFor([&] { return RunEnded(window); }, std::chrono::minutes(1));
    for (QDialog* dialog : window.findChildren<QDialog*>()) {
        const QString name = dialog->objectName();
        if (name == "frmDirSetting" || name == "frmComPort") {
            dialog->show();
            Settle();
            const QString file = name == "frmDirSetting" ? "directory-setting" : "com-port-setting";
            ok = SaveScreen(*dialog, outputFolder + "/" + file + ".png") && ok;
            dialog->hide();
        }
    }
    return ok;
}

// The Graph on the log from a location, a sample chosen in the grid:
// filling a larger main window, or beside the data window.
bool ShowGraphs(TfrmParent& window, const QString& outputFolder) {
    window.resize(1100, 780);
    const auto graphOf = [&](const char* location, int sample, bool beside, const QString& file) {
        int index = 0;
        while (index < window.Logs().count() &&
               !FieldText(window.Logs().item(index)->header().location).starts_with(location)) {
            ++index;
        }
        window.logListWindow->lstFileSelection->setCurrentRow(index);
        window.ShowListedLog(index);
        window.tbuGraphClick();
        if (window.graphWindow == nullptr) {
            return false;
        }
        QWidget* frame = window.graphWindow->parentWidget();
        if (beside) {
            window.resize(1270, 700);
            window.logListWindow->showMinimized();
            window.dataWindow->parentWidget()->move(0, 0);
            frame->setGeometry(window.dataWindow->parentWidget()->width(), 0, 650, 600);
        } else {
            frame->showMaximized();
        }
        window.dataWindow->SelectSample(sample);
        Settle();
        return SaveScreen(window, outputFolder + "/" + file);
    };
    bool ok = graphOf("HARBOUR GAUGE", 1500, false, "graph.png");
    // Closed as it was opened, so that no other window opens maximised.
    window.graphWindow->parentWidget()->showNormal();
    window.graphWindow->parentWidget()->close();
    Settle();
    ok = graphOf("WELLFIELD", 200, true, "graph-beside-data-window.png") && ok;
    window.graphWindow->parentWidget()->close();
    window.dataWindow->parentWidget()->close();
    Settle();
    return ok;
}

// A visit's reader downloaded into the archive.
bool DownloadVisit(TfrmParent& window, const char* path) {
    std::string error;
    sim::MemoryImage visit;
    sim::ServerOptions fast;
    fast.fast = true;
    std::unique_ptr<sim::Server> visitReader;
    if (visit.Load(path, &error)) {
        visitReader = std::make_unique<sim::Server>(visit, fast);
    }
    if (visitReader == nullptr || !visitReader->Start(&error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return false;
    }
    window.cmbComPort->Refresh();
    window.cmbComPort->setCurrentText(QString::fromStdString(visitReader->PortName()) + ":");
    window.tbuDownloadAllClick();
    if (!WaitFor([&] { return RunEnded(window); }, std::chrono::minutes(1)) ||
        !WaitFor([&] { return window.lblArchive->isVisible(); }, std::chrono::minutes(1))) {
        std::fprintf(stderr, "the download of %s did not end\n", path);
        return false;
    }
    return true;
}

// The Archive window on the wells of the last visit, the one with a gap
// chosen, their Graph, and with a dip sheet the level pictures; false when
// a window did not open.
bool ShowArchive(TfrmParent& window, const QString& dipSheet, const QString& outputFolder,
                 bool& ok) {
    window.logListWindow->parentWidget()->showMinimized();
    emit window.lblArchive->linkActivated("archive");
    TfrmArchive* archive = window.archiveWindow;
    WaitFor([&] { return !archive->Loading(); }, std::chrono::minutes(1));
    archive->parentWidget()->showMaximized();
    for (QTreeWidgetItem* row : archive->tvwLoggers->selectedItems()) {
        if (!row->text(TfrmArchive::kGaps).isEmpty()) {
            archive->tvwLoggers->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
        }
    }
    Settle();
    ok = SaveScreen(window, outputFolder + "/archive-window.png") && ok;
    TfrmGraph* history = nullptr;
    QObject::connect(archive, &TfrmArchive::GraphOpened,
                     [&history](TfrmGraph* graph) { history = graph; });
    archive->btnGraphClick();
    WaitFor([&] { return history != nullptr; }, std::chrono::minutes(1));
    if (history == nullptr) {
        std::fprintf(stderr, "the Graph of the wells did not open\n");
        return false;
    }
    history->parentWidget()->showMaximized();
    Settle();
    ok = SaveScreen(window, outputFolder + "/archive-graph.png") && ok;
    history->parentWidget()->showNormal();
    history->parentWidget()->close();
    if (!dipSheet.isEmpty()) {
        ok = ShowLevels(*archive, dipSheet, outputFolder) && ok;
    }
    return true;
}

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: arvelo-screenshot IMAGE.bin OUTPUT-FOLDER [VISIT.bin...]\n");
        return 2;
    }
    const QString outputFolder = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(outputFolder);
    QTemporaryDir temp(QDir::tempPath() + "/logs-XXXXXX");
    UseSandbox(temp);

    sim::MemoryImage image;
    std::string error;
    if (!image.Load(argv[1], &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    sim::ServerOptions options;
    options.baud = 38400;  // slow enough to catch the progress window
    sim::Server reader(image, options);
    if (!reader.Start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    settings::SettingsKey(settings::KEY_COM_PORT)
        .SetString(settings::VALUE_COM_PORT, QString::fromStdString(reader.PortName()) + ":");

    ScriptedPrompter prompter;  // answers every message box
    {
        TfrmSplash splash(60000);
        splash.show();
        Settle();
        SaveScreen(splash, outputFolder + "/splash.png");
    }

    ParentOptions parentOptions;
    parentOptions.splashMs = 0;
    const std::unique_ptr<TfrmParent> window = TfrmParent::CreateWithForms(parentOptions);
    window->move(0, 0);
    window->show();
    Settle();
    bool ok = ShowDownloads(*window, outputFolder);
    ok = ShowGraphs(*window, outputFolder) && ok;

    // The visits, each downloaded from a reader of its own into the archive.
    // A field sheet of dips, last, for the well of the level readers.
    QString dipSheet;
    if (argc > 3 && QString::fromLocal8Bit(argv[argc - 1]).endsWith(QLatin1String(".csv"))) {
        dipSheet = QString::fromLocal8Bit(argv[--argc]);
    }
    for (int i = 3; i < argc; ++i) {
        if (!DownloadVisit(*window, argv[i])) {
            return 1;
        }
    }
    if (argc > 3) {
        if (!ShowArchive(*window, dipSheet, outputFolder, ok)) {
            return 1;
        }
    }
    for (const QString& text : prompter.Texts()) {
        std::printf("message: %s\n", qPrintable(text));
    }
    return ok ? 0 : 1;
}
