#include "views/TfrmArchive.h"

#include <QColor>
#include <QDateTime>
#include <QLineEdit>
#include <QLocale>
#include <QTreeWidget>

#include <algorithm>
#include <map>

#include "device/Tenths.h"
#include "views/FitColumns.h"
#include "views/UtcText.h"

namespace {

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

QString CountWhenAny(int64_t n) {
    return n > 0 ? Count(n) : QString();
}

void AlignCounts(QTreeWidgetItem& row, std::initializer_list<int> columns) {
    for (int c : columns) {
        row.setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void AlignCounts(QTreeWidgetItem& row) {
    AlignCounts(row, {TfrmArchive::kSamples, TfrmArchive::kConflicts, TfrmArchive::kGaps});
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
    row.setText(TfrmArchive::kConflicts, text);
    if (held.open > 0) {
        row.setForeground(TfrmArchive::kConflicts, QColor(Qt::darkRed));
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
            QFont bold = group->font(kLocation);
            bold.setBold(true);
            group->setFont(kLocation, bold);
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
            row->setToolTip(kLocation,
                            stay.deployment.declared
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
        return a->text(kLocation) < b->text(kLocation);
    });
    tvwLoggers->addTopLevelItems(tops);
    tvwLoggers->expandToDepth(0);  // the wells open, at once: one layout, not one per well
    for (QTreeWidgetItem* group : tops) {
        group->setFirstColumnSpanned(true);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* row = group->child(i);
            if (toSelect_.contains(row->text(kSerial))) {
                row->setSelected(true);
                tvwLoggers->scrollToItem(row);
            }
            if (!toList_.isEmpty() && row->text(kSerial) == toList_) {
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
         l.lastDownload ? Time(Tenths::OfSeconds(*l.lastDownload).count()) : QString(), QString(),
         CountWhenAny(held.gaps)});
    row->setData(kLocation, kSerialRole, serial);
    row->setData(kLocation, kLoggerRole, static_cast<int>(logger));
    row->setData(kLocation, kSeriesRole, -1);
    ShowConflicts(*row, held);
    for (std::size_t k = 0; k < l.series.size() && k < series.size(); ++k) {
        auto* channel = new QTreeWidgetItem(
            row, {QString(), QString(), QString(), SeriesText(l.series[k].name),
                  Time(series[k].firstTime), Time(series[k].lastTime), Count(series[k].samples),
                  QString(), QString(), CountWhenAny(series[k].gaps)});
        channel->setData(kLocation, kSerialRole, serial);
        channel->setData(kLocation, kLoggerRole, static_cast<int>(logger));
        channel->setData(kLocation, kSeriesRole, static_cast<int>(k));
        ShowConflicts(*channel, series[k]);
        AlignCounts(*channel);
    }
    AlignCounts(*row);
    if (held.conflicts > 0 || held.gaps > 0) {
        row->setToolTip(kConflicts, QStringLiteral("Choose the logger to list them"));
        row->setToolTip(kGaps, QStringLiteral("Choose the logger to list them"));
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
        AlignCounts(*row, {kNew, kRepeated, kConflicting});
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
                filter.isEmpty() || group->text(kLocation).contains(filter, Qt::CaseInsensitive);
            for (int c : {kLocation, kSerial, kInstrument, kChannels}) {
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
    if (row == nullptr || !row->data(kLocation, kSerialRole).isValid()) {
        return;  // a location's row
    }
    const std::string serial = row->data(kLocation, kSerialRole).toString().toStdString();
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
