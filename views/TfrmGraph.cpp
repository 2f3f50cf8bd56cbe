#include "views/TfrmGraph.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "archive/SeriesCsv.h"
#include "datafile/StagedFile.h"
#include "graph/LevelTraces.h"
#include "graph/LogPlot.h"
#include "views/Prompts.h"
#include "views/SubWindow.h"

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
    // In the order of LevelAxis.
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

void TfrmGraph::ShowHistory(ArchiveHistory history) {
    history_ = std::make_unique<ArchiveHistory>(std::move(history));
    const std::string title = "Archive: " + HistoryTitle(*history_);
    setWindowTitle(QStringLiteral("Graph - ") + QString::fromStdString(title));
    plotLog->SetTraces(title, HistoryTraces(*history_), HistoryLines(*history_));
    lblReadout->clear();
    hint_->setText(QStringLiteral(
        "Wheel: zoom time   Drag: pan   Right-drag or Shift-drag: zoom to a rectangle   Home: "
        "whole record   Dotted line: the logger moved   Red circle: a conflict   File > Export: "
        "the span shown as CSV"));
}

void TfrmGraph::ShowLevels(WellView levels) {
    const bool again = levels_ != nullptr;
    levels_ = std::make_unique<WellView>(std::move(levels));
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
    const auto axis = static_cast<LevelAxis>(std::max(cboLevelAxis->currentIndex(), 0));
    const std::span<const LengthUnit> units = LengthUnits();
    const auto unit = static_cast<std::size_t>(
        std::clamp(cboLength->currentIndex(), 0, static_cast<int>(units.size()) - 1));
    const std::optional<archive::WellLevels>& levels = levels_->levels;
    plotLog->SetTraces(LevelTitle(levels_->well.name),
                       levels ? LevelTraces(levels->inputs, levels->levels, axis, units[unit])
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

std::vector<std::pair<QString, QString>> TfrmGraph::ExportFormats() const {
    std::vector<std::pair<QString, QString>> formats;
    for (const PictureFormat& format : PictureFormats()) {
        formats.emplace_back(QString::fromLatin1(format.extension),
                             QString::fromLatin1(format.filter));
    }
    if (history_) {
        formats.emplace_back(QStringLiteral("csv"), QStringLiteral("Archive CSV (*.csv)"));
    } else if (levels_) {
        formats.emplace_back(QStringLiteral("csv"), QStringLiteral("Levels CSV (*.csv)"));
    }
    return formats;
}

QString TfrmGraph::ExportThroughDialog(QWidget* owner, const QString& initialDirectory,
                                       const QString& fileName) {
    const std::vector<std::pair<QString, QString>> formats = ExportFormats();
    Prompter::SaveRequest request;
    request.initialDirectory = initialDirectory;
    request.fileName = fileName;
    for (const auto& [extension, filter] : formats) {
        request.filters << filter;
    }
    const int count = static_cast<int>(formats.size());
    request.selectedFilter = std::clamp(filterIndex_, 1, count);
    const Prompter::SaveResult choice = Prompts().SaveFile(owner, request);
    if (!choice.accepted) {
        return {};
    }
    filterIndex_ = choice.filterIndex;
    QString path = choice.path;
    QString suffix = QFileInfo(path).suffix().toLower();
    if (std::none_of(formats.begin(), formats.end(),
                     [&suffix](const auto& format) { return suffix == format.first; })) {
        suffix = formats[static_cast<std::size_t>(std::clamp(filterIndex_, 1, count) - 1)].first;
        path += QStringLiteral(".") + suffix;
        if (!MayReplace(owner, path)) {
            return {};
        }
    }
    const bool written = suffix == QLatin1String("csv") ? ExportSpan(path) : ExportPicture(path);
    return written ? path : QString();
}

bool TfrmGraph::ExportPicture(const QString& path) {
    if (plotLog->SavePicture(path)) {
        return true;
    }
    ReportExportError(window(), path);
    return false;
}

bool TfrmGraph::ExportSpan(const QString& path) {
    const QCPRange shown = plotLog->TimeShown();
    const auto first = static_cast<int64_t>(std::ceil(shown.lower * 10));
    const auto last = static_cast<int64_t>(std::floor(shown.upper * 10));
    std::string text;
    if (history_) {
        text = HistoryCsv(*history_, first, last);
    } else if (levels_ && levels_->levels) {
        text = archive::LevelCsv(levels_->levels->levels, first, last);
    }
    const int error = WriteWholeFile(QFile::encodeName(path).toStdString(), text);
    if (error == 0) {
        return true;
    }
    ReportExportError(window(), path, error);
    return false;
}
