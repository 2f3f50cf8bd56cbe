#pragma once
// The data window: one downloaded log with its instrument header, a tab per
// channel with that channel's header, and a grid of every sample with its
// time. There is one at a time; the main window shows each log the user picks
// in it and exports the shown log through it.

#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "device/DeviceLog.h"
#include "platform/Window.h"
#include "views/SampleGridModel.h"
#include "widgets/Prompts.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QTabBar;
class QTableView;

// The Export command's save dialog (sadExport): the layouts as filters (the
// data file's, its comma layout, and CSV with one row of column titles for
// other tools), and the filter last chosen kept between uses.
class ExportDialog {
  public:
    static constexpr int kOmbrelFilter = 1;
    static constexpr int kCommaFilter = 2;
    static constexpr int kTitledFilter = 3;

    // Runs the dialog, offering fileName; accepted is false when the user cancels.
    Prompter::SaveResult Execute(QWidget* owner, const QString& initialDirectory,
                                 const QString& fileName);

  private:
    int filterIndex_ = kOmbrelFilter;
};

class TfrmOutput final : public QWidget {
    Q_OBJECT

  public:
    // mainWindow receives WM_OUTPUT_CLOSED when the window is destroyed.
    explicit TfrmOutput(platform::WindowHandle mainWindow, QWidget* parent = nullptr);
    ~TfrmOutput() override;

    // A new data window in the main window's MDI area, captioned "Data" and shown.
    static TfrmOutput* CreateIn(QMdiArea* area, platform::WindowHandle mainWindow);

    // Copies the log's headers and fills the window; false when log is null.
    bool ShowLog(const DeviceLog* log);
    // Fills every control from the log; false only when log is null.
    bool FillView(const DeviceLog* log);
    // Shows the channel header of the selected tab.
    void ChannelTabClick();
    // Writes the shown log in the text data layout (filter index 1), the
    // comma layout (2), or as CSV with column titles (3: "time (logger
    // clock),IDENT [UNIT],...", ISO dates, the grid's values, empty where a
    // channel has no sample, UTF-8);
    // "Export File Error" when the file cannot be created.
    // False when nothing was written.
    bool ExportFile(const QString& path, int filterIndex);
    // The Export command once a data window exists: the save dialog in
    // initialDirectory offering fileName, then ExportFile under the
    // hourglass when confirmed. A name typed without an extension gets the
    // chosen layout's. A log cut to what a channel holds is exported only
    // when the user agrees. The file written, or nothing.
    QString ExportThroughDialog(ExportDialog& sadExport, QWidget* owner,
                                const QString& initialDirectory, const QString& fileName);

    const SampleGridModel& GridModel() const { return gridModel_; }
    // Selects and shows the grid row of a sample, as a click on the Graph asks.
    void SelectSample(int index);

    // The controls, named as the form names them.
    QGroupBox* gboHeader;
    QLabel* lblSerialNum;
    QLineEdit* txtSerialNum;
    QLabel* lblInstrNum;
    QLineEdit* txtinstrNum;
    QLabel* lblLocation;
    QLineEdit* txtLocation;
    QLabel* lblSampleRate;
    QLineEdit* txtSampleRate;
    QLabel* lblSampleMode;
    QLineEdit* txtSampleMode;
    QLabel* lblAltitude;
    QLineEdit* txtAltitude;
    QTabBar* tabChannelHeader;
    QGroupBox* gboChannelHeader;
    QLabel* lblID;
    QLineEdit* txtID;
    QLabel* lblReference;
    QLineEdit* txtReference;
    QLabel* lblRefUnit;
    QLabel* lblRange;
    QLineEdit* txtRange;
    QLabel* lblRangeUnit;
    QLabel* lblMasterLevel;
    QLineEdit* txtMasterLevel;
    QLabel* lblMLevelUnit;
    QGroupBox* gboData;
    QTableView* stgData;

  signals:
    // The user moved the grid's current row to this sample.
    void SampleSelected(int index);

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The parts of the window, made by the constructor: the instrument's
    // fields, the channel tabs with their fields, the data grid.
    void MakeInstrumentInfo();
    void MakeChannelInfo();
    void MakeGrid();
    bool ExportTitled(const QString& path);
    // The header keeps its place; the grid below it takes the rest of the window.
    void FitGrid();
    void FormClose();
    void FormDestroy();
    void ShowChannelHeader(const ChannelHeader& channel, int instrumentType, const char* numberEnd,
                           bool masterLevel);
    void ClearChannelHeader();

    platform::WindowHandle mainWindow_;
    std::optional<LogHeader> headerCopy;
    std::vector<ChannelHeader> channelCopies;  // channelCount entries while a log is shown
    SampleGridModel gridModel_;
};

// The name a sample mode is shown under: "Fixed", the pump tests, "Event
// Based", or the four stored characters.
QString SampleModeName(const LogHeader& header);
