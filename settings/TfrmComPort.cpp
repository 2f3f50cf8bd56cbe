#include "settings/TfrmComPort.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "Serial/CSerialLoader.h"
#include "settings/StoredSettings.h"
#include "widgets/PortComboBox.h"
#include "widgets/Prompts.h"

TfrmComPort::TfrmComPort(QComboBox& mainPorts, QTimer& watchdog, QWidget* parent,
                         CSerialLoader* link)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      mainPorts_(mainPorts),
      watchdog_(watchdog),
      link_(link) {
    setObjectName("frmComPort");
    setWindowTitle("Communication Port Setting");
    setModal(true);

    auto* lblComPort = new QLabel("Com Port Selection:    ", this);
    cmbComPort = new PortComboBox(this);
    // The main window's list, read again first when it can be.
    cmbComPort->SetLister([this]() -> std::optional<QList<PortChoice>> {
        if (auto* ports = qobject_cast<PortComboBox*>(&mainPorts_)) {
            ports->Refresh();
        }
        return PortsOf(mainPorts_);
    });
    auto* lblTimeOut = new QLabel("TimeOut Period:", this);
    cmbTimeOutPeriod = new QComboBox(this);
    cmbTimeOutPeriod->setEditable(true);
    cmbTimeOutPeriod->setInsertPolicy(QComboBox::NoInsert);
    for (int seconds = 1; seconds <= kTimeOutChoices; ++seconds) {
        cmbTimeOutPeriod->addItem(seconds == 1 ? QStringLiteral("1 Second")
                                               : QStringLiteral("%1 Seconds").arg(seconds));
    }

    chkTrace = new QCheckBox("Trace the serial line to:", this);
    txtTraceFile = new QLineEdit(this);
    txtTraceFile->setEnabled(false);
    connect(chkTrace, &QCheckBox::toggled, this, [this](bool on) {
        txtTraceFile->setEnabled(on);
        if (on && txtTraceFile->text().isEmpty()) {
            txtTraceFile->setText(QDir::home().filePath("arvelo-trace.txt"));
        }
    });

    auto* grid = new QGridLayout;
    grid->addWidget(lblComPort, 0, 0);
    grid->addWidget(cmbComPort, 0, 1);
    grid->addWidget(lblTimeOut, 1, 0);
    grid->addWidget(cmbTimeOutPeriod, 1, 1);
    grid->addWidget(chkTrace, 2, 0, 1, 2);
    grid->addWidget(txtTraceFile, 3, 0, 1, 2);
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
    // The editable box would keep Enter from the default button.
    connect(cmbTimeOutPeriod->lineEdit(), &QLineEdit::returnPressed, butOK, &QPushButton::click);
    connect(butCancel, &QPushButton::clicked, this, &TfrmComPort::butCancelClick);

    cmbComPort->SetPorts(PortsOf(mainPorts_));
    cmbComPort->setCurrentIndex(mainPorts_.currentIndex());
    GetComRegData();
    GetTraceRegData();
}

void TfrmComPort::SetWatchdogSeconds(quint32 seconds) {
    // Hand-edited values are taken as they are, within the range a run takes.
    watchdog_.setInterval(static_cast<int>(settings::TimeOutMs(seconds)));
}

void TfrmComPort::GetComRegData() {
    settings::SettingsKey::Disposition disposition;
    settings::PortSettings stored = settings::PortSettings::Load(&disposition);
    switch (disposition) {
        case settings::SettingsKey::Disposition::Failed:
            return;
        case settings::SettingsKey::Disposition::CreatedNew:
            stored.comPort = cmbComPort->currentText();
            stored.Save();
            cmbTimeOutPeriod->setCurrentIndex(static_cast<int>(stored.timeOutSeconds) - 1);
            SetWatchdogSeconds(stored.timeOutSeconds);
            return;
        case settings::SettingsKey::Disposition::OpenedExisting:
            break;
    }
    cmbComPort->setCurrentIndex(0);
    if (stored.comPort) {
        mainPorts_.setCurrentIndex(0);
        // The last match wins; a port the machine no longer has leaves the first.
        for (int i = 0; i < cmbComPort->count(); ++i) {
            if (cmbComPort->itemText(i).compare(*stored.comPort, Qt::CaseInsensitive) == 0) {
                cmbComPort->setCurrentIndex(i);
                mainPorts_.setCurrentIndex(i);
            }
        }
    }
    // Any stored value is accepted; one outside the list selects nothing.
    const qint64 index = static_cast<qint64>(stored.timeOutSeconds) - 1;
    if (index >= 0 && index < cmbTimeOutPeriod->count()) {
        cmbTimeOutPeriod->setCurrentIndex(static_cast<int>(index));
    } else {
        cmbTimeOutPeriod->setCurrentIndex(-1);
    }
    SetWatchdogSeconds(stored.timeOutSeconds);
}

void TfrmComPort::GetTraceRegData() {
    const QString path = settings::PortSettings::Load().traceFile.value_or(QString());
    txtTraceFile->setText(path);
    chkTrace->setChecked(!path.isEmpty());
    // Like the other settings, a file that cannot be opened now is not reported.
    ApplyTrace(path);
}

bool TfrmComPort::ApplyTrace(const QString& path) {
    if (path == tracePath_) {
        return true;  // already so
    }
    std::shared_ptr<LinkTrace> trace;
    if (!path.isEmpty()) {
        trace = FileLinkTrace::Open(path.toLocal8Bit().toStdString(), nullptr);
        if (!trace) {
            return false;
        }
    }
    if (link_ != nullptr) {
        link_->SetTrace(trace);
    }
    tracePath_ = path;
    return true;
}

int TfrmComPort::ChosenTimeOut() const {
    // What the box shows, when it names an item: typing "7" completes to
    // "7 Seconds" (the first item it begins), and a user who typed 7 means 7.
    const QString text = cmbTimeOutPeriod->currentText();
    int index = cmbTimeOutPeriod->findText(text);
    if (index < 0 && !text.isEmpty()) {
        index = cmbTimeOutPeriod->findText(text, Qt::MatchStartsWith);
    }
    return index < 0 ? static_cast<int>(settings::DEFAULT_TIME_OUT) : index + 1;
}

void TfrmComPort::butOKClick() {
    const bool tracing = chkTrace->isChecked();
    const QString tracePath = tracing ? txtTraceFile->text().trimmed() : QString();
    if ((tracing && tracePath.isEmpty()) || !ApplyTrace(tracePath)) {
        Prompts().MessageBox(this, "Unable to open the trace file!", "Error", Prompter::Buttons::Ok,
                             Prompter::Icon::Error);
        return;
    }
    settings::PortSettings chosen;
    // The whole name is kept: cutting it to five characters would turn
    // "COM10:" into a name that matches no port at the next start.
    chosen.comPort = cmbComPort->currentText();
    chosen.timeOutSeconds = static_cast<quint32>(ChosenTimeOut());
    chosen.traceFile = tracePath;
    chosen.Save();
    mainPorts_.setCurrentIndex(cmbComPort->currentIndex());
    SetWatchdogSeconds(chosen.timeOutSeconds);
    accept();
}

void TfrmComPort::butCancelClick() {
    reject();
}

void TfrmComPort::showEvent(QShowEvent* event) {
    // The main window's list may have been read again since.
    cmbComPort->SetPorts(PortsOf(mainPorts_));
    GetComRegData();
    GetTraceRegData();
    cmbComPort->setCurrentIndex(mainPorts_.currentIndex());
    QDialog::showEvent(event);
}
