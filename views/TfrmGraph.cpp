#include "views/TfrmGraph.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iterator>

#include "archive/Exports.h"
#include "archive/SeriesCsv.h"
#include "datafile/StagedFile.h"
#include "graph/HistoryTraces.h"
#include "graph/LevelTraces.h"
#include "graph/LogPlot.h"
#include "views/SubWindow.h"
#include "widgets/Prompts.h"

TfrmGraph::TfrmGraph(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmGraph"));
    setWindowTitle(QStringLiteral("Graph"));
    setAttribute(Qt::WA_DeleteOnClose);
    plotLog = new LogPlot(this);
    lblReadout = new QLabel(this);
    lblReadout->setObjectName(QStringLiteral("lblReadout"));
    lblReadout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hint_ = new QLabel(
        QStringLiteral("Wheel: zoom time   Drag: pan   Right-drag or Shift-drag: zoom to a "
                       "rectangle   Home: whole log   Click: select the row in the grid"),
        this);
    hint_->setWordWrap(true);
    cboLevelAxis = new QComboBox(this);
    cboLevelAxis->setObjectName(QStringLiteral("cboLevelAxis"));
    // In the order of level::Quantity.
    cboLevelAxis->addItems({QStringLiteral("Level above the datum"),
                            QStringLiteral("Depth below the reference point"),
                            QStringLiteral("Water column above the sensor")});
    cboLength = new QComboBox(this);
    cboLength->setObjectName(QStringLiteral("cboLength"));
    for (const LengthUnit& unit : LengthUnits()) {
        cboLength->addItem(QString::fromLatin1(unit.name));
    }
    auto* view = new QHBoxLayout;
    view->addWidget(cboLevelAxis);
    view->addWidget(cboLength);
    view->addStretch(1);
    cboLevelAxis->hide();
    cboLength->hide();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(view);
    layout->addWidget(plotLog, 1);
    layout->addWidget(lblReadout);
    layout->addWidget(hint_);
    connect(plotLog, &LogPlot::SampleHovered, this, &TfrmGraph::ShowReadout);
    for (QComboBox* choice : {cboLevelAxis, cboLength}) {
        connect(choice, &QComboBox::currentIndexChanged, this, [this] { DrawLevels(true); });
    }
    connect(plotLog, &LogPlot::SampleClicked, this, [this](int index) {
        MarkSample(index);
        emit SampleClicked(index);
    });
}

TfrmGraph::~TfrmGraph() = default;

TfrmGraph* TfrmGraph::CreateIn(QMdiArea* area) {
    auto* form = new TfrmGraph;
    // Whole in view: the time axis and the readout are at the bottom.
    ShowWholeIn(area, form, QSize(760, 520));
    return form;
}

void TfrmGraph::ShowLog(const DeviceLog& log, const QString& title) {
    setWindowTitle(QStringLiteral("Graph - ") + title);
    plotLog->SetLog(log);
    lblReadout->clear();
}

void TfrmGraph::ShowHistory(archive::History history) {
    history_ = std::make_unique<archive::History>(std::move(history));
    const std::string title = "Archive: " + archive::HistoryTitle(*history_);
    setWindowTitle(QStringLiteral("Graph - ") + QString::fromStdString(title));
    plotLog->SetTraces(title, HistoryTraces(*history_), HistoryLines(*history_));
    lblReadout->clear();
    hint_->setText(QStringLiteral(
        "Wheel: zoom time   Drag: pan   Right-drag or Shift-drag: zoom to a rectangle   Home: "
        "whole record   Dotted line: the logger moved   Red circle: a conflict   File > Export: "
        "the span shown as CSV"));
}

void TfrmGraph::ShowLevels(archive::WellView levels) {
    const bool again = levels_ != nullptr;
    levels_ = std::make_unique<archive::WellView>(std::move(levels));
    setWindowTitle(QStringLiteral("Graph - ") +
                   QString::fromStdString(LevelTitle(levels_->well.name)));
    cboLevelAxis->show();
    cboLength->show();
    DrawLevels(again);
    hint_->setText(QStringLiteral(
        "Wheel: zoom time   Drag: pan   Right-drag or Shift-drag: zoom to a rectangle   Home: "
        "whole record   Diamond: a dip, its residual in the readout   File > Export: the levels "
        "of the span shown as CSV"));
}

void TfrmGraph::DrawLevels(bool keepSpan) {
    if (!levels_) {
        return;
    }
    const QCPRange span = plotLog->TimeShown();
    const auto quantity = static_cast<level::Quantity>(std::max(cboLevelAxis->currentIndex(), 0));
    const std::span<const LengthUnit> units = LengthUnits();
    const auto unit = static_cast<std::size_t>(
        std::clamp(cboLength->currentIndex(), 0, static_cast<int>(units.size()) - 1));
    const std::optional<archive::WellLevels>& levels = levels_->levels;
    plotLog->SetTraces(LevelTitle(levels_->well.name),
                       levels ? LevelTraces(levels->inputs, levels->levels, quantity, units[unit])
                              : std::vector<PlotTrace>{});
    if (keepSpan && plotLog->axisRectCount() > 0) {
        plotLog->axisRect(0)->axis(QCPAxis::atBottom)->setRange(span);
        plotLog->replot();
    }
    lblReadout->setText(levels_->why.empty() ? QString() : QString::fromStdString(levels_->why));
}

void TfrmGraph::MarkSample(int index) {
    plotLog->MarkSample(index);
    ShowReadout(index);
}

void TfrmGraph::ShowReadout(int index) {
    lblReadout->setText(plotLog->Readout(index));
}

std::vector<TfrmGraph::ExportFormat> TfrmGraph::ExportFormats() const {
    std::vector<ExportFormat> formats;
    for (const PictureFormat& format : PictureFormats()) {
        formats.push_back({QString::fromLatin1(format.extension),
                           QString::fromLatin1(format.filter), Kind::Picture});
    }
    if (history_ || levels_) {
        formats.push_back({QStringLiteral("csv"),
                           history_ ? QStringLiteral("Archive CSV (*.csv)")
                                    : QStringLiteral("Levels CSV (*.csv)"),
                           Kind::Span});
        if (levels_ || history_->series.size() == 1) {
            formats.push_back(
                {QStringLiteral("csv"), QStringLiteral("CSV for pandas (*.csv)"), Kind::Pandas});
        }
        formats.push_back(
            {QStringLiteral("xml"), QStringLiteral("WaterML 2.0 (*.xml)"), Kind::WaterMl});
    }
    return formats;
}

QString TfrmGraph::ExportThroughDialog(QWidget* owner, const QString& initialDirectory,
                                       const QString& fileName) {
    const std::vector<ExportFormat> formats = ExportFormats();
    Prompter::SaveRequest request;
    request.initialDirectory = initialDirectory;
    request.fileName = fileName;
    for (const ExportFormat& format : formats) {
        request.filters << format.filter;
    }
    const int count = static_cast<int>(formats.size());
    request.selectedFilter = std::clamp(filterIndex_, 1, count);
    const Prompter::SaveResult choice = Prompts().SaveFile(owner, request);
    if (!choice.accepted) {
        return {};
    }
    filterIndex_ = std::clamp(choice.filterIndex, 1, count);
    const ExportFormat& chosen = formats[static_cast<std::size_t>(filterIndex_ - 1)];
    QString path = choice.path;
    const QString suffix = QFileInfo(path).suffix().toLower();
    // The filter chosen, unless the name typed asks for another layout by its extension.
    const ExportFormat* format = &chosen;
    if (suffix != chosen.extension) {
        const auto named =
            std::find_if(formats.begin(), formats.end(),
                         [&suffix](const ExportFormat& f) { return f.extension == suffix; });
        if (named != formats.end()) {
            format = &*named;
        } else {
            path += QStringLiteral(".") + chosen.extension;
            if (!MayReplace(owner, path)) {
                return {};
            }
        }
    }
    bool written = false;
    switch (format->kind) {
        case Kind::Picture:
            written = ExportPicture(path);
            break;
        case Kind::Span:
            written = ExportSpan(path);
            break;
        case Kind::Pandas:
            written = ExportSeries(path, false);
            break;
        case Kind::WaterMl:
            written = ExportSeries(path, true);
            break;
    }
    return written ? path : QString();
}

bool TfrmGraph::ExportPicture(const QString& path) {
    if (plotLog->SavePicture(path)) {
        return true;
    }
    ReportExportError(window(), path);
    return false;
}

std::pair<int64_t, int64_t> TfrmGraph::SpanShown() const {
    const QCPRange shown = plotLog->TimeShown();
    return {static_cast<int64_t>(std::ceil(shown.lower * 10)),
            static_cast<int64_t>(std::floor(shown.upper * 10))};
}

namespace {

// The file written, or "Export File Error".
bool Written(QWidget* owner, const QString& path, const std::string& text) {
    const int error = WriteWholeFile(QFile::encodeName(path).toStdString(), text);
    if (error == 0) {
        return true;
    }
    ReportExportError(owner, path, error);
    return false;
}

}  // namespace

bool TfrmGraph::ExportSpan(const QString& path) {
    const auto [first, last] = SpanShown();
    std::string text;
    if (history_) {
        text = archive::HistoryCsv(*history_, first, last);
    } else if (levels_ && levels_->levels) {
        text = archive::LevelCsv(levels_->levels->levels, first, last);
    }
    return Written(window(), path, text);
}

bool TfrmGraph::ExportSeries(const QString& path, bool waterMl) {
    const auto [first, last] = SpanShown();
    std::vector<archive::ExportSeries> series;
    if (levels_ && levels_->levels) {
        series.push_back(archive::LevelExport(
            *levels_->levels, levels_->well.name,
            static_cast<level::Quantity>(std::max(cboLevelAxis->currentIndex(), 0)), first, last));
    } else if (history_) {
        for (std::size_t i = 0; i < history_->series.size(); ++i) {
            const auto& samples = history_->samples[i];
            std::vector<archive::StoredSample> shown;
            std::copy_if(samples.begin(), samples.end(), std::back_inserter(shown),
                         [first, last](const archive::StoredSample& s) {
                             return s.time >= first && s.time <= last;
                         });
            series.push_back(archive::SeriesExport(history_->series[i], shown));
        }
    }
    if (series.empty() || (!waterMl && series.size() != 1)) {
        return false;
    }
    return Written(window(), path,
                   waterMl ? archive::WaterMl(series, std::time(nullptr))
                           : archive::PandasCsv(series.front()));
}
