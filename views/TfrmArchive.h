#pragma once
// The Archive window: every well the archive knows, with the loggers that
// stayed in it, a row for each stay (when, its clock, whether declared)
// with its channels, the span and number of its samples there, the logger's
// last download, and its conflicts (the open ones marked) and gaps.
// A filter box narrows the rows; a logger chosen lists its conflicts and
// gaps below. Loggers or channels chosen open in a Graph over their whole
// record (archive/History.h). A second tab lists the downloads: when
// each came in, from where, and what it brought; a third the well chosen,
// with what its water levels are computed from (views/WellPanel.h), and
// the well's levels open in a Graph. The archive is read on a
// thread of its own (run/ArchiveRead.h) with the progress shown, so the
// window never waits for it; each read hands its result back to the window.

#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "archive/Archive.h"
#include "archive/History.h"
#include "archive/WellView.h"
#include "run/ArchiveRead.h"

class QLabel;
class QPoint;
class QLineEdit;
class QMdiArea;
class QProgressBar;
class QTabWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrmGraph;
class WellPanel;

class TfrmArchive final : public QWidget {
    Q_OBJECT

  public:
    // Columns of the logger list.
    enum Column {
        kLocation,
        kSerial,
        kInstrument,
        kChannels,
        kFirst,
        kLast,
        kSamples,
        kLastDownload,
        kConflicts,
        kGaps,
        kColumnCount
    };

    // Columns of the download list.
    enum DownloadColumn {
        kWhen,
        kSource,
        kFile,
        kLogger,
        kDownloadLocation,
        kNew,
        kRepeated,
        kConflicting,
        kDownloadColumnCount
    };

    // Reads the archive at location (empty: the default).
    explicit TfrmArchive(std::string location, QWidget* parent = nullptr);
    ~TfrmArchive() override;

    // A new Archive window in the main window's MDI area, shown.
    static TfrmArchive* CreateIn(QMdiArea* area, std::string location);

    // Reads the archive again (a download or an import added to it); the
    // loggers chosen stay chosen.
    void Reload();
    // Reads the archive at another location (the setting changed).
    void ReadFrom(std::string location);
    const std::string& ReadsFrom() const { return location_; }
    // Selects the loggers of these serial numbers once they are read.
    void SelectLoggers(const QStringList& serials);
    // Whether the archive is being read.
    bool Loading() const {
        return read_ != nullptr || historyRead_ != nullptr || change_ != nullptr ||
               wellRead_ != nullptr || levelRead_ != nullptr;
    }
    // The series of the rows chosen (a logger's row: all its channels) open
    // in a new Graph once they are read.
    void btnGraphClick();
    // The record keeps this value at the time of conflict index of those
    // listed below (the logger chosen's); the lists are read again after.
    void ResolveConflict(int index, const archive::Keep& keep);
    // The levels of the well chosen (of the row chosen) open in a new Graph
    // once they are read; why not in the state line when they cannot be computed.
    void btnLevelGraphClick();

    QLineEdit* edtFilter;
    QPushButton* btnGraph;
    QPushButton* btnLevelGraph;
    QTreeWidget* tvwLoggers;
    QProgressBar* prbLoad;
    QLabel* lblState;
    QTreeWidget* tvwDetails;  // the conflicts and gaps of the logger chosen
    QTabWidget* tabLists;     // the loggers, the downloads
    QTreeWidget* tvwDownloads;
    WellPanel* pnlWell;

  signals:
    // A Graph opened on the series chosen.
    void GraphOpened(TfrmGraph* graph);

  private:
    // A logger's row and its channels' rows keep the logger's serial, its
    // index in shown_, and a channel's index in its series (-1 on the
    // logger's row); a conflict's row in the details its index in conflicts_.
    static constexpr int kSerialRole = Qt::UserRole;
    static constexpr int kLoggerRole = Qt::UserRole + 1;
    static constexpr int kSeriesRole = Qt::UserRole + 2;
    static constexpr int kConflictRole = Qt::UserRole + 3;

    // The parts of the window, made by the constructor: the filter, the
    // buttons, the lists and the state line; the tabs and the layout; what
    // each control does.
    void MakeControls();
    void LayOut();
    void ConnectControls();
    // What a read calls on its thread as it moves on: moved, called on this
    // window's thread (a read must only post).
    std::function<void()> WakeTo(void (TfrmArchive::*moved)());
    // The reading thread moved on: progress, or the end.
    void ReadMoved();
    void ShowLoggers();
    // A row of logger (its index in shown_) and its channels' rows: what it
    // holds in a stay (or in all).
    QTreeWidgetItem* LoggerRow(std::size_t logger, const QString& stay,
                               const archive::Holdings& held,
                               const std::vector<archive::Holdings>& series) const;
    // The downloads read, once a read brought them and the tab is shown.
    void ShowDownloads();
    void ApplyFilter();
    void ShowDetailsOf(QTreeWidgetItem* row);
    void ShowDetails();
    void HistoryMoved();
    // The choices a conflict's row offers, by its context menu.
    void ConflictMenu(const QPoint& at);
    // Writes a change to the archive read now, on a thread of its own
    // (doing: what the state line says meanwhile; failed: what it says before
    // the archive's words when it fails), then calls after. Changes asked
    // for meanwhile (two cells typed in a row) wait their turn: none is dropped.
    void Change(const QString& doing, const QString& failed,
                std::function<archive::Result<void>(archive::Archive&)> change,
                std::function<void()> after);
    struct Pending {
        QString doing, failed;
        std::function<archive::Result<void>(archive::Archive&)> change;
        std::function<void()> after;
        std::string location;  // the archive's it was asked of; ReadFrom does not move it
    };
    void StartChange();
    void ChangeMoved();
    // The well of the row chosen: its group's; empty without one.
    std::string CurrentWell() const;
    // Reads the well chosen into the Well tab, when that tab is shown.
    void ShowWell();
    void ReadWellOf(const std::string& well);
    // A read of the well and its levels that calls moved as it goes.
    std::unique_ptr<run::ArchiveRead<archive::WellView>> ReadingWell(const std::string& well,
                                                                     void (TfrmArchive::*moved)());
    void WellMoved();
    void LevelsMoved();
    // A Graph for the well's levels, opened beside this window.
    TfrmGraph* OpenGraph();
    // The line below the lists, whole in its tooltip too: a long path or a
    // server's error may not fit.
    void ShowState(const QString& text);
    // Shows how far a read is.
    void ShowProgress(const run::ReadState& state);

    struct Contents {
        std::vector<archive::LoggerSummary> loggers;
        std::vector<archive::DownloadRow> downloads;
    };
    struct Details {
        std::vector<archive::ConflictRow> conflicts;
        std::vector<archive::GapRow> gaps;
    };

    std::string location_;
    std::unique_ptr<run::ArchiveRead<Contents>> read_;
    std::vector<archive::LoggerSummary> shown_;  // what the rows show
    std::vector<archive::DownloadRow> downloads_;
    bool downloadsShown_ = false;
    QString counts_;  // "3 wells, 2 loggers, 11 samples"
    QSet<QString> toSelect_;
    QString toList_;  // the serial whose details are listed again once read
    // The details of one logger, read on their own.
    std::unique_ptr<run::ArchiveRead<Details>> detailsRead_;
    std::unique_ptr<run::ArchiveRead<archive::History>> historyRead_;
    std::vector<archive::ConflictRow> conflicts_;  // those the details list
    std::unique_ptr<run::ArchiveRead<bool>> change_;
    std::deque<Pending> changes_;                                     // the one going on first
    std::unique_ptr<run::ArchiveRead<archive::WellView>> wellRead_;   // the Well tab's
    std::unique_ptr<run::ArchiveRead<archive::WellView>> levelRead_;  // for a new level Graph
    std::vector<QPointer<TfrmGraph>> levelGraphs_;  // shown again when their well changes
};
