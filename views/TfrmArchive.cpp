#include "views/TfrmArchive.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

#include "archive/IsoTime.h"
#include "views/SubWindow.h"
#include "views/TfrmGraph.h"

namespace {

// A logger's row and its channels' rows: the logger's serial, its index in
// shown_, and a channel's index in its series (-1 on the logger's row).
constexpr int kSerialRole = Qt::UserRole;
constexpr int kLoggerRole = Qt::UserRole + 1;
constexpr int kSeriesRole = Qt::UserRole + 2;

QString Count(int64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qlonglong>(n));
}

// "2024-03-16 15:00:00", UTC as the archive keeps it.
QString Time(const std::optional<int64_t>& tenths) {
    if (!tenths) {
        return {};
    }
    return QString::fromStdString(archive::IsoTime(*tenths)).left(19).replace('T', ' ');
}

// "LEVEL [cm]"
QString SeriesText(const archive::SeriesName& s) {
    return QString::fromStdString(s.identification).trimmed() + " [" +
           QString::fromStdString(s.unit).trimmed() + "]";
}

QString ChannelsText(const archive::LoggerSummary& logger) {
    QStringList names;
    for (const archive::SeriesSummary& s : logger.series) {
        names << SeriesText(s.name);
    }
    return names.join(QStringLiteral(", "));
}

QString CountWhenAny(int64_t n) {
    return n > 0 ? Count(n) : QString();
}

void AlignCounts(QTreeWidgetItem& row, std::initializer_list<int> columns) {
    for (int c : columns) {
        row.setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void AlignCounts(QTreeWidgetItem& row) {
    AlignCounts(row, {TfrmArchive::Samples, TfrmArchive::Conflicts, TfrmArchive::Gaps});
}

// When a download came in, in the user's own time: "2024-04-01 14:00:00".
QString LocalTime(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

}  // namespace

TfrmArchive::TfrmArchive(std::string location, QWidget* parent)
    : QWidget(parent), location_(std::move(location)) {
    setObjectName(QStringLiteral("frmArchive"));
    setWindowTitle(QStringLiteral("Archive"));
    setAttribute(Qt::WA_DeleteOnClose);
    edtFilter = new QLineEdit(this);
    edtFilter->setObjectName(QStringLiteral("edtFilter"));
    edtFilter->setPlaceholderText(QStringLiteral("Filter: location, serial number, channel"));
    edtFilter->setClearButtonEnabled(true);
    btnGraph = new QPushButton(QStringLiteral("&Graph"), this);
    btnGraph->setObjectName(QStringLiteral("btnGraph"));
    btnGraph->setToolTip(
        QStringLiteral("The loggers or channels chosen in a Graph over their whole record"));
    tvwLoggers = new QTreeWidget(this);
    tvwLoggers->setObjectName(QStringLiteral("tvwLoggers"));
    tvwLoggers->setHeaderLabels({"Location", "Serial", "Instrument", "Channels", "First (UTC)",
                                 "Last (UTC)", "Samples", "Last download", "Conflicts", "Gaps"});
    tvwLoggers->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvwLoggers->setUniformRowHeights(true);
    tvwLoggers->setAlternatingRowColors(true);
    prbLoad = new QProgressBar(this);
    prbLoad->setObjectName(QStringLiteral("prbLoad"));
    prbLoad->hide();
    lblState = new QLabel(this);
    lblState->setObjectName(QStringLiteral("lblState"));
    lblState->setWordWrap(true);
    tvwDetails = new QTreeWidget(this);
    tvwDetails->setObjectName(QStringLiteral("tvwDetails"));
    tvwDetails->setHeaderLabels({"Series", "What", "From (UTC)", "To (UTC)", "Values"});
    tvwDetails->setRootIsDecorated(false);
    tvwDownloads = new QTreeWidget(this);
    tvwDownloads->setObjectName(QStringLiteral("tvwDownloads"));
    tvwDownloads->setHeaderLabels(
        {"When", "Source", "File", "Logger", "Location", "New", "Repeated", "Conflicting"});
    tvwDownloads->setRootIsDecorated(false);
    tvwDownloads->setUniformRowHeights(true);
    tvwDownloads->setAlternatingRowColors(true);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(tvwLoggers);
    splitter->addWidget(tvwDetails);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    tabLists = new QTabWidget(this);
    tabLists->setObjectName(QStringLiteral("tabLists"));
    tabLists->addTab(splitter, QStringLiteral("&Loggers"));
    tabLists->addTab(tvwDownloads, QStringLiteral("&Downloads"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* top = new QHBoxLayout;
    top->addWidget(edtFilter, 1);
    top->addWidget(btnGraph);
    layout->addLayout(top);
    layout->addWidget(tabLists, 1);
    layout->addWidget(prbLoad);
    layout->addWidget(lblState);

    connect(edtFilter, &QLineEdit::textChanged, this, &TfrmArchive::ApplyFilter);
    connect(tvwLoggers, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* row) { ShowDetailsOf(row); });
    connect(btnGraph, &QPushButton::clicked, this, &TfrmArchive::btnGraphClick);
    connect(tvwLoggers, &QTreeWidget::itemDoubleClicked, this, &TfrmArchive::btnGraphClick);
    Reload();
}

TfrmArchive::~TfrmArchive() {
    // The reads end first: their wakes post to this window.
    read_.reset();
    detailsRead_.reset();
    historyRead_.reset();
}

TfrmArchive* TfrmArchive::CreateIn(QMdiArea* area, std::string location) {
    auto* form = new TfrmArchive(std::move(location));
    // Whole in view: the columns to the right, the state line at the bottom.
    ShowWholeIn(area, form, QSize(900, 520));
    return form;
}

void TfrmArchive::Reload() {
    read_.reset();  // a read going on ends first
    // The loggers chosen (or a channel of theirs) stay chosen in the rows read again.
    for (const QTreeWidgetItem* row : tvwLoggers->selectedItems()) {
        toSelect_.insert(row->data(Location, kSerialRole).toString());
    }
    prbLoad->setRange(0, 0);
    prbLoad->show();
    ShowState(QStringLiteral("Reading the archive..."));
    read_ = std::make_unique<run::ArchiveRead<Contents>>(
        location_,
        [](archive::Archive& archive,
           const archive::Progress& progress) -> archive::Result<Contents> {
            auto loggers = archive.Loggers(progress);
            if (!loggers) {
                return loggers.failure();
            }
            auto downloads = archive.Downloads();
            if (!downloads) {
                return downloads.failure();
            }
            return Contents{std::move(*loggers), std::move(*downloads)};
        },
        [this] { QMetaObject::invokeMethod(this, &TfrmArchive::ReadMoved, Qt::QueuedConnection); });
}

void TfrmArchive::ReadFrom(std::string location) {
    // The reads going on end first: they read the archive at the old location.
    detailsRead_.reset();
    historyRead_.reset();
    btnGraph->setEnabled(true);
    tvwDetails->clear();
    read_.reset();
    location_ = std::move(location);
    Reload();
}

void TfrmArchive::SelectLoggers(const QStringList& serials) {
    toSelect_ = QSet<QString>(serials.begin(), serials.end());
    if (read_ == nullptr) {
        ShowLoggers();
    }
}

void TfrmArchive::ReadMoved() {
    if (read_ == nullptr) {
        return;  // a wake from a read since let go
    }
    const run::ReadState state = read_->Now();
    ShowProgress(state);
    if (!state.finished) {
        return;
    }
    Contents contents = read_->Take().value_or(Contents{});
    read_.reset();
    if (state.missing) {
        // "there is no archive at PATH yet: it is made when the first log is saved"
        QString why = QString::fromStdString(state.error);
        ShowState(why.left(1).toUpper() + why.mid(1) + QStringLiteral("."));
    } else if (!state.error.empty()) {
        ShowState(QStringLiteral("The archive could not be read: ") +
                  QString::fromStdString(state.error));
    }
    shown_ = std::move(contents.loggers);
    ShowLoggers();
    ShowDownloads(contents.downloads);
    if (state.error.empty()) {
        int64_t samples = 0;
        for (const archive::LoggerSummary& l : shown_) {
            samples += l.held.samples;
        }
        ShowState(Count(static_cast<int64_t>(shown_.size())) + " loggers, " + Count(samples) +
                  " samples");
    }
}

void TfrmArchive::ShowState(const QString& text) {
    lblState->setText(text);
    lblState->setToolTip(text);
}

void TfrmArchive::ShowProgress(const run::ReadState& state) {
    prbLoad->setVisible(!state.finished);
    if (state.total > 0) {
        prbLoad->setRange(0, 1000);
        prbLoad->setValue(static_cast<int>(state.done * 1000 / state.total));
    }
}

void TfrmArchive::ShowLoggers() {
    tvwLoggers->setUpdatesEnabled(false);
    tvwLoggers->clear();
    std::map<QString, QTreeWidgetItem*> groups;
    QList<QTreeWidgetItem*> tops;
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const archive::LoggerSummary& l = shown_[i];
        const QString location = QString::fromStdString(l.location).trimmed();
        QTreeWidgetItem*& group = groups[location];
        if (group == nullptr) {
            group = new QTreeWidgetItem({location});
            group->setFlags(Qt::ItemIsEnabled);
            QFont bold = group->font(Location);
            bold.setBold(true);
            group->setFont(Location, bold);
            tops << group;
        }
        auto* row = new QTreeWidgetItem(
            group, {location, QString::fromStdString(l.serial),
                    QString::fromStdString(l.instrumentNumber).trimmed(), ChannelsText(l),
                    Time(l.held.firstTime), Time(l.held.lastTime), Count(l.held.samples),
                    l.lastDownload ? Time(*l.lastDownload * 10) : QString(),
                    CountWhenAny(l.held.conflicts), CountWhenAny(l.held.gaps)});
        row->setData(Location, kSerialRole, QString::fromStdString(l.serial));
        row->setData(Location, kLoggerRole, static_cast<int>(i));
        row->setData(Location, kSeriesRole, -1);
        for (std::size_t k = 0; k < l.series.size(); ++k) {
            const archive::SeriesSummary& s = l.series[k];
            auto* channel = new QTreeWidgetItem(
                row, {QString(), QString(), QString(), SeriesText(s.name), Time(s.held.firstTime),
                      Time(s.held.lastTime), Count(s.held.samples), QString(),
                      CountWhenAny(s.held.conflicts), CountWhenAny(s.held.gaps)});
            channel->setData(Location, kSerialRole, QString::fromStdString(l.serial));
            channel->setData(Location, kLoggerRole, static_cast<int>(i));
            channel->setData(Location, kSeriesRole, static_cast<int>(k));
            AlignCounts(*channel);
        }
        AlignCounts(*row);
        if (l.held.conflicts > 0 || l.held.gaps > 0) {
            row->setToolTip(Conflicts, QStringLiteral("Choose the logger to list them"));
            row->setToolTip(Gaps, QStringLiteral("Choose the logger to list them"));
        }
    }
    std::sort(tops.begin(), tops.end(), [](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return a->text(Location) < b->text(Location);
    });
    tvwLoggers->addTopLevelItems(tops);
    for (QTreeWidgetItem* group : tops) {
        group->setExpanded(true);
        group->setFirstColumnSpanned(true);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            if (toSelect_.contains(row->text(Serial))) {
                row->setSelected(true);
                tvwLoggers->scrollToItem(row);
            }
        }
    }
    toSelect_.clear();
    tvwLoggers->header()->resizeSections(QHeaderView::ResizeToContents);
    ApplyFilter();
    tvwLoggers->setUpdatesEnabled(true);
}

void TfrmArchive::ShowDownloads(const std::vector<archive::DownloadRow>& downloads) {
    tvwDownloads->clear();
    QList<QTreeWidgetItem*> rows;
    // The latest first: the one just made is what the user looks for.
    for (auto d = downloads.rbegin(); d != downloads.rend(); ++d) {
        auto* row = new QTreeWidgetItem(
            {LocalTime(d->importedAt), QString::fromStdString(d->source),
             QString::fromStdString(d->fileName), QString::fromStdString(d->serial),
             QString::fromStdString(d->location), Count(d->newSamples), Count(d->duplicates),
             Count(d->conflicts)});
        AlignCounts(*row, {New, Repeated, Conflicting});
        rows << row;
    }
    tvwDownloads->addTopLevelItems(rows);
    tvwDownloads->header()->resizeSections(QHeaderView::ResizeToContents);
}

void TfrmArchive::ApplyFilter() {
    const QString filter = edtFilter->text().trimmed();
    for (int g = 0; g < tvwLoggers->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tvwLoggers->topLevelItem(g);
        bool any = false;
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            bool shown = filter.isEmpty();
            for (int c : {Location, Serial, Instrument, Channels}) {
                shown = shown || row->text(c).contains(filter, Qt::CaseInsensitive);
            }
            row->setHidden(!shown);
            any = any || shown;
        }
        group->setHidden(!any);
    }
}

void TfrmArchive::ShowDetailsOf(QTreeWidgetItem* row) {
    detailsRead_.reset();
    tvwDetails->clear();
    if (row == nullptr || !row->data(Location, kSerialRole).isValid()) {
        return;  // a location's row
    }
    const std::string serial = row->data(Location, kSerialRole).toString().toStdString();
    detailsRead_ = std::make_unique<run::ArchiveRead<Details>>(
        location_,
        [serial](archive::Archive& archive, const archive::Progress&) -> archive::Result<Details> {
            auto conflicts = archive.Conflicts(serial);
            if (!conflicts) {
                return conflicts.failure();
            }
            auto gaps = archive.Gaps(serial);
            if (!gaps) {
                return gaps.failure();
            }
            return Details{std::move(*conflicts), std::move(*gaps)};
        },
        [this] {
            QMetaObject::invokeMethod(this, &TfrmArchive::ShowDetails, Qt::QueuedConnection);
        });
}

void TfrmArchive::ShowDetails() {
    if (detailsRead_ == nullptr || !detailsRead_->Now().finished) {
        return;
    }
    const std::string error = detailsRead_->Now().error;
    const Details details = detailsRead_->Take().value_or(Details{});
    detailsRead_.reset();
    if (!error.empty()) {
        new QTreeWidgetItem(tvwDetails, {QStringLiteral("The archive could not be read: ") +
                                         QString::fromStdString(error)});
        return;
    }
    for (const archive::ConflictRow& c : details.conflicts) {
        new QTreeWidgetItem(
            tvwDetails, {SeriesText(c.series), QStringLiteral("conflict"), Time(c.time), QString(),
                         QStringLiteral("kept %1 (download %2), other %3 (download %4)")
                             .arg(QString::fromStdString(c.keptValue))
                             .arg(c.keptDownload)
                             .arg(QString::fromStdString(c.otherValue))
                             .arg(c.otherDownload)});
    }
    for (const archive::GapRow& g : details.gaps) {
        new QTreeWidgetItem(tvwDetails,
                            {SeriesText(g.series), QStringLiteral("gap"), Time(g.lastBefore),
                             Time(g.firstAfter), Count(g.missing) + QStringLiteral(" missing")});
    }
    if (details.conflicts.empty() && details.gaps.empty()) {
        new QTreeWidgetItem(tvwDetails, {QStringLiteral("No conflicts, no gaps")});
    }
    tvwDetails->header()->resizeSections(QHeaderView::ResizeToContents);
}

void TfrmArchive::btnGraphClick() {
    std::vector<archive::SeriesName> chosen;
    const auto add = [&chosen](const archive::SeriesName& name) {
        if (std::none_of(chosen.begin(), chosen.end(),
                         [&name](const archive::SeriesName& c) { return c.id == name.id; })) {
            chosen.push_back(name);
        }
    };
    for (QTreeWidgetItem* row : tvwLoggers->selectedItems()) {
        if (!row->data(Location, kLoggerRole).isValid() || row->isHidden()) {
            continue;
        }
        const archive::LoggerSummary& logger =
            shown_[static_cast<std::size_t>(row->data(Location, kLoggerRole).toInt())];
        const int series = row->data(Location, kSeriesRole).toInt();
        if (series >= 0) {
            add(logger.series[static_cast<std::size_t>(series)].name);
        } else {
            for (const archive::SeriesSummary& s : logger.series) {
                add(s.name);
            }
        }
    }
    if (chosen.empty() || historyRead_ != nullptr) {
        return;
    }
    ShowState(QStringLiteral("Reading %1 series...").arg(chosen.size()));
    prbLoad->setRange(0, 0);
    prbLoad->show();
    btnGraph->setEnabled(false);
    historyRead_ = std::make_unique<run::ArchiveRead<ArchiveHistory>>(
        location_,
        [chosen](archive::Archive& archive, const archive::Progress& progress) {
            return ReadHistory(archive, chosen, progress);
        },
        [this] {
            QMetaObject::invokeMethod(this, &TfrmArchive::HistoryMoved, Qt::QueuedConnection);
        });
}

void TfrmArchive::HistoryMoved() {
    if (historyRead_ == nullptr) {
        return;
    }
    const run::ReadState state = historyRead_->Now();
    ShowProgress(state);
    if (!state.finished) {
        return;
    }
    std::optional<ArchiveHistory> history = historyRead_->Take();
    historyRead_.reset();
    btnGraph->setEnabled(true);
    if (!history) {
        ShowState(QStringLiteral("The series could not be read: ") +
                  QString::fromStdString(state.error));
        return;
    }
    ShowState({});
    const auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    TfrmGraph* graph = frame != nullptr && frame->mdiArea() != nullptr
                           ? TfrmGraph::CreateIn(frame->mdiArea())
                           : new TfrmGraph;
    graph->ShowHistory(std::move(*history));
    graph->show();
    emit GraphOpened(graph);
}
