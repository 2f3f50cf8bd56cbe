#include "app/TfrmAbout.h"

#include <QLabel>

#include "app/TfrmSplash.h"

TfrmAbout::TfrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName("frmAbout");
    setWindowTitle("Arvelo");
    setFixedSize(399, 299);
    AddTitleImages(this, &imaTitle, &imaTitleOmbr);
    lblInfo = new QLabel("Arvelo Version 1.07\nLevel logger download tool", this);
    lblInfo->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    lblInfo->setStyleSheet("color: #ffffff;");
    lblInfo->setGeometry(150, 230, 240, 60);
}

void TfrmAbout::mousePressEvent(QMouseEvent* event) {
    QDialog::mousePressEvent(event);
    close();
}
