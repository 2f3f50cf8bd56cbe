#include "widgets/PortComboBox.h"

#include <QAbstractItemView>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

constexpr int kDeviceRole = Qt::UserRole;

// An entry of the open list: the name, then the device.
class PortItemDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString device = index.data(kDeviceRole).toString();
        if (!device.isEmpty()) {
            option->text += QStringLiteral("    ") + device;
        }
    }
};

}  // namespace

QList<PortChoice> PortsOf(const QComboBox& list) {
    QList<PortChoice> ports;
    for (int i = 0; i < list.count(); ++i) {
        ports.append({list.itemText(i), list.itemData(i, kDeviceRole).toString()});
    }
    return ports;
}

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    setItemDelegate(new PortItemDelegate(this));
    connect(this, &QComboBox::currentIndexChanged, this,
            [this](int index) { setToolTip(itemData(index, kDeviceRole).toString()); });
}

void PortComboBox::Refresh() {
    if (!lister_) {
        return;
    }
    if (const std::optional<QList<PortChoice>> ports = lister_()) {
        SetPorts(*ports);
    }
}

void PortComboBox::SetPorts(const QList<PortChoice>& ports) {
    const QString chosen = currentText();
    clear();
    for (const PortChoice& port : ports) {
        addItem(port.name);
        setItemData(count() - 1, port.device, kDeviceRole);
        setItemData(count() - 1, port.device, Qt::ToolTipRole);
    }
    const int index = findText(chosen);
    setCurrentIndex(index >= 0 ? index : 0);
    // The open list as wide as its names and devices.
    view()->setMinimumWidth(view()->sizeHintForColumn(0) +
                            view()->verticalScrollBar()->sizeHint().width());
}

void PortComboBox::showPopup() {
    Refresh();
    QComboBox::showPopup();
}
