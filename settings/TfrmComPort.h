#pragma once
// "Communication Port Setting": the default COM port and the connection
// time-out. Both are stored and applied straight to the main window: the port
// becomes the selection of its port list, the time-out the interval of its
// connection watchdog.

#include <QDialog>

class QComboBox;
class QPushButton;
class QTimer;

class TfrmComPort : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kDefaultTimeOut = 5;  // seconds
    static constexpr int kTimeOutChoices = 12;

    // Copies the items and selection of the main window's port list, then
    // applies the stored settings to it and to its watchdog.
    TfrmComPort(QComboBox& mainPorts, QTimer& watchdog, QWidget* parent = nullptr);

    void GetComRegData();

    QComboBox* cmbComPort;
    QComboBox* cmbTimeOutPeriod;
    QPushButton* butOK;
    QPushButton* butCancel;

  public slots:
    void butOKClick();
    void butCancelClick();

  protected:
    void showEvent(QShowEvent* event) override;  // FormShow

  private:
    void SetWatchdogSeconds(qint64 seconds);
    // The chosen time-out: the selected item's position + 1, or the default
    // when no item is selected (text typed into the box).
    int ChosenTimeOut() const;

    QComboBox& mainPorts_;
    QTimer& watchdog_;
};
