#include "views/TfrmGraph.h"

#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "graph/LogPlot.h"
#include "views/Prompts.h"

TfrmGraph::TfrmGraph(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("frmGraph"));
    setWindowTitle(QStringLiteral("Graph"));
    setAttribute(Qt::WA_DeleteOnClose);
    plotLog = new LogPlot(this);
    lblReadout = new QLabel(this);
    lblReadout->setObjectName(QStringLiteral("lblReadout"));
    lblReadout->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hint = new QLabel(
        QStringLiteral("Wheel: zoom time   Drag: pan   Right-drag or Shift-drag: zoom to a "
                       "rectangle   Home: whole log   Click: select the row in the grid"),
        this);
    hint->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(plotLog, 1);
    layout->addWidget(lblReadout);
    layout->addWidget(hint);
    connect(plotLog, &LogPlot::SampleHovered, this, &TfrmGraph::ShowReadout);
    connect(plotLog, &LogPlot::SampleClicked, this, [this](int index) {
        MarkSample(index);
        emit SampleClicked(index);
    });
}

TfrmGraph* TfrmGraph::CreateIn(QMdiArea* area) {
    auto* form = new TfrmGraph;
    QMdiSubWindow* frame = area->addSubWindow(form);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    // Whole within the area, wherever the area places it: the time axis and
    // the readout are at the bottom.
    const QRect room = area->viewport()->rect();
    frame->resize(QSize(760, 520).boundedTo(room.size()));
    frame->show();
    frame->move(std::clamp(frame->x(), 0, room.width() - frame->width()),
                std::clamp(frame->y(), 0, room.height() - frame->height()));
    return form;
}

void TfrmGraph::ShowLog(const DeviceLog& log, const QString& title) {
    setWindowTitle(QStringLiteral("Graph - ") + title);
    plotLog->SetLog(log);
    lblReadout->clear();
}

void TfrmGraph::MarkSample(int index) {
    plotLog->MarkSample(index);
    ShowReadout(index);
}

void TfrmGraph::ShowReadout(int index) {
    lblReadout->setText(plotLog->Readout(index));
}

QString TfrmGraph::ExportThroughDialog(QWidget* owner, const QString& initialDirectory,
                                       const QString& fileName) {
    Prompter::SaveRequest request;
    request.initialDirectory = initialDirectory;
    request.fileName = fileName;
    for (const PictureFormat& format : PictureFormats()) {
        request.filters << QString::fromLatin1(format.filter);
    }
    request.selectedFilter = filterIndex_;
    const Prompter::SaveResult choice = Prompts().SaveFile(owner, request);
    if (!choice.accepted) {
        return {};
    }
    filterIndex_ = choice.filterIndex;
    QString path = choice.path;
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (std::none_of(
            PictureFormats().begin(), PictureFormats().end(),
            [&suffix](const PictureFormat& format) { return suffix == format.extension; })) {
        const std::span<const PictureFormat> formats = PictureFormats();
        const int count = static_cast<int>(formats.size());
        path += QStringLiteral(".") + formats[std::clamp(filterIndex_, 1, count) - 1].extension;
        if (!MayReplace(owner, path)) {
            return {};
        }
    }
    return ExportPicture(path) ? path : QString();
}

bool TfrmGraph::ExportPicture(const QString& path) {
    if (plotLog->SavePicture(path)) {
        return true;
    }
    ReportExportError(window(), path);
    return false;
}
