#pragma once
// "Communication Port Setting": the default COM port and the connection
// time-out. Both are stored and applied straight to the main window: the port
// becomes the selection of its port list, the time-out the interval of its
// connection watchdog. Beside them, for diagnosing a cable or a reader, a
// file into which the serial link traces every frame.

#include <QDialog>

class CSerialLoader;
class QCheckBox;
class PortComboBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTimer;

class TfrmComPort : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kTimeOutChoices = 12;

    // Copies the items and selection of the main window's port list, then
    // applies the stored settings to it, to its watchdog and to its serial
    // link (none: the trace file is stored but traces nothing).
    TfrmComPort(QComboBox& mainPorts, QTimer& watchdog, QWidget* parent = nullptr,
                CSerialLoader* link = nullptr);

    void GetComRegData();

    PortComboBox* cmbComPort;
    QComboBox* cmbTimeOutPeriod;
    QCheckBox* chkTrace;
    QLineEdit* txtTraceFile;
    QPushButton* butOK;
    QPushButton* butCancel;

  public slots:
    void butOKClick();
    void butCancelClick();

  protected:
    void showEvent(QShowEvent* event) override;  // FormShow

  private:
    void SetWatchdogSeconds(quint32 seconds);
    // The chosen time-out: the number of the item the box shows, or the
    // default when its text names none.
    int ChosenTimeOut() const;
    // Shows the stored trace file and traces the link into it.
    void GetTraceRegData();
    // Traces the link into path (empty: no trace); false when the file
    // cannot be opened for writing.
    bool ApplyTrace(const QString& path);

    QComboBox& mainPorts_;
    QTimer& watchdog_;
    CSerialLoader* link_;
    QString tracePath_;  // the file the link traces into; empty: none
};
