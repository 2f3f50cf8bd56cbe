#include "views/TfrmProgress.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QProgressBar* SmoothBar(int maximum, QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setRange(0, maximum);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedSize(241, 17);
    return bar;
}

// Numbers arrive as "%d\n"; the line feed must not grow the row.
QLabel* NumberLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFixedHeight(label->fontMetrics().height());
    return label;
}

}  // namespace

TfrmProgress::TfrmProgress(std::function<void()> postCancel, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint),
      postCancel_(std::move(postCancel)) {
    setObjectName("frmProgress");
    setWindowTitle("Download in Progress");
    setAttribute(Qt::WA_DeleteOnClose);

    auto* lblLogs = new QLabel("Reading log:", this);
    lblLogNum = NumberLabel(this);
    auto* lblOf = new QLabel("of", this);
    lblTotalLog = NumberLabel(this);
    proLogProgress = SmoothBar(100, this);
    auto* lblBlocks = new QLabel("Reading Block:", this);
    lblBlockNumber = NumberLabel(this);
    proDownloadProgress = SmoothBar(800, this);
    lblState = new QLabel(this);
    lblState->setFixedHeight(lblState->fontMetrics().height());
    butCancel = new QPushButton("&Cancel", this);
    butCancel->setFixedSize(73, 25);

    auto* logRow = new QHBoxLayout;
    logRow->addWidget(lblLogs);
    logRow->addWidget(lblLogNum);
    logRow->addWidget(lblOf);
    logRow->addWidget(lblTotalLog);
    logRow->addStretch();
    auto* blockRow = new QHBoxLayout;
    blockRow->addWidget(lblBlocks);
    blockRow->addWidget(lblBlockNumber);
    blockRow->addStretch();
    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(8, 8, 8, 8);
    form->addLayout(logRow);
    form->addWidget(proLogProgress);
    form->addSpacing(8);
    form->addLayout(blockRow);
    form->addWidget(proDownloadProgress);
    form->addWidget(lblState);
    form->addWidget(butCancel, 0, Qt::AlignHCenter);
    form->setSizeConstraint(QLayout::SetFixedSize);

    connect(butCancel, &QPushButton::clicked, this, &TfrmProgress::butCancelClick);
}

void TfrmProgress::butCancelClick() {
    postCancel_();
}

void TfrmProgress::reject() {
    butCancelClick();
}

void TfrmProgress::closeEvent(QCloseEvent* event) {
    // QDialog would turn a close into Escape's cancel request instead.
    event->setAccepted(closing_);
}

void TfrmProgress::Close() {
    closing_ = true;
    close();
}

void TfrmProgress::ResetBlocks() {
    proDownloadProgress->setValue(0);
    lblBlockNumber->setText("0");
}

void TfrmProgress::LookingForLogs(int found) {
    lblState->setText(found == 0 ? QStringLiteral("Looking for logs in the reader...")
                                 : QString("Looking for logs in the reader: %1 found").arg(found));
}
