#include "views/SampleGridModel.h"

#include <algorithm>

#include "device/FixedText.h"

QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void SampleGridModel::SetLog(const DeviceLog& log) {
    beginResetModel();
    times_ = SampleTimes(log);
    columns_.clear();
    const int count = std::max(log.channelCount(), 0);
    columns_.resize(static_cast<std::size_t>(count));
    const LogChannel fresh;
    for (int j = 0; j < count; ++j) {
        const LogChannel* channel = log.channel(j);
        const LogChannel& source = channel ? *channel : fresh;
        Column& column = columns_[static_cast<std::size_t>(j)];
        column.title = ChannelIdentification(source.header(), log.header().instrumentType);
        column.decimals = source.header().rangeDecimals;
        column.values.assign(source.values().begin(), source.values().end());
    }
    endResetModel();
}

void SampleGridModel::Clear() {
    beginResetModel();
    times_.clear();
    columns_.clear();
    endResetModel();
}

std::string SampleGridModel::Cell(int column, int row) const {
    if (column < 0 || column >= GridColumnCount() || row < 0 || row >= GridRowCount()) {
        return {};
    }
    if (row == 0) {
        return column == 0 ? kDateTimeTitle : columns_[static_cast<std::size_t>(column - 1)].title;
    }
    if (column == 0) {
        return DateTimeText(row - 1);
    }
    return ValueText(columns_[static_cast<std::size_t>(column - 1)], row - 1);
}

bool SampleGridModel::HasSample(int column, int row) const {
    if (column < 1 || column >= GridColumnCount() || row < 1 || row >= GridRowCount()) {
        return false;
    }
    const std::vector<double>& values = columns_[static_cast<std::size_t>(column - 1)].values;
    const auto k = static_cast<std::size_t>(row - 1);
    return k < values.size() && values[k] != LogChannel::kNoValue;
}

// "YYYY/MM/DD ,HH:MM:SS.t"
std::string SampleGridModel::DateTimeText(int sample) const {
    return SampleTimeText(times_[static_cast<std::size_t>(sample)], " ,");
}

std::string SampleGridModel::ValueText(const Column& column, int sample) const {
    const std::size_t k = static_cast<std::size_t>(sample);
    const double value = k < column.values.size() ? column.values[k] : LogChannel::kNoValue;
    return DecimalText(value, column.decimals);
}

int SampleGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(times_.size());
}

int SampleGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant SampleGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) {
        return {};
    }
    return Latin1(Cell(index.column() + 1, index.row() + 1));
}

QVariant SampleGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole || section < 0) {
        return {};
    }
    return Latin1(orientation == Qt::Horizontal ? Cell(section + 1, 0) : Cell(0, section + 1));
}

Qt::ItemFlags SampleGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}
