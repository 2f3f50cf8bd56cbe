#pragma once
// The about box: title picture and version, shown without being modal.
// Escape, its close button or a click anywhere closes it.

#include <QDialog>

class QLabel;

class TfrmAbout : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmAbout(QWidget* parent = nullptr);

    QLabel* imaTitle;
    QLabel* imaTitleOmbr;
    QLabel* lblInfo;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};
