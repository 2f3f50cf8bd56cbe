#include "views/TfrmArchive.h"

#include <QColor>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <map>
#include <set>

#include "views/FitColumns.h"
#include "views/SubWindow.h"
#include "views/TfrmGraph.h"
#include "views/UtcText.h"
#include "views/WellPanel.h"

namespace {

// A logger's row and its channels' rows: the logger's serial, its index in
// shown_, and a channel's index in its series (-1 on the logger's row).
constexpr int kSerialRole = Qt::UserRole;
constexpr int kLoggerRole = Qt::UserRole + 1;
constexpr int kSeriesRole = Qt::UserRole + 2;
// A conflict's row in the details: its index in conflicts_.
constexpr int kConflictRole = Qt::UserRole + 3;

QString Count(int64_t n) {
    return QLocale(QLocale::English).toString(static_cast<qlonglong>(n));
}

// "2024-03-16 15:00:00", UTC as the archive keeps it.
QString Time(const std::optional<int64_t>& tenths) {
    return tenths ? UtcText(*tenths) : QString();
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

// The archive's words as a sentence of the window's.
QString Sentence(const std::string& words) {
    const QString text = QString::fromStdString(words);
    return text.left(1).toUpper() + text.mid(1) + QStringLiteral(".");
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

// "2024-03-16 00:00:00 to 2024-03-20 06:00:00, clock UTC+01:00, declared"
QString StayText(const archive::DeploymentRow& d) {
    QString text = d.end ? Time(d.startTime) + " to " + Time(*d.end) : "since " + Time(d.startTime);
    text += ", clock UTC" + QString::fromStdString(archive::ClockOffsetText(d.clockOffset));
    return d.declared ? text + ", declared" : text;
}

// "2 open", "3 resolved", "3, 1 open": the open ones stand out until the
// user chooses a value for each.
void ShowConflicts(QTreeWidgetItem& row, const archive::Holdings& held) {
    if (held.conflicts == 0) {
        return;
    }
    QString text;
    if (held.open == 0) {
        text = Count(held.conflicts) + " resolved";
    } else if (held.open == held.conflicts) {
        text = Count(held.open) + " open";
    } else {
        text = Count(held.conflicts) + ", " + Count(held.open) + " open";
    }
    row.setText(TfrmArchive::Conflicts, text);
    if (held.open > 0) {
        row.setForeground(TfrmArchive::Conflicts, QColor(Qt::darkRed));
    }
}

// When a download came in, in the user's own time: "2024-04-01 14:00:00".
QString LocalTime(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// "8.000 (visit1.omb, imported 2024-04-01 14:00:00)"
QString ValueText(const std::string& value, const std::string& file, int64_t imported) {
    return QString::fromStdString(value) + " (" + QString::fromStdString(file) + ", imported " +
           LocalTime(imported) + ")";
}

// Both values with their downloads, and what the record keeps.
QString ConflictText(const archive::ConflictRow& c) {
    QString text = "first " + ValueText(c.keptValue, c.keptFile, c.keptImported) + ", other " +
                   ValueText(c.otherValue, c.otherFile, c.otherImported);
    if (!c.choice) {
        return text + ": the first is kept until a value is chosen";
    }
    return text + ": keeps " + QString::fromStdString(c.choice->value) + ", chosen by " +
           QString::fromStdString(c.choice->by) + " at " + LocalTime(c.choice->at);
}

}  // namespace

TfrmArchive::TfrmArchive(std::string location, QWidget* parent)
    : QWidget(parent), location_(std::move(location)) {
    setObjectName(QStringLiteral("frmArchive"));
    setWindowTitle(QStringLiteral("Archive"));
    setAttribute(Qt::WA_DeleteOnClose);
    edtFilter = new QLineEdit(this);
    edtFilter->setObjectName(QStringLiteral("edtFilter"));
    edtFilter->setPlaceholderText(QStringLiteral("Filter: well, serial number, channel"));
    edtFilter->setClearButtonEnabled(true);
    btnGraph = new QPushButton(QStringLiteral("&Graph"), this);
    btnGraph->setObjectName(QStringLiteral("btnGraph"));
    btnGraph->setToolTip(
        QStringLiteral("The loggers or channels chosen in a Graph over their whole record"));
    btnLevelGraph = new QPushButton(QStringLiteral("Le&vel Graph"), this);
    btnLevelGraph->setObjectName(QStringLiteral("btnLevelGraph"));
    btnLevelGraph->setToolTip(QStringLiteral("The water levels of the well chosen in a Graph"));
    tvwLoggers = new QTreeWidget(this);
    tvwLoggers->setObjectName(QStringLiteral("tvwLoggers"));
    tvwLoggers->setHeaderLabels({"Well / stay", "Serial", "Instrument", "Channels", "First (UTC)",
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
    tvwDetails->setContextMenuPolicy(Qt::CustomContextMenu);
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
    pnlWell = new WellPanel(this);
    tabLists->addTab(pnlWell, QStringLiteral("W&ell"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    auto* top = new QHBoxLayout;
    top->addWidget(edtFilter, 1);
    top->addWidget(btnGraph);
    top->addWidget(btnLevelGraph);
    layout->addLayout(top);
    layout->addWidget(tabLists, 1);
    layout->addWidget(prbLoad);
    layout->addWidget(lblState);

    connect(edtFilter, &QLineEdit::textChanged, this, &TfrmArchive::ApplyFilter);
    connect(tabLists, &QTabWidget::currentChanged, this, [this] {
        if (tabLists->currentWidget() == tvwDownloads) {
            ShowDownloads();
        }
        ShowWell();
    });
    connect(tvwLoggers, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* row) {
        ShowDetailsOf(row);
        ShowWell();
    });
    connect(pnlWell, &WellPanel::FactsEdited, this, [this](const archive::WellFacts& facts) {
        const std::string well = pnlWell->Shown();
        Change(
            QStringLiteral("Keeping the facts..."), QStringLiteral("The facts could not be kept: "),
            [well, facts](archive::Archive& archive) { return archive.SetWell(well, facts); },
            [this, well] { ReadWellOf(well); });
    });
    connect(
        pnlWell, &WellPanel::DipEdited, this,
        [this](int64_t id, const std::optional<archive::DipRow>& dip) {
            const std::string well = pnlWell->Shown();
            Change(
                QStringLiteral("Keeping the dip..."), QStringLiteral("The dip could not be kept: "),
                [well, id, dip](archive::Archive& archive) {
                    return id == 0 ? archive.AddDips({{well, *dip}}) : archive.ChangeDip(id, dip);
                },
                [this, well] { ReadWellOf(well); });
        });
    connect(btnLevelGraph, &QPushButton::clicked, this, &TfrmArchive::btnLevelGraphClick);
    connect(tvwDetails, &QWidget::customContextMenuRequested, this, &TfrmArchive::ConflictMenu);
    connect(btnGraph, &QPushButton::clicked, this, &TfrmArchive::btnGraphClick);
    connect(tvwLoggers, &QTreeWidget::itemDoubleClicked, this, &TfrmArchive::btnGraphClick);
    Reload();
}

TfrmArchive::~TfrmArchive() {
    // The reads end first: their wakes post to this window.
    read_.reset();
    detailsRead_.reset();
    historyRead_.reset();
    change_.reset();
    wellRead_.reset();
    levelRead_.reset();
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
    // And the one whose details are listed stays listed.
    if (const QTreeWidgetItem* row = tvwLoggers->currentItem(); row != nullptr) {
        toList_ = row->data(Location, kSerialRole).toString();
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
        WakeTo(&TfrmArchive::ReadMoved));
}

void TfrmArchive::ReadFrom(std::string location) {
    // The reads going on end first: they read the archive at the old location.
    detailsRead_.reset();
    historyRead_.reset();
    wellRead_.reset();
    levelRead_.reset();
    btnGraph->setEnabled(true);
    btnLevelGraph->setEnabled(true);
    tvwDetails->clear();
    pnlWell->Clear();
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
        ShowState(Sentence(state.error));
    } else if (!state.error.empty()) {
        ShowState(QStringLiteral("The archive could not be read: ") +
                  QString::fromStdString(state.error));
    }
    shown_ = std::move(contents.loggers);
    ShowLoggers();
    // Listed when the tab is shown: a large office's downloads are thousands of rows.
    downloads_ = std::move(contents.downloads);
    downloadsShown_ = false;
    if (tabLists->currentWidget() == tvwDownloads) {
        ShowDownloads();
    }
    if (state.error.empty()) {
        ShowState(state.migrated.empty() ? counts_ : counts_ + ". " + Sentence(state.migrated));
    }
}

void TfrmArchive::ShowState(const QString& text) {
    lblState->setText(text);
    lblState->setToolTip(text);
}

void TfrmArchive::ShowProgress(const run::ReadState& state) {
    prbLoad->setVisible(!state.finished);
    if (state.total > 0) {
        // In whole percents: the bar paints at once on each new value, and a
        // read of many series moves it a thousand times.
        prbLoad->setRange(0, 100);
        prbLoad->setValue(static_cast<int>(state.done * 100 / state.total));
    }
}

void TfrmArchive::ShowLoggers() {
    tvwLoggers->setUpdatesEnabled(false);
    tvwLoggers->clear();
    std::map<QString, QTreeWidgetItem*> groups;  // by well
    QList<QTreeWidgetItem*> tops;
    const auto groupOf = [&groups, &tops](const std::string& well) {
        const QString name = QString::fromStdString(well).trimmed();
        QTreeWidgetItem*& group = groups[name];
        if (group == nullptr) {
            group = new QTreeWidgetItem({name});
            group->setFlags(Qt::ItemIsEnabled);
            QFont bold = group->font(Location);
            bold.setBold(true);
            group->setFont(Location, bold);
            tops << group;
        }
        return group;
    };
    int64_t samples = 0;
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        const archive::LoggerSummary& l = shown_[i];
        samples += l.held.samples;
        // A logger under each well it stayed in, a row for each stay.
        for (const archive::StaySummary& stay : l.stays) {
            QTreeWidgetItem* row = LoggerRow(i, StayText(stay.deployment), stay.held, stay.series);
            groupOf(stay.deployment.location)->addChild(row);
            row->setToolTip(Location, stay.deployment.declared
                                          ? QStringLiteral("A stay the user declared")
                                          : QStringLiteral("A stay found from the logs' location"));
        }
        if (l.stays.empty()) {
            std::vector<archive::Holdings> series;
            for (const archive::SeriesSummary& s : l.series) {
                series.push_back(s.held);
            }
            groupOf(l.location)->addChild(LoggerRow(i, QString(), l.held, series));
        }
    }
    std::sort(tops.begin(), tops.end(), [](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return a->text(Location) < b->text(Location);
    });
    tvwLoggers->addTopLevelItems(tops);
    tvwLoggers->expandToDepth(0);  // the wells open, at once: one layout, not one per well
    for (QTreeWidgetItem* group : tops) {
        group->setFirstColumnSpanned(true);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            if (toSelect_.contains(row->text(Serial))) {
                row->setSelected(true);
                tvwLoggers->scrollToItem(row);
            }
            if (!toList_.isEmpty() && row->text(Serial) == toList_) {
                tvwLoggers->setCurrentItem(row, 0, QItemSelectionModel::NoUpdate);
                toList_.clear();
            }
        }
    }
    toSelect_.clear();
    FitColumns(*tvwLoggers);
    ApplyFilter();
    tvwLoggers->setUpdatesEnabled(true);
    counts_ = Count(static_cast<int64_t>(tops.size())) + " wells, " +
              Count(static_cast<int64_t>(shown_.size())) + " loggers, " + Count(samples) +
              " samples";
}

QTreeWidgetItem* TfrmArchive::LoggerRow(std::size_t logger, const QString& stay,
                                        const archive::Holdings& held,
                                        const std::vector<archive::Holdings>& series) const {
    const archive::LoggerSummary& l = shown_[logger];
    const QString serial = QString::fromStdString(l.serial);
    auto* row = new QTreeWidgetItem(
        {stay, serial, QString::fromStdString(l.instrumentNumber).trimmed(), ChannelsText(l),
         Time(held.firstTime), Time(held.lastTime), Count(held.samples),
         l.lastDownload ? Time(*l.lastDownload * 10) : QString(), QString(),
         CountWhenAny(held.gaps)});
    row->setData(Location, kSerialRole, serial);
    row->setData(Location, kLoggerRole, static_cast<int>(logger));
    row->setData(Location, kSeriesRole, -1);
    ShowConflicts(*row, held);
    for (std::size_t k = 0; k < l.series.size() && k < series.size(); ++k) {
        auto* channel = new QTreeWidgetItem(
            row, {QString(), QString(), QString(), SeriesText(l.series[k].name),
                  Time(series[k].firstTime), Time(series[k].lastTime), Count(series[k].samples),
                  QString(), QString(), CountWhenAny(series[k].gaps)});
        channel->setData(Location, kSerialRole, serial);
        channel->setData(Location, kLoggerRole, static_cast<int>(logger));
        channel->setData(Location, kSeriesRole, static_cast<int>(k));
        ShowConflicts(*channel, series[k]);
        AlignCounts(*channel);
    }
    AlignCounts(*row);
    if (held.conflicts > 0 || held.gaps > 0) {
        row->setToolTip(Conflicts, QStringLiteral("Choose the logger to list them"));
        row->setToolTip(Gaps, QStringLiteral("Choose the logger to list them"));
    }
    return row;
}

void TfrmArchive::ShowDownloads() {
    if (downloadsShown_) {
        return;
    }
    downloadsShown_ = true;
    const std::vector<archive::DownloadRow>& downloads = downloads_;
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
    FitColumns(*tvwDownloads);
}

void TfrmArchive::ApplyFilter() {
    const QString filter = edtFilter->text().trimmed();
    for (int g = 0; g < tvwLoggers->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tvwLoggers->topLevelItem(g);
        bool any = false;
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            bool shown =
                filter.isEmpty() || group->text(Location).contains(filter, Qt::CaseInsensitive);
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
        WakeTo(&TfrmArchive::ShowDetails));
}

void TfrmArchive::ShowDetails() {
    if (detailsRead_ == nullptr || !detailsRead_->Now().finished) {
        return;
    }
    const std::string error = detailsRead_->Now().error;
    const Details details = detailsRead_->Take().value_or(Details{});
    conflicts_ = details.conflicts;
    detailsRead_.reset();
    if (!error.empty()) {
        new QTreeWidgetItem(tvwDetails, {QStringLiteral("The archive could not be read: ") +
                                         QString::fromStdString(error)});
        return;
    }
    for (std::size_t i = 0; i < details.conflicts.size(); ++i) {
        const archive::ConflictRow& c = details.conflicts[i];
        auto* row = new QTreeWidgetItem(tvwDetails, {SeriesText(c.series),
                                                     c.choice ? QStringLiteral("conflict, resolved")
                                                              : QStringLiteral("conflict, open"),
                                                     Time(c.time), QString(), ConflictText(c)});
        row->setData(0, kConflictRole, static_cast<int>(i));
        row->setToolTip(4, QStringLiteral("Right-click to choose the value the record keeps"));
        if (!c.choice) {
            row->setForeground(1, QColor(Qt::darkRed));
        }
    }
    for (const archive::GapRow& g : details.gaps) {
        new QTreeWidgetItem(tvwDetails,
                            {SeriesText(g.series), QStringLiteral("gap"), Time(g.lastBefore),
                             Time(g.firstAfter), Count(g.missing) + QStringLiteral(" missing")});
    }
    if (details.conflicts.empty() && details.gaps.empty()) {
        new QTreeWidgetItem(tvwDetails, {QStringLiteral("No conflicts, no gaps")});
    }
    FitColumns(*tvwDetails);
}

void TfrmArchive::btnGraphClick() {
    // In the loggers' and channels' order, each once, whichever stays' rows were chosen.
    std::set<std::pair<std::size_t, std::size_t>> picked;
    for (QTreeWidgetItem* row : tvwLoggers->selectedItems()) {
        if (!row->data(Location, kLoggerRole).isValid() || row->isHidden()) {
            continue;
        }
        const auto logger = static_cast<std::size_t>(row->data(Location, kLoggerRole).toInt());
        const int series = row->data(Location, kSeriesRole).toInt();
        for (std::size_t k = 0; k < shown_[logger].series.size(); ++k) {
            if (series < 0 || static_cast<std::size_t>(series) == k) {
                picked.emplace(logger, k);
            }
        }
    }
    std::vector<archive::SeriesName> chosen;
    for (const auto& [logger, k] : picked) {
        chosen.push_back(shown_[logger].series[k].name);
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
        WakeTo(&TfrmArchive::HistoryMoved));
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
    TfrmGraph* graph = OpenGraph();
    graph->ShowHistory(std::move(*history));
    graph->show();
    emit GraphOpened(graph);
}

TfrmGraph* TfrmArchive::OpenGraph() {
    const auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    return frame != nullptr && frame->mdiArea() != nullptr ? TfrmGraph::CreateIn(frame->mdiArea())
                                                           : new TfrmGraph;
}

void TfrmArchive::ConflictMenu(const QPoint& at) {
    const QTreeWidgetItem* row = tvwDetails->itemAt(at);
    if (row == nullptr || !row->data(0, kConflictRole).isValid() || change_ != nullptr) {
        return;
    }
    const int index = row->data(0, kConflictRole).toInt();
    const archive::ConflictRow& c = conflicts_[static_cast<std::size_t>(index)];
    using Kind = archive::Keep::Kind;
    QMenu menu(this);
    const QAction* first =
        menu.addAction("Keep the &first value, " + QString::fromStdString(c.keptValue));
    const QAction* other =
        menu.addAction("Keep the &other value, " + QString::fromStdString(c.otherValue));
    if (c.choice) {
        menu.addAction(QStringLiteral("&Take the choice back"));  // the first value again, open
    }
    const QAction* chosen = menu.exec(tvwDetails->viewport()->mapToGlobal(at));
    if (chosen != nullptr) {
        ResolveConflict(index, {chosen == first   ? Kind::First
                                : chosen == other ? Kind::Other
                                                  : Kind::None,
                                0});
    }
}

void TfrmArchive::ResolveConflict(int index, const archive::Keep& keep) {
    if (index < 0 || static_cast<std::size_t>(index) >= conflicts_.size()) {
        return;
    }
    const archive::ConflictRow c = conflicts_[static_cast<std::size_t>(index)];
    Change(
        QStringLiteral("Keeping the choice..."), QStringLiteral("The choice could not be kept: "),
        [c, keep](archive::Archive& archive) { return archive.Resolve(c.series, c.time, keep); },
        // The counts and the conflicts listed follow the choice.
        [this] { Reload(); });
}

std::function<void()> TfrmArchive::WakeTo(void (TfrmArchive::*moved)()) {
    return [this, moved] { QMetaObject::invokeMethod(this, moved, Qt::QueuedConnection); };
}

void TfrmArchive::Change(const QString& doing, const QString& failed,
                         std::function<archive::Result<void>(archive::Archive&)> change,
                         std::function<void()> after) {
    changes_.push_back({doing, failed, std::move(change), std::move(after), location_});
    if (change_ == nullptr) {
        StartChange();
    }
}

void TfrmArchive::StartChange() {
    const Pending& next = changes_.front();
    ShowState(next.doing);
    change_ = std::make_unique<run::ArchiveRead<bool>>(
        next.location,
        [change = next.change](archive::Archive& archive,
                               const archive::Progress&) -> archive::Result<bool> {
            const archive::Result<void> done = change(archive);
            if (!done) {
                return done.failure();
            }
            return true;
        },
        WakeTo(&TfrmArchive::ChangeMoved));
}

void TfrmArchive::ChangeMoved() {
    if (change_ == nullptr || !change_->Now().finished) {
        return;
    }
    const std::string error = change_->Now().error;
    change_.reset();
    const Pending done = std::move(changes_.front());
    changes_.pop_front();
    ShowState(error.empty() ? counts_ : done.failed + QString::fromStdString(error));
    // Read again either way: a change refused shows what is kept.
    done.after();
    if (!changes_.empty()) {
        StartChange();
    }
}

std::string TfrmArchive::CurrentWell() const {
    const QTreeWidgetItem* row = tvwLoggers->currentItem();
    while (row != nullptr && row->parent() != nullptr) {
        row = row->parent();
    }
    return row != nullptr ? row->text(Location).toStdString() : std::string();
}

void TfrmArchive::ShowWell() {
    if (tabLists->currentWidget() != pnlWell) {
        return;
    }
    const std::string well = CurrentWell();
    if (well.empty()) {
        pnlWell->Clear();
    } else if (well != pnlWell->Shown()) {
        ReadWellOf(well);
    }
}

std::unique_ptr<run::ArchiveRead<WellView>> TfrmArchive::ReadingWell(const std::string& well,
                                                                     void (TfrmArchive::*moved)()) {
    return std::make_unique<run::ArchiveRead<WellView>>(
        location_,
        [well](archive::Archive& archive, const archive::Progress&) {
            return ReadWell(archive, well);
        },
        WakeTo(moved));
}

void TfrmArchive::ReadWellOf(const std::string& well) {
    wellRead_ = ReadingWell(well, &TfrmArchive::WellMoved);
}

void TfrmArchive::WellMoved() {
    if (wellRead_ == nullptr || !wellRead_->Now().finished) {
        return;
    }
    const std::string error = wellRead_->Now().error;
    std::optional<WellView> view = wellRead_->Take();
    wellRead_.reset();
    if (!view) {
        pnlWell->Clear(QStringLiteral("The well could not be read: ") +
                       QString::fromStdString(error));
        return;
    }
    pnlWell->Show(*view);
    // What is shown of the well follows its facts.
    for (const QPointer<TfrmGraph>& graph : levelGraphs_) {
        if (graph && graph->LevelsOf() == view->well.name) {
            graph->ShowLevels(*view);
        }
    }
}

void TfrmArchive::btnLevelGraphClick() {
    const std::string well = CurrentWell();
    if (well.empty()) {
        ShowState(QStringLiteral("Choose a well for its levels."));
        return;
    }
    if (levelRead_ != nullptr) {
        return;
    }
    ShowState(QStringLiteral("Computing the levels of ") + QString::fromStdString(well) +
              QStringLiteral("..."));
    prbLoad->setRange(0, 0);
    prbLoad->show();
    btnLevelGraph->setEnabled(false);
    levelRead_ = ReadingWell(well, &TfrmArchive::LevelsMoved);
}

void TfrmArchive::LevelsMoved() {
    if (levelRead_ == nullptr || !levelRead_->Now().finished) {
        return;
    }
    const run::ReadState state = levelRead_->Now();
    ShowProgress(state);
    std::optional<WellView> view = levelRead_->Take();
    levelRead_.reset();
    btnLevelGraph->setEnabled(true);
    if (!view) {
        ShowState(QStringLiteral("The well could not be read: ") +
                  QString::fromStdString(state.error));
        return;
    }
    if (!view->levels) {
        ShowState(Sentence(view->why));
        return;
    }
    ShowState({});
    TfrmGraph* graph = OpenGraph();
    graph->ShowLevels(std::move(*view));
    graph->show();
    levelGraphs_.emplace_back(graph);
    std::erase_if(levelGraphs_, [](const QPointer<TfrmGraph>& g) { return g.isNull(); });
    emit GraphOpened(graph);
}
