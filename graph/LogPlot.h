#pragma once
// The plot of one log: one trace per channel over the samples' own times
// (UTC, as the grid shows them), channels of one unit in one pane, the panes
// stacked on one time axis. Built on QCustomPlot, which draws and zooms;
// this class only arranges the log in it and adds what a hydrologist asks:
// the wheel zooms time, dragging pans, a right-button (or Shift) drag zooms
// to a rectangle, Home shows the whole log again, and the sample under the
// cursor or clicked is reported by its index.

#include <qcustomplot.h>
#include <QString>

#include <span>
#include <string>
#include <vector>

#include "device/DeviceLog.h"
#include "device/SampleTime.h"

// A picture a Graph can be saved as: PNG, SVG where this Qt has its SVG
// module, PDF; in the order a save dialog offers them.
struct PictureFormat {
    const char* extension;  // without the point
    const char* filter;     // as a file dialog shows it
};
std::span<const PictureFormat> PictureFormats();
// The extensions in words: ".png, .svg or .pdf".
std::string PictureExtensions();

// One trace of a plot: a channel's samples in time order. A value that is
// not a number breaks the line there (a gap in the record). Its texts, as
// every text given to the plot, are UTF-8; a log's (the reader's Latin-1)
// are converted as SetLog takes them.
struct PlotTrace {
    std::string name;  // identification, as the grid titles it
    std::string unit;
    int decimals = 0;
    std::vector<SampleTime> times;
    std::vector<double> values;
    std::vector<SampleTime> marks;  // samples to point out (conflicts)
    // Readings of their own rather than a record: each a point, no line
    // between them (a well's dips).
    bool points = false;
    // Its pane's values grow downward, as a depth does.
    bool downward = false;
    // The pane it is drawn in, where not that of its unit: a well's level
    // in cm is not a pressure in cm.
    std::string pane;
    // What the readout says of a sample after its value, where given.
    std::vector<std::string> notes;
};

// A line across every pane at a time, with its text (a logger moved there).
struct PlotLine {
    SampleTime time;
    std::string text;
};

class LogPlot : public QCustomPlot {
    Q_OBJECT

  public:
    explicit LogPlot(QWidget* parent = nullptr);

    // Shows the log's first channelCount channels; replaces what was shown.
    void SetLog(const DeviceLog& log);
    // Shows traces of their own times (UTC) under a title, on one time axis;
    // replaces what was shown. A sample is then a time any trace has.
    void SetTraces(const std::string& title, std::vector<PlotTrace> traces,
                   const std::vector<PlotLine>& lines = {});
    int SampleCount() const { return static_cast<int>(times_.size()); }

    // The whole log in every pane.
    void ResetView();
    // A line at the sample's time in every pane; none for an index outside the log.
    void MarkSample(int index);
    int MarkedSample() const { return marked_; }
    // The sample nearest to a time on the time axis; -1 without samples.
    int SampleNear(double time) const;
    // The sample whose time is at a horizontal position of the widget; -1 without samples.
    int SampleAtPixel(double x) const;
    // "YYYY/MM/DD HH:MM:SS.t   NAME value unit   ...": the time and every
    // channel's value of a sample ("-" where it has none); empty outside the log.
    QString Readout(int index) const;

    // The time of the plot's time axis: seconds since 1970, UTC.
    static double AxisTime(const SampleTime& time);

    // The plot as a picture of its present size, in the format of the path's
    // extension (one of PictureFormats); false when it cannot be written.
    bool SavePicture(const QString& path);

    // The time span shown, as axis times.
    QCPRange TimeShown() const;

  signals:
    // A left click without dragging, at the sample nearest to it.
    void SampleClicked(int index);
    // The mouse moved over the panes, to the sample nearest to it.
    void SampleHovered(int index);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    struct Pane {
        QCPAxisRect* rect;
        QCPLegend* legend;
        QString unit;
        std::vector<std::string> names;  // of its channels
    };
    Pane AddPane(const std::string& unit);
    // A vertical line at key across the pane, its text at the top.
    void AddLine(const Pane& pane, double key, const QString& text);
    void Show(const std::string& title, std::vector<PlotTrace> traces,
              const std::vector<PlotLine>& lines);
    // Every time a trace has a sample at, in order, with its axis time.
    void MergeTimes();
    // The trace drawn in its pane, its open conflicts marked.
    void AddTrace(Pane& pane, const PlotTrace& trace, const QColor& colour);
    void SyncTimeAxes(const QCPRange& range);
    bool SaveSvg(const QString& path);

    std::vector<SampleTime> times_;  // every time a trace has, in order
    std::vector<double> keys_;       // AxisTime of each
    std::vector<PlotTrace> traces_;
    std::vector<QCPItemStraightLine*> markers_;  // one per pane
    QCPMarginGroup* margins_;
    int marked_ = -1;
    QPoint pressedAt_;
    bool syncing_ = false;
    QString timeAxis_;  // the time axis' label: which clock its times are
};
