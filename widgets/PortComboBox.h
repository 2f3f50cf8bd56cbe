#pragma once
// A list of COM ports to choose from, as the main window and the port
// settings show it: each name ("COM5:", what is stored and opened) with what
// the system says stands behind it beside it in the open list and in its
// tooltip. The list is read again each time it opens, so that a reader
// plugged in after start-up is offered.

#include <QComboBox>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct PortChoice {
    QString name;    // "COM5:"
    QString device;  // "FT232R USB UART (/dev/ttyUSB0)"; may be empty
};
// Every port there is; nothing when they cannot be found.
using PortLister = std::function<std::optional<QList<PortChoice>>()>;

// The ports a list holds, in its order.
QList<PortChoice> PortsOf(const QComboBox& list);

class PortComboBox final : public QComboBox {
    Q_OBJECT

  public:
    explicit PortComboBox(QWidget* parent = nullptr);

    // Asked each time the list opens; nothing leaves the list as it is.
    void SetLister(PortLister lister) { lister_ = std::move(lister); }
    // Asks the lister now.
    void Refresh();
    // Replaces the items; the chosen name stays chosen while it is listed,
    // else the first one is.
    void SetPorts(const QList<PortChoice>& ports);

    void showPopup() override;

  private:
    PortLister lister_;
};
