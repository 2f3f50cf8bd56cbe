#include "views/TfrmArchive.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <set>

#include "views/SubWindow.h"
#include "views/TfrmGraph.h"
#include "views/WellPanel.h"

namespace {

// The archive's words as a sentence of the window's.
QString Sentence(const std::string& words) {
    const QString text = QString::fromStdString(words);
    return text.left(1).toUpper() + text.mid(1) + QStringLiteral(".");
}

}  // namespace

TfrmArchive::TfrmArchive(std::string location, QWidget* parent)
    : QWidget(parent), location_(std::move(location)) {
    setObjectName(QStringLiteral("frmArchive"));
    setWindowTitle(QStringLiteral("Archive"));
    setAttribute(Qt::WA_DeleteOnClose);
    MakeControls();
    LayOut();
    ConnectControls();
    Reload();
}

void TfrmArchive::MakeControls() {
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
}

void TfrmArchive::LayOut() {
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
}

void TfrmArchive::ConnectControls() {
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
        toSelect_.insert(row->data(kLocation, kSerialRole).toString());
    }
    // And the one whose details are listed stays listed.
    if (const QTreeWidgetItem* row = tvwLoggers->currentItem(); row != nullptr) {
        toList_ = row->data(kLocation, kSerialRole).toString();
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

void TfrmArchive::btnGraphClick() {
    // In the loggers' and channels' order, each once, whichever stays' rows were chosen.
    std::set<std::pair<std::size_t, std::size_t>> picked;
    for (QTreeWidgetItem* row : tvwLoggers->selectedItems()) {
        if (!row->data(kLocation, kLoggerRole).isValid() || row->isHidden()) {
            continue;
        }
        const auto logger = static_cast<std::size_t>(row->data(kLocation, kLoggerRole).toInt());
        const int series = row->data(kLocation, kSeriesRole).toInt();
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
    historyRead_ = std::make_unique<run::ArchiveRead<archive::History>>(
        location_,
        [chosen](archive::Archive& archive, const archive::Progress& progress) {
            return archive::ReadHistory(archive, chosen, progress);
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
    std::optional<archive::History> history = historyRead_->Take();
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
    return row != nullptr ? row->text(kLocation).toStdString() : std::string();
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

std::unique_ptr<run::ArchiveRead<archive::WellView>> TfrmArchive::ReadingWell(
    const std::string& well, void (TfrmArchive::*moved)()) {
    return std::make_unique<run::ArchiveRead<archive::WellView>>(
        location_,
        [well](archive::Archive& archive, const archive::Progress&) {
            return archive::ReadWell(archive, well);
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
    std::optional<archive::WellView> view = wellRead_->Take();
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
    std::optional<archive::WellView> view = levelRead_->Take();
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
