#pragma once
// The Graph: the plot of the log the data window shows, in an MDI child of
// its own, with a readout of the time and values under the cursor. A click
// on the plot names a sample, which the main window selects in the grid; a
// row selected in the grid is marked on the plot.

#include <QString>
#include <QWidget>

#include "device/DeviceLog.h"

class LogPlot;
class QLabel;
class QMdiArea;

class TfrmGraph final : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmGraph(QWidget* parent = nullptr);

    // A new Graph in the main window's MDI area, shown.
    static TfrmGraph* CreateIn(QMdiArea* area);

    // Plots the log under the title (the data window's).
    void ShowLog(const DeviceLog& log, const QString& title);
    // Marks a sample, as a row selected in the grid asks; -1 for none.
    void MarkSample(int index);

    // The Export command while the Graph is the active window: a picture of
    // the plot as PNG, SVG or PDF, offering fileName. A name without one of
    // these extensions gets the chosen filter's. "Export File Error" when it
    // cannot be written. The file written, or nothing.
    QString ExportThroughDialog(QWidget* owner, const QString& initialDirectory,
                                const QString& fileName);
    bool ExportPicture(const QString& path);

    LogPlot* plotLog;
    QLabel* lblReadout;

  signals:
    void SampleClicked(int index);

  private:
    void ShowReadout(int index);

    int filterIndex_ = 1;  // of the export dialog, 1-based: PNG, SVG (where built), PDF
};
