#include "settings/TfrmComPort.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "settings/SettingsStore.h"

namespace {

// "DefaultComPort" is read into 32 bytes.
constexpr int kComPortBytes = 32;

}  // namespace

TfrmComPort::TfrmComPort(QComboBox& mainPorts, QTimer& watchdog, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainPorts_(mainPorts),
      watchdog_(watchdog) {
    setObjectName("frmComPort");
    setWindowTitle("Communication Port Setting");
    setModal(true);

    auto* lblComPort = new QLabel("Com Port Selection:    ", this);
    cmbComPort = new QComboBox(this);
    auto* lblTimeOut = new QLabel("TimeOut Period:", this);
    cmbTimeOutPeriod = new QComboBox(this);
    cmbTimeOutPeriod->setEditable(true);
    cmbTimeOutPeriod->setInsertPolicy(QComboBox::NoInsert);
    for (int seconds = 1; seconds <= kTimeOutChoices; ++seconds) {
        cmbTimeOutPeriod->addItem(seconds == 1 ? QStringLiteral("1 Second")
                                               : QStringLiteral("%1 Seconds").arg(seconds));
    }

    auto* grid = new QGridLayout;
    grid->addWidget(lblComPort, 0, 0);
    grid->addWidget(cmbComPort, 0, 1);
    grid->addWidget(lblTimeOut, 1, 0);
    grid->addWidget(cmbTimeOutPeriod, 1, 1);
    auto* buttons = new QDialogButtonBox(this);
    butOK = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
    butOK->setDefault(true);
    butCancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);
    auto* form = new QVBoxLayout(this);
    form->addLayout(grid);
    form->addStretch();
    form->addWidget(buttons);
    // Fixed border: at least the designed client area, more when the fonts need it.
    setFixedSize(sizeHint().expandedTo(QSize(239, 144)));

    connect(butOK, &QPushButton::clicked, this, &TfrmComPort::butOKClick);
    connect(butCancel, &QPushButton::clicked, this, &TfrmComPort::butCancelClick);

    for (int i = 0; i < mainPorts_.count(); ++i) {
        cmbComPort->addItem(mainPorts_.itemText(i));
    }
    cmbComPort->setCurrentIndex(mainPorts_.currentIndex());
    GetComRegData();
}

void TfrmComPort::SetWatchdogSeconds(qint64 seconds) {
    // Hand-edited values are taken as they are, but a watchdog that fires at
    // once or an interval that overflows the timer would make every run fail.
    watchdog_.setInterval(static_cast<int>(std::clamp<qint64>(seconds * 1000, 1000, INT_MAX)));
}

void TfrmComPort::GetComRegData() {
    settings::SettingsKey key(settings::KEY_COM_PORT);
    switch (key.disposition()) {
        case settings::SettingsKey::Disposition::Failed:
            return;
        case settings::SettingsKey::Disposition::CreatedNew:
            key.SetString(settings::VALUE_COM_PORT, cmbComPort->currentText());
            cmbTimeOutPeriod->setCurrentIndex(kDefaultTimeOut - 1);
            key.SetDword(settings::VALUE_TIME_OUT, kDefaultTimeOut);
            SetWatchdogSeconds(kDefaultTimeOut);
            return;
        case settings::SettingsKey::Disposition::OpenedExisting:
            break;
    }
    const std::optional<QString> port = key.QueryString(settings::VALUE_COM_PORT, kComPortBytes);
    cmbComPort->setCurrentIndex(0);
    if (port) {
        mainPorts_.setCurrentIndex(0);
        // The last match wins; a port the machine no longer has leaves the first.
        for (int i = 0; i < cmbComPort->count(); ++i) {
            if (cmbComPort->itemText(i).compare(*port, Qt::CaseInsensitive) == 0) {
                cmbComPort->setCurrentIndex(i);
                mainPorts_.setCurrentIndex(i);
            }
        }
    }
    const std::optional<quint32> stored = key.QueryDword(settings::VALUE_TIME_OUT);
    const qint64 timeOut = stored ? static_cast<qint64>(*stored) : kDefaultTimeOut;
    // Any stored value is accepted; one outside the list selects nothing.
    const qint64 index = timeOut - 1;
    if (index >= 0 && index < cmbTimeOutPeriod->count()) {
        cmbTimeOutPeriod->setCurrentIndex(static_cast<int>(index));
    } else {
        cmbTimeOutPeriod->setCurrentIndex(-1);
    }
    SetWatchdogSeconds(timeOut);
}

int TfrmComPort::ChosenTimeOut() const {
    const int index = cmbTimeOutPeriod->currentIndex();
    if (index < 0 || cmbTimeOutPeriod->currentText() != cmbTimeOutPeriod->itemText(index)) {
        return kDefaultTimeOut;
    }
    return index + 1;
}

void TfrmComPort::butOKClick() {
    settings::SettingsKey key(settings::KEY_COM_PORT);
    // The whole name is kept: cutting it to five characters would turn
    // "COM10:" into a name that matches no port at the next start.
    key.SetString(settings::VALUE_COM_PORT, cmbComPort->currentText());
    const int timeOut = ChosenTimeOut();
    key.SetDword(settings::VALUE_TIME_OUT, static_cast<quint32>(timeOut));
    mainPorts_.setCurrentIndex(cmbComPort->currentIndex());
    SetWatchdogSeconds(timeOut);
    accept();
}

void TfrmComPort::butCancelClick() {
    reject();
}

void TfrmComPort::showEvent(QShowEvent* event) {
    GetComRegData();
    cmbComPort->setCurrentIndex(mainPorts_.currentIndex());
    QDialog::showEvent(event);
}
