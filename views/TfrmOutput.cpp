#include "views/TfrmOutput.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QStyleOptionHeader>
#include <QStylePainter>
#include <QTabBar>
#include <QTableView>
#include <algorithm>
#include <string>

#include "archive/SeriesCsv.h"
#include "datafile/StagedFile.h"
#include "device/DeviceMessages.h"
#include "device/FixedText.h"

namespace {

// A grid's "YYYY/MM/DD ,HH:MM:SS.t": the date before the blank and comma,
// the ten characters of the time after the comma.
std::pair<std::string, std::string> DateAndTime(const std::string& dateTime) {
    const std::size_t p = dateTime.find(',');
    if (p == std::string::npos) {
        return {};
    }
    return {dateTime.substr(0, p > 0 ? p - 1 : 0), dateTime.substr(p + 1, 10)};
}

constexpr int kEditHeight = 21;
constexpr int kDateTimeWidth = 180;
constexpr int kColumnWidth = 100;
constexpr int kHeaderFieldWidth = 145;
constexpr int kRowHeight = 15;

class BusyCursor {
  public:
    BusyCursor() { Prompts().SetBusyCursor(true); }
    ~BusyCursor() { Prompts().SetBusyCursor(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    // As high as the edits, so that label and edit texts share a line.
    label->setMinimumHeight(kEditHeight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int left, int top, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(left, top, width, kEditHeight);
    // Shows the log; what is typed here would change nothing.
    edit->setReadOnly(true);
    QFont font(QStringLiteral("Times New Roman"));
    font.setPointSizeF(edit->font().pointSizeF());
    edit->setFont(font);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    edit->setPalette(palette);
    return edit;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QString& title, QRect geometry) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(name);
    group->setGeometry(geometry);
    return group;
}

// The value of a channel position: its header, or that of a fresh channel
// where the header announces more channels than the log holds (as the data
// file is written).
const ChannelHeader& ChannelHeaderAt(const DeviceLog& log, int index) {
    static const LogChannel fresh;
    const LogChannel* channel = log.channel(index);
    return channel ? channel->header() : fresh.header();
}

// The height of the tabs in the bar's style, known before the first tab exists.
int TabBarHeight(const QTabBar& bar) {
    QTabBar probe;
    probe.setFont(bar.font());
    probe.addTab(QStringLiteral("X"));
    return probe.sizeHint().height();
}

}  // namespace

QString SampleModeName(const LogHeader& header) {
    return Latin1(header.sampleModeName());
}

Prompter::SaveResult ExportDialog::Execute(QWidget* owner, const QString& initialDirectory,
                                           const QString& fileName) {
    Prompter::SaveRequest request;
    request.initialDirectory = initialDirectory;
    request.fileName = fileName;
    request.filters = {QStringLiteral("Ombrel File (*.omb)"),
                       QStringLiteral("Comma Seperated File (*.csv)"),
                       QStringLiteral("CSV with column titles (*.csv)")};
    request.selectedFilter = filterIndex_;
    Prompter::SaveResult result = Prompts().SaveFile(owner, request);
    if (result.accepted) {
        filterIndex_ = result.filterIndex;
    }
    return result;
}

TfrmOutput::TfrmOutput(platform::WindowHandle mainWindow, QWidget* parent)
    : QWidget(parent), mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("frmOutput"));
    setWindowTitle(QStringLiteral("Data"));
    // The designed size; larger (maximised) the grid takes the room.
    setMinimumSize(602, 539);
    resize(minimumSize());
    // The small dialog font the positions below were laid out for.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    MakeInstrumentInfo();
    MakeChannelInfo();
    MakeGrid();
}

void TfrmOutput::MakeInstrumentInfo() {
    gboHeader = MakeGroup(this, "gboHeader", "Instrument Info", {8, 8, 585, 121});
    lblSerialNum = MakeLabel(gboHeader, "lblSerialNum", "Serial Number:", 16, 24);
    txtSerialNum = MakeEdit(gboHeader, "txtSerialNum", 128, 24, kHeaderFieldWidth);
    lblInstrNum = MakeLabel(gboHeader, "lblInstrNum", "Instrument Number:", 16, 56);
    txtinstrNum = MakeEdit(this, "txtinstrNum", 136, 64, kHeaderFieldWidth);
    lblLocation = MakeLabel(gboHeader, "lblLocation", "Location:", 16, 88);
    txtLocation = MakeEdit(this, "txtLocation", 136, 96, kHeaderFieldWidth);
    lblSampleRate = MakeLabel(gboHeader, "lblSampleRate", "Sample Rate:", 320, 24);
    txtSampleRate = MakeEdit(this, "txtSampleRate", 424, 32, kHeaderFieldWidth);
    lblSampleMode = MakeLabel(gboHeader, "lblSampleMode", "Sample Mode:", 320, 56);
    txtSampleMode = MakeEdit(this, "txtSampleMode", 424, 64, kHeaderFieldWidth);
    lblAltitude = MakeLabel(gboHeader, "lblAltitude", "Altitude:", 320, 88);
    txtAltitude = MakeEdit(gboHeader, "txtAltitude", 416, 88, kHeaderFieldWidth);
}

void TfrmOutput::MakeChannelInfo() {
    // The tab control: the tabs over a pane with one channel box that every
    // tab shares.
    auto* tabControl = new QWidget(this);
    tabControl->setGeometry(8, 136, 585, 153);
    tabChannelHeader = new QTabBar(tabControl);
    tabChannelHeader->setObjectName(QStringLiteral("tabChannelHeader"));
    tabChannelHeader->setExpanding(false);
    const int tabHeight = TabBarHeight(*tabChannelHeader);
    tabChannelHeader->setGeometry(0, 0, 585, tabHeight);
    auto* pane = new QFrame(tabControl);
    pane->setFrameShape(QFrame::StyledPanel);
    pane->setGeometry(0, tabHeight - 1, 585, 153 - tabHeight + 1);
    gboChannelHeader = MakeGroup(pane, "gboChannelHeader", "Channel Info",
                                 {4, 2, 577, std::min(113, pane->height() - 4)});
    lblID = MakeLabel(gboChannelHeader, "lblID", "Identification:", 8, 24);
    txtID = MakeEdit(gboChannelHeader, "txtID", 120, 24, 145);
    lblReference = MakeLabel(gboChannelHeader, "lblReference", "Reference:", 8, 56);
    txtReference = MakeEdit(gboChannelHeader, "txtReference", 120, 56, 73);
    lblRefUnit = MakeLabel(gboChannelHeader, "lblRefUnit", QString(), 200, 56);
    lblRange = MakeLabel(gboChannelHeader, "lblRange", "Range:", 320, 56);
    txtRange = MakeEdit(gboChannelHeader, "txtRange", 408, 56, 65);
    lblRangeUnit = MakeLabel(gboChannelHeader, "lblRangeUnit", QString(), 480, 56);
    lblMasterLevel = MakeLabel(gboChannelHeader, "lblMasterLevel", "Master Level:", 8, 88);
    txtMasterLevel = MakeEdit(gboChannelHeader, "txtMasterLevel", 120, 88, 73);
    lblMLevelUnit = MakeLabel(gboChannelHeader, "lblMLevelUnit", QString(), 198, 88);
    connect(tabChannelHeader, &QTabBar::currentChanged, this, &TfrmOutput::ChannelTabClick);
}

void TfrmOutput::MakeGrid() {
    gboData = MakeGroup(this, "gboData", "Data", {});
    stgData = new QTableView(gboData);
    stgData->setObjectName(QStringLiteral("stgData"));
    FitGrid();
    stgData->setModel(&gridModel_);
    stgData->setShowGrid(true);
    stgData->setWordWrap(false);
    stgData->setSelectionMode(QAbstractItemView::ExtendedSelection);
    stgData->setSelectionBehavior(QAbstractItemView::SelectItems);
    stgData->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stgData->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    stgData->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The titles are the horizontal header and the sample times the vertical
    // one: both stay in place while the keyboard moves the view across
    // channels that do not fit, as a grid's fixed row and column do.
    QHeaderView* titles = stgData->horizontalHeader();
    titles->setMinimumSectionSize(8);
    titles->setDefaultSectionSize(kColumnWidth);
    titles->setSectionResizeMode(QHeaderView::Interactive);
    titles->setHighlightSections(false);
    QHeaderView* times = stgData->verticalHeader();
    times->setMinimumSectionSize(8);
    times->setDefaultSectionSize(kRowHeight);
    times->setSectionResizeMode(QHeaderView::Interactive);
    times->setHighlightSections(false);
    times->setFixedWidth(kDateTimeWidth);
    connect(stgData->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { emit SampleSelected(current.row()); });
    // The corner above the times carries the column's title.
    if (auto* corner = stgData->findChild<QAbstractButton*>()) {
        corner->installEventFilter(this);
    }
}

TfrmOutput::~TfrmOutput() {
    FormDestroy();
}

TfrmOutput* TfrmOutput::CreateIn(QMdiArea* area, platform::WindowHandle mainWindow) {
    auto* form = new TfrmOutput(mainWindow);
    // Fixed border with only the system menu: no minimize, maximize or resize.
    // It is still shown maximised while the area's other windows are.
    QMdiSubWindow* frame =
        area->addSubWindow(form, Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                     Qt::MSWindowsFixedSizeDialogHint);
    frame->show();
    return form;
}

bool TfrmOutput::ShowLog(const DeviceLog* log) {
    if (log == nullptr) {
        return false;
    }
    headerCopy = log->header();
    channelCopies.clear();
    for (int i = 0; i < log->channelCount(); ++i) {
        channelCopies.push_back(ChannelHeaderAt(*log, i));
    }
    return FillView(log);
}

namespace {

// A header field wide enough for all of its text, up to the next column.
void FitToText(QLineEdit* edit, int maxWidth) {
    const QFontMetrics metrics(edit->font());
    const int needed = metrics.horizontalAdvance(edit->text()) + 2 * metrics.averageCharWidth() + 4;
    edit->resize(std::clamp(needed, kHeaderFieldWidth, maxWidth), edit->height());
}

}  // namespace

bool TfrmOutput::FillView(const DeviceLog* log) {
    if (log == nullptr) {
        return false;
    }
    const BusyCursor busy;
    const LogHeader& header = log->header();
    txtSerialNum->setText(Latin1(header.shortSerial()));
    txtLocation->setText(Latin1(FieldText(header.location)));
    txtinstrNum->setText(Latin1(FieldText(header.instrumentNumber)));
    txtSampleRate->setText(Latin1(FieldText(header.sampleRate)));
    txtSampleMode->setText(SampleModeName(header));
    // The left column's fields may reach the right column's labels.
    const int rightColumn = lblSampleRate->mapTo(this, QPoint()).x();
    for (QLineEdit* edit : {txtSerialNum, txtinstrNum, txtLocation}) {
        FitToText(edit, rightColumn - edit->mapTo(this, QPoint()).x() - 4);
    }

    const int count = log->channelCount();
    {
        // Refilling the tabs is no user's choice of a channel.
        const QSignalBlocker blocker(tabChannelHeader);
        while (tabChannelHeader->count() > 0) {
            tabChannelHeader->removeTab(0);
        }
        for (int i = 0; i < count; ++i) {
            tabChannelHeader->addTab(
                Latin1(ChannelIdentification(ChannelHeaderAt(*log, i), header.instrumentType)));
        }
        tabChannelHeader->setCurrentIndex(0);
    }

    if (count <= 0) {
        // Whatever the previous log showed does not belong to this one.
        ClearChannelHeader();
        gridModel_.Clear();
        return true;
    }

    const ChannelHeader& first = ChannelHeaderAt(*log, 0);
    ShowChannelHeader(first, header.instrumentType, "", true);
    const bool altitude = TraitsOf(header.instrumentType).altitude;
    txtAltitude->setVisible(altitude);
    lblAltitude->setVisible(altitude);
    if (altitude) {
        txtAltitude->setText(Latin1(DecimalText(first.altitude, first.altitudeDecimals)));
    }

    gridModel_.SetLog(*log);
    for (int c = 0; c < gridModel_.columnCount(); ++c) {
        stgData->setColumnWidth(c, kColumnWidth);
    }
    return true;
}

void TfrmOutput::SelectSample(int index) {
    if (index < 0 || index >= gridModel_.rowCount()) {
        return;
    }
    const QModelIndex cell = gridModel_.index(index, 0);
    stgData->selectionModel()->setCurrentIndex(
        cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    stgData->scrollTo(cell, QAbstractItemView::PositionAtCenter);
}

void TfrmOutput::ChannelTabClick() {
    const int t = tabChannelHeader->currentIndex();
    if (!headerCopy || t < 0 || t >= static_cast<int>(channelCopies.size())) {
        return;
    }
    ShowChannelHeader(channelCopies[static_cast<std::size_t>(t)], headerCopy->instrumentType, " ",
                      t == 0);
}

// numberEnd follows each number: the tabs show one blank after it.
void TfrmOutput::ShowChannelHeader(const ChannelHeader& channel, int instrumentType,
                                   const char* numberEnd, bool masterLevel) {
    txtID->setText(Latin1(ChannelIdentification(channel, instrumentType)));
    txtReference->setText(
        Latin1(DecimalText(channel.referenceLevel, channel.referenceDecimals) + numberEnd));
    lblRefUnit->setText(Latin1(FieldText(channel.referenceUnit)));
    lblRefUnit->adjustSize();
    txtRange->setText(Latin1(DecimalText(channel.range, channel.rangeDecimals) + numberEnd));
    lblRangeUnit->setText(Latin1(FieldText(channel.rangeUnit)));
    lblRangeUnit->adjustSize();
    lblMasterLevel->setVisible(masterLevel);
    txtMasterLevel->setVisible(masterLevel);
    lblMLevelUnit->setVisible(masterLevel);
    if (masterLevel) {
        txtMasterLevel->setText(
            Latin1(DecimalText(channel.masterLevel, channel.masterLevelDecimals) + numberEnd));
        lblMLevelUnit->setText(Latin1(FieldText(channel.masterLevelUnit).substr(0, 2)));
        lblMLevelUnit->adjustSize();
    }
}

void TfrmOutput::ClearChannelHeader() {
    for (QLineEdit* edit : {txtID, txtReference, txtRange, txtMasterLevel, txtAltitude}) {
        edit->clear();
    }
    for (QLabel* unit : {lblRefUnit, lblRangeUnit, lblMLevelUnit}) {
        unit->clear();
    }
}

bool TfrmOutput::ExportFile(const QString& path, int filterIndex) {
    if (!headerCopy) {
        return false;
    }
    if (filterIndex == ExportDialog::kTitledFilter) {
        return ExportTitled(path);
    }
    // Written whole or not at all: a file of that name stays as it was until
    // the new one is complete.
    StagedDataFile file;
    if (file.Open(QFile::encodeName(path).constData(), "w") != 0) {
        ReportExportError(window(), path, file.LastError());
        return false;
    }
    DataFileWriter& writer = file.Writer();
    const std::size_t count = channelCopies.size();
    writer.WriteHeader(&*headerCopy, channelCopies.data(), static_cast<int>(count));

    const bool comma = filterIndex == ExportDialog::kCommaFilter;
    std::vector<std::string> texts(count);
    std::vector<const char*> values(count);
    for (int r = 1; r < gridModel_.GridRowCount(); ++r) {
        for (std::size_t j = 0; j < count; ++j) {
            texts[j] = gridModel_.Cell(static_cast<int>(j) + 1, r);
            values[j] = texts[j].c_str();
        }
        const auto [date, time] = DateAndTime(gridModel_.Cell(0, r));
        writer.WriteTextLine(date.c_str(), time.c_str(), values.data(), static_cast<int>(count),
                             comma);
    }
    // A file that could not be written completely (a full disk) is as
    // useless as one that could not be created.
    if (const int error = file.Finish(); error != 0) {
        file.Discard();
        ReportExportError(window(), path, error);
        return false;
    }
    return true;
}

bool TfrmOutput::ExportTitled(const QString& path) {
    // A reader's texts are Latin-1; other tools read UTF-8.
    const auto text = [](std::string_view latin1) {
        return QString::fromLatin1(latin1.data(), static_cast<qsizetype>(latin1.size())).trimmed();
    };
    // The logger's own clock, whatever its offset from UTC: said in the title.
    std::string csv = "time (logger clock)";
    for (std::size_t j = 0; j < channelCopies.size(); ++j) {
        const QString unit = text(FieldText(channelCopies[j].rangeUnit));
        const QString name = text(gridModel_.Cell(static_cast<int>(j) + 1, 0));
        csv += ',' +
               archive::CsvField((unit.isEmpty() ? name : name + " [" + unit + "]").toStdString());
    }
    csv += "\r\n";  // as the data files end their lines
    for (int r = 1; r < gridModel_.GridRowCount(); ++r) {
        // As ISO 8601: "YYYY-MM-DDTHH:MM:SS.t".
        auto [date, time] = DateAndTime(gridModel_.Cell(0, r));
        std::replace(date.begin(), date.end(), '/', '-');
        csv += date + 'T' + time;
        for (int c = 1; c <= static_cast<int>(channelCopies.size()); ++c) {
            // No sample: an empty cell, which other tools read as missing.
            csv += ',' + (gridModel_.HasSample(c, r) ? gridModel_.Cell(c, r) : std::string());
        }
        csv += "\r\n";
    }
    const int error = WriteWholeFile(QFile::encodeName(path).toStdString(), csv);
    if (error != 0) {
        ReportExportError(window(), path, error);
        return false;
    }
    return true;
}

QString TfrmOutput::ExportThroughDialog(ExportDialog& sadExport, QWidget* owner,
                                        const QString& initialDirectory, const QString& fileName) {
    // The grid holds what a channel keeps; the log's saved file holds every sample.
    if (gridModel_.rowCount() >= LogChannel::kMaxSamples &&
        Prompts().MessageBox(
            owner,
            QString("The data window holds the first %1 samples of this log, as many as a "
                    "channel keeps; an export holds only these, the log's saved file holds them "
                    "all.\nExport the first %1 samples?")
                .arg(LogChannel::kMaxSamples),
            "Warning", Prompter::Buttons::YesNo,
            Prompter::Icon::Warning) != Prompter::Answer::Yes) {
        return {};
    }
    const Prompter::SaveResult choice = sadExport.Execute(owner, initialDirectory, fileName);
    if (!choice.accepted) {
        return {};
    }
    QString path = choice.path;
    if (QFileInfo(path).suffix().isEmpty()) {
        path += choice.filterIndex == ExportDialog::kOmbrelFilter ? ".omb" : ".csv";
        if (!MayReplace(owner, path)) {
            return {};
        }
    }
    const BusyCursor busy;
    return ExportFile(path, choice.filterIndex) ? path : QString();
}

void TfrmOutput::FitGrid() {
    gboData->setGeometry(8, 296, width() - 17, height() - 306);
    stgData->setGeometry(16, 24, gboData->width() - 32, gboData->height() - 32);
}

void TfrmOutput::resizeEvent(QResizeEvent* event) {
    FitGrid();
    QWidget::resizeEvent(event);
}

void TfrmOutput::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

bool TfrmOutput::eventFilter(QObject* watched, QEvent* event) {
    auto* corner = qobject_cast<QAbstractButton*>(watched);
    if (corner == nullptr || event->type() != QEvent::Paint) {
        return QWidget::eventFilter(watched, event);
    }
    QStylePainter painter(corner);
    QStyleOptionHeader option;
    option.initFrom(corner);
    option.rect = corner->rect();
    option.position = QStyleOptionHeader::OnlyOneSection;
    option.text = QString::fromLatin1(SampleGridModel::kDateTimeTitle);
    option.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    painter.drawControl(QStyle::CE_Header, option);
    return true;
}

// The window is freed when it closes: the MDI frame around it, or the
// window itself when it stands alone.
void TfrmOutput::FormClose() {
    QWidget* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    (frame ? frame : this)->setAttribute(Qt::WA_DeleteOnClose);
}

void TfrmOutput::FormDestroy() {
    headerCopy.reset();
    channelCopies.clear();
    platform::PostWindowMessage(mainWindow_, WM_OUTPUT_CLOSED, OUTPUT_CLOSED_WPARAM, 0);
}
