#pragma once
// The sample grid of the data window: one row per sample of the first
// channel, one column per channel. Cells are formatted when they are asked
// for, from copies of the sample values and the log's sample times, so a log
// of 30000 samples and 10 channels opens and scrolls at once.
//
// Two views of the same cells:
// - the grid's own coordinates (Cell): row 0 holds the titles, column 0 the
//   date/time of each sample, as the Export reads them;
// - the Qt model: rows and columns are the samples and channels only; the
//   titles are the horizontal header and the date/times the vertical
//   header, so both stay in place while the view scrolls.

#include <QAbstractTableModel>
#include <string>
#include <string_view>
#include <vector>

#include "device/DeviceLog.h"
#include "device/SampleTime.h"

// Reader texts are single bytes, shown as they came.
QString Latin1(std::string_view text);

class SampleGridModel final : public QAbstractTableModel {
    Q_OBJECT

  public:
    static constexpr const char* kDateTimeTitle = "Date/Time";

    using QAbstractTableModel::QAbstractTableModel;

    // Shows the samples of the log's first channelCount channels; a position
    // the log does not hold reads as a channel without samples.
    void SetLog(const DeviceLog& log);
    // No channels and no samples: only the date/time title is left.
    void Clear();

    // Grid coordinates, title row and date/time column included.
    int GridRowCount() const { return static_cast<int>(times_.size()) + 1; }
    int GridColumnCount() const { return static_cast<int>(columns_.size()) + 1; }
    // The text of a cell in grid coordinates; empty outside the grid.
    std::string Cell(int column, int row) const;
    // Whether a channel's cell holds a sample of its own: not past the end of
    // a shorter channel, nor a value the reader marks out of range.
    bool HasSample(int column, int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    struct Column {
        std::string title;
        int decimals = 0;
        std::vector<double> values;  // may be shorter than the grid: -100 below its end
    };

    std::string DateTimeText(int sample) const;
    std::string ValueText(const Column& column, int sample) const;

    std::vector<SampleTime> times_;
    std::vector<Column> columns_;
};
