#include "settings/TfrmDirSetting.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <cstring>

#include "settings/SettingsStore.h"
#include "views/Prompts.h"

namespace {

const QString kOmb = QStringLiteral(".omb");
const QString kCsv = QStringLiteral(".csv");

QString WithSeparator(const QString& directory) {
    return QDir::toNativeSeparators(directory) + QDir::separator();
}

bool IsDirectory(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// Whether the text and its terminator fit in size bytes.
bool FitsWithTerminator(const QByteArray& text, int size) {
    return text.size() + 1 <= size;
}

}  // namespace

DirSettingDefaults DirSettingDefaults::ForThisProgram() {
    DirSettingDefaults defaults;
    defaults.exampleDir =
        QStringLiteral("c:\\Program Files\\Marlith Vovezazazuz\\Ombrel\\Examples\\");
    defaults.programDir = WithSeparator(QCoreApplication::applicationDirPath());
    defaults.documentsDir = WithSeparator(
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/Arvelo");
    return defaults;
}

TfrmDirSetting::TfrmDirSetting(QWidget* parent, DirSettingDefaults defaults)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      defaults_(std::move(defaults)) {
    setObjectName("frmDirSetting");
    setWindowTitle("Directory Setting");
    setModal(true);

    auto* lblDefaultPath = new QLabel("Default Data Directory:", this);
    txtDefaultPath = new QLineEdit(this);
    butDefaultPath = new QPushButton("...", this);
    butDefaultPath->setFixedWidth(28);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(txtDefaultPath);
    pathRow->addWidget(butDefaultPath);

    auto* rgpFileName = new QGroupBox("Default File Name Format", this);
    auto* lblFileNameFormat = new QLabel("Include:", rgpFileName);
    chkStartTime = new QCheckBox("Start Date", rgpFileName);
    chkSerialNumber = new QCheckBox("Serial Number", rgpFileName);
    chkLocation = new QCheckBox("Location", rgpFileName);
    chkLastDate = new QCheckBox("Last Date", rgpFileName);
    auto* Label1 = new QLabel("Note: If no selections are made, log 'x' is the default file name.",
                              rgpFileName);
    Label1->setWordWrap(true);
    auto* nameGrid = new QGridLayout(rgpFileName);
    nameGrid->addWidget(lblFileNameFormat, 0, 0, 1, 2);
    nameGrid->addWidget(chkStartTime, 1, 0);
    nameGrid->addWidget(chkSerialNumber, 2, 0);
    nameGrid->addWidget(chkLocation, 1, 1);
    nameGrid->addWidget(chkLastDate, 2, 1);
    nameGrid->addWidget(Label1, 3, 0, 1, 2);

    auto* rgpFileType = new QGroupBox("Default File Type", this);
    rbuQltType = new QRadioButton(rgpFileType);
    rbucsv = new QRadioButton("Comma Seperated Value (csv)", rgpFileType);
    auto* typeColumn = new QVBoxLayout(rgpFileType);
    typeColumn->addWidget(rbuQltType);
    typeColumn->addWidget(rbucsv);

    auto* buttons = new QDialogButtonBox(this);
    butOK = buttons->addButton("&OK", QDialogButtonBox::AcceptRole);
    butOK->setDefault(true);
    butCancel = buttons->addButton("&Cancel", QDialogButtonBox::RejectRole);

    auto* form = new QVBoxLayout(this);
    form->addWidget(lblDefaultPath);
    form->addLayout(pathRow);
    form->addWidget(rgpFileName);
    form->addWidget(rgpFileType);
    form->addWidget(buttons);
    // Fixed border: at least the designed client area, more when the fonts need it.
    setFixedSize(sizeHint().expandedTo(QSize(321, 280)));

    connect(butDefaultPath, &QPushButton::clicked, this, &TfrmDirSetting::butDefaultPathClick);
    connect(butOK, &QPushButton::clicked, this, &TfrmDirSetting::butOKClick);
    connect(butCancel, &QPushButton::clicked, this, &TfrmDirSetting::butCancelClick);

    rbuQltType->setText("Ombrel format (omb)");
    rbuQltType->setChecked(true);
    GetRegData();
}

QString TfrmDirSetting::ProgramDirectory() const {
    if (QFileInfo(defaults_.programDir).isWritable()) {
        return defaults_.programDir;
    }
    QDir().mkpath(defaults_.documentsDir);
    return defaults_.documentsDir;
}

void TfrmDirSetting::ShowDirectory(const QString& directory) {
    txtDefaultPath->setText(directory);
    OutputDir = directory;
}

void TfrmDirSetting::ShowFileType(const QString& fileType) {
    FileType = fileType;
    (fileType == kOmb ? rbuQltType : rbucsv)->setChecked(true);
}

void TfrmDirSetting::ShowFileOption(uint32_t option) {
    FileOption = option;
    chkSerialNumber->setChecked((option & FILE_NAME_SERIAL) != 0);
    chkLocation->setChecked((option & FILE_NAME_LOCATION) != 0);
    chkStartTime->setChecked((option & FILE_NAME_START_DATE) != 0);
    chkLastDate->setChecked((option & FILE_NAME_LAST_DATE) != 0);
}

void TfrmDirSetting::GetRegData() {
    settings::SettingsKey key(settings::KEY_ARVELO);
    switch (key.disposition()) {
        case settings::SettingsKey::Disposition::Failed:
            // Without a store the fields still need usable values once.
            if (FileType.isEmpty()) {
                ShowDirectory(ProgramDirectory());
                ShowFileType(kOmb);
                ShowFileOption(kDefaultFileOption);
            }
            return;
        case settings::SettingsKey::Disposition::CreatedNew: {
            const QString directory =
                IsDirectory(defaults_.exampleDir) ? defaults_.exampleDir : ProgramDirectory();
            key.SetString(settings::VALUE_OUTPUT_DIR, directory);
            ShowDirectory(directory);
            key.SetString(settings::VALUE_FILE_TYPE, kOmb);
            key.SetDword(settings::VALUE_FILE_OPTION, kDefaultFileOption);
            ShowFileType(kOmb);
            ShowFileOption(kDefaultFileOption);
            return;
        }
        case settings::SettingsKey::Disposition::OpenedExisting:
            break;
    }
    // A stored directory longer than the field is read as absent, like a
    // registry read into a 256-byte buffer.
    ShowDirectory(key.QueryString(settings::VALUE_OUTPUT_DIR, kMaxOutputDir + 1)
                      .value_or(ProgramDirectory()));
    const std::optional<QString> fileType = key.QueryString(settings::VALUE_FILE_TYPE, 256);
    ShowFileType(!fileType || *fileType == kOmb ? kOmb : kCsv);
    ShowFileOption(key.QueryDword(settings::VALUE_FILE_OPTION).value_or(kDefaultFileOption));
}

bool TfrmDirSetting::GetSettings(uint32_t* option, char* directory, char* fileType,
                                 int directorySize, int fileTypeSize) const {
    const QByteArray dir = OutputDir.toLocal8Bit();
    const QByteArray type = FileType.toLocal8Bit();
    if (option == nullptr || directory == nullptr || fileType == nullptr ||
        !FitsWithTerminator(dir, directorySize) || !FitsWithTerminator(type, fileTypeSize)) {
        return false;
    }
    *option = FileOption;
    std::memcpy(directory, dir.constData(), dir.size() + 1);
    std::memcpy(fileType, type.constData(), type.size() + 1);
    return true;
}

void TfrmDirSetting::butDefaultPathClick() {
    const QString chosen = Prompts().BrowseForFolder(this);
    if (!chosen.isEmpty()) {
        txtDefaultPath->setText(WithSeparator(chosen));
    }
}

void TfrmDirSetting::butOKClick() {
    const QString directory = txtDefaultPath->text();
    // The field holds 255 bytes; a longer directory is refused like a missing one.
    if (!IsDirectory(directory) || directory.toLocal8Bit().size() > kMaxOutputDir) {
        Prompts().MessageBox(this, "Unable to locate the directory!", "Error",
                             Prompter::Buttons::Ok, Prompter::Icon::Error);
        return;
    }
    settings::SettingsKey key(settings::KEY_ARVELO);
    key.SetString(settings::VALUE_OUTPUT_DIR, directory);
    uint32_t option = 0;
    if (chkStartTime->isChecked()) {
        option |= FILE_NAME_START_DATE;
    }
    if (chkLocation->isChecked()) {
        option |= FILE_NAME_LOCATION;
    }
    if (chkSerialNumber->isChecked()) {
        option |= FILE_NAME_SERIAL;
    }
    if (chkLastDate->isChecked()) {
        option |= FILE_NAME_LAST_DATE;
    }
    key.SetDword(settings::VALUE_FILE_OPTION, option);
    FileOption = option;
    OutputDir = directory;
    FileType = rbuQltType->isChecked() ? kOmb : kCsv;
    key.SetString(settings::VALUE_FILE_TYPE, FileType);
    accept();
}

void TfrmDirSetting::butCancelClick() {
    reject();
}

void TfrmDirSetting::showEvent(QShowEvent* event) {
    GetRegData();
    QDialog::showEvent(event);
}
