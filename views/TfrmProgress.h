#pragma once
// "Download in Progress": which log and which block of it is being read, and
// Cancel. It only shows what the main window puts into it; Cancel (or Escape)
// posts the cancel request to the main window, which closes the window.

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class TfrmProgress : public QDialog {
    Q_OBJECT

  public:
    // postCancel posts the cancel request to the main window.
    TfrmProgress(std::function<void()> postCancel, QWidget* parent = nullptr);

    // The main window's close; the window frees itself.
    void Close();
    // No block of the log read yet: the block bar and count back to zero.
    void ResetBlocks();
    // The run walks the reader's chain of logs and has found so many.
    void LookingForLogs(int found);

    QLabel* lblLogNum;
    QLabel* lblTotalLog;
    QProgressBar* proLogProgress;
    QLabel* lblBlockNumber;
    QProgressBar* proDownloadProgress;
    QLabel* lblState;  // what the run does before it reads logs
    QPushButton* butCancel;

  public slots:
    void butCancelClick();
    void reject() override;  // Escape

  protected:
    // Only the main window closes it; the user cannot.
    void closeEvent(QCloseEvent* event) override;

  private:
    std::function<void()> postCancel_;
    bool closing_ = false;
};
