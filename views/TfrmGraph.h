#pragma once
// The Graph: the plot of the log the data window shows, in an MDI child of
// its own, with a readout of the time and values under the cursor. A click
// on the plot names a sample, which the main window selects in the grid; a
// row selected in the grid is marked on the plot. A Graph may show series of
// the archive instead (ShowHistory), or a well's water levels (ShowLevels,
// above its datum or below its reference point, in m, cm or ft as chosen on
// the Graph): it then stands alone, and File > Export also writes the span
// shown as CSV, in the archive's layout or the levels'.

#include <QString>
#include <QWidget>

#include <memory>

#include "archive/History.h"
#include "archive/WellView.h"
#include "device/DeviceLog.h"

class LogPlot;
class QComboBox;
class QLabel;
class QMdiArea;

class TfrmGraph final : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmGraph(QWidget* parent = nullptr);
    ~TfrmGraph() override;

    // A new Graph in the main window's MDI area, shown.
    static TfrmGraph* CreateIn(QMdiArea* area);

    // Plots the log under the title (the data window's).
    void ShowLog(const DeviceLog& log, const QString& title);
    void ShowHistory(archive::History history);
    // Whether it shows the archive's series or a well's levels, not a log.
    bool ShowsHistory() const { return history_ != nullptr || levels_ != nullptr; }
    // Shows a well's levels; shown again (a fact changed), the span and the
    // choices of the view stay.
    void ShowLevels(archive::WellView levels);
    // The well whose levels are shown; empty when none are.
    std::string LevelsOf() const { return levels_ ? levels_->well.name : std::string(); }
    // Marks a sample, as a row selected in the grid asks; -1 for none.
    void MarkSample(int index);

    // The Export command while the Graph is the active window: a picture of
    // the plot as PNG, SVG or PDF (or, for the archive's series, the span
    // shown as CSV), offering fileName. A name without one of these
    // extensions gets the chosen filter's. "Export File Error" when it
    // cannot be written. The file written, or nothing.
    QString ExportThroughDialog(QWidget* owner, const QString& initialDirectory,
                                const QString& fileName);
    bool ExportPicture(const QString& path);
    // The archive's series (or the well's levels) in the time span shown, as CSV.
    bool ExportSpan(const QString& path);
    // What is shown of the archive in the span shown, for other tools: the
    // level (or depth, or water column) shown, or the series shown, for
    // pandas (one series) or as WaterML 2.0.
    bool ExportSeries(const QString& path, bool waterMl);

    LogPlot* plotLog;
    QLabel* lblReadout;
    QComboBox* cboLevelAxis;  // above the datum, below the reference point, water column
    QComboBox* cboLength;     // m, cm, ft

  signals:
    void SampleClicked(int index);

  private:
    void ShowReadout(int index);
    // The levels' traces as the view's choices ask; the span shown stays when keepSpan.
    void DrawLevels(bool keepSpan);
    // What the export dialog offers: the picture formats, and for the
    // archive's series or levels their CSV, pandas' CSV (of one series) and WaterML.
    enum class Kind { Picture, Span, Pandas, WaterMl };
    struct ExportFormat {
        QString extension, filter;
        Kind kind;
    };
    std::vector<ExportFormat> ExportFormats() const;
    // The span shown, in tenths, both ends included.
    std::pair<int64_t, int64_t> SpanShown() const;

    QLabel* hint_;
    std::unique_ptr<archive::History> history_;
    std::unique_ptr<archive::WellView> levels_;
    int filterIndex_ = 1;  // of the export dialog, 1-based: PNG, SVG (where built), PDF
};
