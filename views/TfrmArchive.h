#pragma once
// The Archive window: every logger the archive holds, grouped by where it
// is now, one row each with its channels, the span and number of its
// samples, its last download, and its conflicts and gaps when it has any.
// A filter box narrows the rows; a logger chosen lists its conflicts and
// gaps below. The archive is read on a thread of its own (run/ArchiveRead.h)
// with the progress shown, so the window never waits for it.

#include <QSet>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

#include "archive/Archive.h"
#include "run/ArchiveRead.h"

class QLabel;
class QLineEdit;
class QMdiArea;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

class TfrmArchive final : public QWidget {
    Q_OBJECT

  public:
    // Columns of the logger list.
    enum Column {
        Location,
        Serial,
        Instrument,
        Channels,
        First,
        Last,
        Samples,
        LastDownload,
        Conflicts,
        Gaps,
        ColumnCount
    };

    // Reads the archive at location (empty: the default).
    explicit TfrmArchive(std::string location, QWidget* parent = nullptr);
    ~TfrmArchive() override;

    // A new Archive window in the main window's MDI area, shown.
    static TfrmArchive* CreateIn(QMdiArea* area, std::string location);

    // Reads the archive again (a download added to it).
    void Reload();
    // Selects the loggers of these serial numbers once they are read.
    void SelectLoggers(const QStringList& serials);
    // Whether the archive is being read.
    bool Loading() const { return read_ != nullptr; }

    QLineEdit* edtFilter;
    QTreeWidget* tvwLoggers;
    QProgressBar* prbLoad;
    QLabel* lblState;
    QTreeWidget* tvwDetails;  // the conflicts and gaps of the logger chosen

  signals:
    // The archive has been read (or could not be).
    void Loaded();

  private:
    // The reading thread moved on: progress, or the end.
    void ReadMoved();
    void ShowLoggers();
    void ApplyFilter();
    void ShowDetailsOf(QTreeWidgetItem* row);
    void ShowDetails();

    const std::string location_;
    std::unique_ptr<run::ArchiveRead> read_;
    std::vector<archive::LoggerSummary> loggers_;  // the read's, while it goes on
    QSet<QString> toSelect_;

    // The details of one logger, read on their own.
    std::unique_ptr<run::ArchiveRead> detailsRead_;
    std::vector<archive::ConflictRow> conflicts_;
    std::vector<archive::GapRow> gaps_;
};
