#include "graph/LogPlot.h"

#include <QApplication>
#include <QFileInfo>
#ifdef ARVELO_GRAPH_SVG
#include <QSvgGenerator>
#endif

#include <algorithm>
#include <cmath>

#include "device/FixedText.h"

namespace {

constexpr const char* kMarkLayer = "marks";
constexpr double kValueMargin = 0.05;  // of a pane's value span, above and below
// A legend takes the room of its entries, the panes the rest.
constexpr double kLegendStretch = 0.001;
constexpr int kLegendColumns = 4;

// Distinct on white and in grey print, one per channel of a full reader log.
const QColor kTraceColours[] = {
    QColor(31, 119, 180),  QColor(214, 39, 40),  QColor(44, 160, 44),   QColor(255, 127, 14),
    QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194), QColor(127, 127, 127),
    QColor(188, 189, 34),  QColor(23, 190, 207), QColor(0, 0, 128),     QColor(128, 0, 0),
};

std::string Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

// The plot's texts are UTF-8, as the archive keeps them.
QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// A text of the reader's (Latin-1 bytes) as the plot's texts are.
std::string FromReader(std::string_view bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size())).toStdString();
}

// Units written in either case ("cm", "CM") are one unit.
QString UnitKey(const std::string& unit) {
    return Text(unit).toUpper();
}

// "NAME [unit]", or the name alone without a unit.
QString WithUnit(const QString& name, const QString& unit) {
    return unit.isEmpty() ? name : name + QStringLiteral(" [") + unit + QStringLiteral("]");
}
QString WithUnit(const std::string& name, const std::string& unit) {
    return WithUnit(Text(name), Text(unit));
}

QString Join(const std::vector<std::string>& names) {
    QStringList texts;
    for (const std::string& name : names) {
        texts << Text(name);
    }
    return texts.join(QStringLiteral(", "));
}

// The instrument and its place, under the names the data window gives
// them; the place on a line of its own, so that a narrow plot shows it all.
std::string PlotTitle(const LogHeader& header) {
    std::string numbers;
    for (const auto& [label, text] :
         {std::pair{"Serial Number: ", Trimmed(header.shortSerial())},
          std::pair{"Instrument Number: ", Trimmed(FieldText(header.instrumentNumber))}}) {
        if (!text.empty()) {
            numbers += (numbers.empty() ? "" : "    ") + std::string(label) + text;
        }
    }
    const std::string location = Trimmed(FieldText(header.location));
    std::string title = location.empty() ? "" : "Location: " + location;
    if (!numbers.empty()) {
        title += (title.empty() ? "" : "\n") + numbers;
    }
    return title;
}

bool Earlier(const SampleTime& a, const SampleTime& b) {
    return a.seconds != b.seconds ? a.seconds < b.seconds : a.tenths < b.tenths;
}

// The first day of the month nearest to a time, at midnight UTC.
double NearestMonthStart(double key) {
    QDate date =
        QDateTime::fromSecsSinceEpoch(static_cast<qint64>(std::floor(key)), Qt::UTC).date();
    if (date.day() > 15) {
        date = date.addMonths(1);
    }
    return static_cast<double>(
        QDateTime(QDate(date.year(), date.month(), 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
}

// Date and time ticks in UTC, the time the samples carry. QCustomPlot's date
// ticker lays day and month ticks out in local time, which puts them an hour
// off midnight in a zone with summer time. Tenths are shown only where the
// ticks fall between whole seconds.
class UtcTicker final : public QCPAxisTickerDateTime {
  protected:
    QVector<double> createTickVector(double step, const QCPRange& range) override {
        // Whole steps from 1970-01-01 00:00 UTC: days and weeks start at midnight.
        QVector<double> ticks = QCPAxisTicker::createTickVector(step, range);
        if (mDateStrategy == dsUniformDayInMonth) {
            for (double& tick : ticks) {
                tick = NearestMonthStart(tick);
            }
        }
        wholeSeconds_ = std::floor(step) == step;
        return ticks;
    }

    QString getTickLabel(double tick, const QLocale&, QChar, int) override {
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(std::llround(tick * 1000.0), Qt::UTC);
        return time.toString(wholeSeconds_ ? QStringLiteral("yyyy/MM/dd\nhh:mm:ss")
                                           : QStringLiteral("yyyy/MM/dd\nhh:mm:ss.z"));
    }

  private:
    bool wholeSeconds_ = true;
};

}  // namespace

LogPlot::LogPlot(QWidget* parent) : QCustomPlot(parent) {
    setObjectName(QStringLiteral("plotLog"));
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // Each pane has a legend of its own.
    setAutoAddPlottableToLegend(false);
    setNoAntialiasingOnDrag(true);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    // The marks are redrawn alone when they move, not the traces under them.
    addLayer(kMarkLayer, layer(QStringLiteral("main")), QCustomPlot::limAbove);
    layer(kMarkLayer)->setMode(QCPLayer::lmBuffered);
    plotLayout()->clear();
    plotLayout()->setRowSpacing(0);
    // Lines the panes' value axes up, whatever the width of their numbers.
    margins_ = new QCPMarginGroup(this);
}

double LogPlot::AxisTime(const SampleTime& time) {
    return static_cast<double>(time.seconds) + time.tenths / 10.0;
}

void LogPlot::SetLog(const DeviceLog& log) {
    const std::vector<SampleTime> times = SampleTimes(log);
    std::vector<PlotTrace> traces;
    const LogChannel fresh;
    for (int j = 0; j < log.channelCount(); ++j) {
        const LogChannel* source = log.channel(j);
        const LogChannel& channel = source ? *source : fresh;
        const ChannelHeader& header = channel.header();
        const std::span<const double> values = channel.values();
        // A channel shorter than the first has no value past its end.
        const std::size_t count = std::min(values.size(), times.size());
        PlotTrace& trace = traces.emplace_back();
        trace.name =
            FromReader(Trimmed(ChannelIdentification(header, log.header().instrumentType)));
        trace.unit = FromReader(Trimmed(FieldText(header.rangeUnit)));
        trace.decimals = header.rangeDecimals;
        trace.times.assign(times.begin(), times.begin() + count);
        trace.values.assign(values.begin(), values.begin() + count);
    }
    // Which instrument, where, as the data window names them: the picture
    // may leave the program. A log's times are its logger's clock, whatever
    // offset from UTC that keeps.
    timeAxis_ = QStringLiteral("Time (logger clock)");
    Show(FromReader(PlotTitle(log.header())), std::move(traces), {});
}

void LogPlot::SetTraces(const std::string& title, std::vector<PlotTrace> traces,
                        const std::vector<PlotLine>& lines) {
    timeAxis_ = QStringLiteral("Time (UTC)");
    Show(title, std::move(traces), lines);
}

void LogPlot::Show(const std::string& title, std::vector<PlotTrace> traces,
                   const std::vector<PlotLine>& lines) {
    clearItems();
    clearPlottables();
    plotLayout()->clear();
    markers_.clear();
    marked_ = -1;

    traces_ = std::move(traces);
    MergeTimes();

    auto* heading = new QCPTextElement(this, Text(title),
                                       QFont(font().family(), font().pointSize(), QFont::Bold));
    plotLayout()->addElement(0, 0, heading);

    // One pane per unit, or per pane a trace names (never a unit: it begins with
    // a line break), in the order the traces first name it.
    std::vector<QString> units;
    std::vector<Pane> panes;
    for (std::size_t j = 0; j < traces_.size(); ++j) {
        const PlotTrace& source = traces_[j];
        const QString key = source.pane.empty() ? UnitKey(source.unit) : Text("\n" + source.pane);
        auto found = std::find(units.begin(), units.end(), key);
        if (found == units.end()) {
            units.push_back(key);
            panes.push_back(AddPane(source.unit));
            panes.back().rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
            found = units.end() - 1;
        }
        AddTrace(panes[static_cast<std::size_t>(found - units.begin())], source,
                 kTraceColours[j % std::size(kTraceColours)]);
    }
    if (panes.empty()) {
        panes.push_back(AddPane({}));
    }
    for (std::size_t p = 0; p < panes.size(); ++p) {
        const Pane& pane = panes[p];
        pane.rect->axis(QCPAxis::atLeft)->setLabel(WithUnit(Join(pane.names), pane.unit));
        // Only the lowest pane labels the time axis they share.
        if (p + 1 < panes.size()) {
            pane.rect->axis(QCPAxis::atBottom)->setTickLabels(false);
            pane.rect->axis(QCPAxis::atBottom)->setLabel(QString());
        }
        for (const PlotLine& line : lines) {
            AddLine(pane, AxisTime(line.time), Text(line.text));
        }
    }
    ResetView();
}

void LogPlot::MergeTimes() {
    times_.clear();
    for (const PlotTrace& trace : traces_) {
        // A break in a trace is no sample.
        std::vector<SampleTime> sampled;
        sampled.reserve(trace.times.size());
        for (std::size_t k = 0; k < trace.times.size(); ++k) {
            if (!std::isnan(trace.values[k])) {
                sampled.push_back(trace.times[k]);
            }
        }
        std::vector<SampleTime> merged;
        merged.reserve(times_.size() + sampled.size());
        std::set_union(times_.begin(), times_.end(), sampled.begin(), sampled.end(),
                       std::back_inserter(merged), Earlier);
        times_ = std::move(merged);
    }
    keys_.clear();
    keys_.reserve(times_.size());
    for (const SampleTime& time : times_) {
        keys_.push_back(AxisTime(time));
    }
}

void LogPlot::AddTrace(Pane& pane, const PlotTrace& source, const QColor& colour) {
    QCPAxis* time = pane.rect->axis(QCPAxis::atBottom);
    QCPAxis* value = pane.rect->axis(QCPAxis::atLeft);
    QCPGraph* trace = addGraph(time, value);
    QVector<double> keys;
    keys.reserve(static_cast<qsizetype>(source.times.size()));
    for (const SampleTime& t : source.times) {
        keys.push_back(AxisTime(t));
    }
    QVector<double> values(source.values.begin(), source.values.end());
    // What cannot be drawn leaves a gap instead of stretching the axis.
    for (double& v : values) {
        if (!std::isfinite(v)) {
            v = std::nan("");
        }
    }
    trace->setData(keys, values, true);
    trace->setPen(QPen(colour));
    if (source.points) {
        trace->setLineStyle(QCPGraph::lsNone);
        trace->setScatterStyle(
            QCPScatterStyle(QCPScatterStyle::ssDiamond, QPen(colour, 1.5), colour, 8));
    }
    value->setRangeReversed(source.downward);
    trace->setName(WithUnit(source.name, source.unit));
    trace->addToLegend(pane.legend);
    pane.names.push_back(source.name);
    if (!source.marks.empty()) {
        QCPGraph* marks = addGraph(time, value);
        QVector<double> markKeys, markValues;
        for (const SampleTime& t : source.marks) {
            const auto at = std::lower_bound(source.times.begin(), source.times.end(), t, Earlier);
            if (at != source.times.end() && !Earlier(t, *at)) {
                markKeys.push_back(AxisTime(t));
                markValues.push_back(
                    source.values[static_cast<std::size_t>(at - source.times.begin())]);
            }
        }
        marks->setData(markKeys, markValues, true);
        marks->setLineStyle(QCPGraph::lsNone);
        marks->setScatterStyle(
            QCPScatterStyle(QCPScatterStyle::ssCrossCircle, QPen(Qt::red, 1.5), Qt::NoBrush, 9));
        marks->setName(QStringLiteral("conflicts"));
        marks->addToLegend(pane.legend);
    }
}

LogPlot::Pane LogPlot::AddPane(const std::string& unit) {
    // The legend in a row of its own above the pane, so that it never hides
    // a trace; packed to the left by an empty element beside it.
    auto* legendRow = new QCPLayoutGrid;
    const int row = plotLayout()->rowCount();
    plotLayout()->addElement(row, 0, legendRow);
    plotLayout()->setRowStretchFactor(row, kLegendStretch);
    auto* paneLegend = new QCPLegend;
    legendRow->addElement(0, 0, paneLegend);
    legendRow->addElement(0, 1, new QCPLayoutElement(this));
    legendRow->setColumnStretchFactor(0, kLegendStretch);
    paneLegend->setLayer(QStringLiteral("legend"));
    paneLegend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    paneLegend->setWrap(kLegendColumns);
    paneLegend->setBorderPen(Qt::NoPen);

    auto* pane = new QCPAxisRect(this);
    plotLayout()->addElement(row + 1, 0, pane);
    QCPAxis* time = pane->axis(QCPAxis::atBottom);
    time->setTicker(QSharedPointer<UtcTicker>::create());
    time->setLabel(timeAxis_);
    // The wheel zooms time; a rectangle zooms both axes.
    pane->setRangeZoom(Qt::Horizontal);
    connect(time, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this, &LogPlot::SyncTimeAxes);

    auto* marker = new QCPItemStraightLine(this);
    marker->setLayer(kMarkLayer);
    marker->setClipAxisRect(pane);
    for (QCPItemPosition* end : {marker->point1, marker->point2}) {
        end->setAxes(time, pane->axis(QCPAxis::atLeft));
        end->setAxisRect(pane);
    }
    marker->setPen(QPen(Qt::black, 1, Qt::DashLine));
    marker->setVisible(false);
    markers_.push_back(marker);
    return {pane, paneLegend, Text(unit), {}};
}

void LogPlot::AddLine(const Pane& pane, double key, const QString& text) {
    QCPAxis* time = pane.rect->axis(QCPAxis::atBottom);
    QCPAxis* value = pane.rect->axis(QCPAxis::atLeft);
    auto* line = new QCPItemStraightLine(this);
    line->setClipAxisRect(pane.rect);
    for (QCPItemPosition* end : {line->point1, line->point2}) {
        end->setAxes(time, value);
        end->setAxisRect(pane.rect);
    }
    line->point1->setCoords(key, 0);
    line->point2->setCoords(key, 1);
    line->setPen(QPen(QColor(90, 90, 90), 1, Qt::DotLine));
    auto* label = new QCPItemText(this);
    label->setClipAxisRect(pane.rect);
    label->position->setAxisRect(pane.rect);
    label->position->setTypeX(QCPItemPosition::ptPlotCoords);
    label->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    label->position->setAxes(time, value);
    label->position->setCoords(key, 0.02);
    label->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setPadding(QMargins(3, 0, 0, 0));
    label->setColor(QColor(90, 90, 90));
    label->setText(text);
}

void LogPlot::SyncTimeAxes(const QCPRange& range) {
    if (syncing_) {
        return;
    }
    syncing_ = true;
    for (QCPAxisRect* pane : axisRects()) {
        pane->axis(QCPAxis::atBottom)->setRange(range);
    }
    syncing_ = false;
}

void LogPlot::ResetView() {
    if (!keys_.empty()) {
        const double first = keys_.front();
        const double last = keys_.back();
        // A single time still gets a span to be shown in.
        SyncTimeAxes(last > first ? QCPRange(first, last) : QCPRange(first - 1, last + 1));
    }
    for (QCPAxisRect* pane : axisRects()) {
        QCPAxis* values = pane->axis(QCPAxis::atLeft);
        values->rescale();
        const double margin = std::max(values->range().size() * kValueMargin, 1e-9);
        values->setRange(values->range().lower - margin, values->range().upper + margin);
    }
    replot();
}

void LogPlot::MarkSample(int index) {
    const bool inside = index >= 0 && index < SampleCount();
    marked_ = inside ? index : -1;
    for (QCPItemStraightLine* marker : markers_) {
        marker->setVisible(inside);
        if (inside) {
            const double key = keys_[static_cast<std::size_t>(index)];
            marker->point1->setCoords(key, 0);
            marker->point2->setCoords(key, 1);
        }
    }
    layer(kMarkLayer)->replot();
}

int LogPlot::SampleNear(double time) const {
    if (keys_.empty()) {
        return -1;
    }
    const auto after = std::lower_bound(keys_.begin(), keys_.end(), time);
    if (after == keys_.end()) {
        return SampleCount() - 1;
    }
    if (after != keys_.begin() && time - *(after - 1) <= *after - time) {
        return static_cast<int>(after - keys_.begin()) - 1;
    }
    return static_cast<int>(after - keys_.begin());
}

int LogPlot::SampleAtPixel(double x) const {
    if (axisRectCount() == 0) {
        return -1;
    }
    return SampleNear(axisRect(0)->axis(QCPAxis::atBottom)->pixelToCoord(x));
}

QString LogPlot::Readout(int index) const {
    if (index < 0 || index >= SampleCount()) {
        return {};
    }
    const SampleTime& time = times_[static_cast<std::size_t>(index)];
    std::string text = SampleTimeText(time);
    for (const PlotTrace& trace : traces_) {
        const auto at = std::lower_bound(trace.times.begin(), trace.times.end(), time, Earlier);
        const bool has = at != trace.times.end() && !Earlier(time, *at);
        if (trace.points && !has) {
            continue;  // a reading is said only at its time
        }
        text += "   " + trace.name + " ";
        const double value =
            has ? trace.values[static_cast<std::size_t>(at - trace.times.begin())] : std::nan("");
        text += std::isnan(value) ? "-" : DecimalText(value, trace.decimals);
        if (!trace.unit.empty()) {
            text += " " + trace.unit;
        }
        const std::size_t k = static_cast<std::size_t>(at - trace.times.begin());
        if (has && k < trace.notes.size() && !trace.notes[k].empty()) {
            text += " (" + trace.notes[k] + ")";
        }
    }
    return Text(text);
}

QCPRange LogPlot::TimeShown() const {
    return axisRectCount() > 0 ? axisRect(0)->axis(QCPAxis::atBottom)->range() : QCPRange();
}

namespace {

constexpr PictureFormat kPictureFormats[] = {
    {"png", "PNG Image (*.png)"},
#ifdef ARVELO_GRAPH_SVG
    {"svg", "SVG Drawing (*.svg)"},
#endif
    {"pdf", "PDF Document (*.pdf)"},
};

}  // namespace

std::span<const PictureFormat> PictureFormats() {
    return kPictureFormats;
}

std::string PictureExtensions() {
    std::string text;
    const std::size_t count = std::size(kPictureFormats);
    for (std::size_t i = 0; i < count; ++i) {
        text += i == 0 ? "" : i + 1 == count ? " or " : ", ";
        text += std::string(".") + kPictureFormats[i].extension;
    }
    return text;
}

bool LogPlot::SavePicture(const QString& path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("png")) {
        return savePng(path, width(), height());
    }
    if (suffix == QLatin1String("pdf")) {
        return savePdf(path, width(), height());
    }
    if (suffix == QLatin1String("svg")) {
        return SaveSvg(path);
    }
    return false;
}

bool LogPlot::SaveSvg(const QString& path) {
#ifndef ARVELO_GRAPH_SVG
    static_cast<void>(path);
    return false;  // a Qt without its SVG module
#else
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(size());
    svg.setViewBox(rect());
    svg.setTitle(QStringLiteral("Arvelo graph"));
    QCPPainter painter;
    if (!painter.begin(&svg)) {
        return false;
    }
    toPainter(&painter, width(), height());
    return painter.end() && QFileInfo(path).size() > 0;
#endif
}

void LogPlot::mousePressEvent(QMouseEvent* event) {
    pressedAt_ = event->pos();
    const bool band = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier);
    setSelectionRectMode(band ? QCP::srmZoom : QCP::srmNone);
    QCustomPlot::mousePressEvent(event);
}

void LogPlot::mouseMoveEvent(QMouseEvent* event) {
    QCustomPlot::mouseMoveEvent(event);
    if (event->buttons() == Qt::NoButton && axisRectAt(event->pos()) != nullptr) {
        emit SampleHovered(SampleAtPixel(event->pos().x()));
    }
}

void LogPlot::mouseReleaseEvent(QMouseEvent* event) {
    QCustomPlot::mouseReleaseEvent(event);
    const bool click =
        event->button() == Qt::LeftButton && selectionRectMode() == QCP::srmNone &&
        (event->pos() - pressedAt_).manhattanLength() < QApplication::startDragDistance();
    if (click && axisRectAt(event->pos()) != nullptr) {
        emit SampleClicked(SampleAtPixel(event->pos().x()));
    }
}

void LogPlot::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home) {
        ResetView();
        return;
    }
    QCustomPlot::keyPressEvent(event);
}
