#include "app/TfrmSplash.h"

#include <QLabel>
#include <QPixmap>

void AddTitleImages(QWidget* form, QLabel** imaTitle, QLabel** imaTitleOmbr) {
    *imaTitle = new QLabel(form);
    (*imaTitle)->setPixmap(QPixmap(":/arvelo/title.svg"));
    (*imaTitle)->setGeometry(0, 0, 400, 300);
    (*imaTitle)->hide();
    *imaTitleOmbr = new QLabel(form);
    (*imaTitleOmbr)->setPixmap(QPixmap(":/arvelo/title-ombrel.svg"));
    (*imaTitleOmbr)->setGeometry(0, 0, 400, 300);
}

TfrmSplash::TfrmSplash(int showMs, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName("frmSplash");
    setFixedSize(399, 303);
    setCursor(Qt::BusyCursor);
    AddTitleImages(this, &imaTitle, &imaTitleOmbr);
    tmrSplash.setSingleShot(true);
    tmrSplash.setInterval(showMs);
    connect(&tmrSplash, &QTimer::timeout, this, &QDialog::close);
    tmrSplash.start();
}
