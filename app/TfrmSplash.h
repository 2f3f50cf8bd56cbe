#pragma once
// The start-up splash: the title picture for a few seconds, shown modally
// from the main window's constructor before the main window appears.

#include <QDialog>
#include <QTimer>

class QLabel;

class TfrmSplash : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kShowMs = 3000;

    explicit TfrmSplash(int showMs = kShowMs, QWidget* parent = nullptr);

    QLabel* imaTitle;
    QLabel* imaTitleOmbr;
    QTimer tmrSplash;
};

// The two title pictures, one above the other; the Ombrel one is shown.
// Shared by the splash and the about box.
void AddTitleImages(QWidget* form, QLabel** imaTitle, QLabel** imaTitleOmbr);
