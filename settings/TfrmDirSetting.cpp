#include "settings/TfrmDirSetting.h"

#include <QCheckBox>
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

#include "platform/Files.h"
#include "settings/StoredSettings.h"
#include "widgets/Prompts.h"

namespace {

// A folder the program or the browser gives, as the dialog has always shown
// it: with a separator appended.
QString WithSeparator(const QString& directory) {
    return QDir::toNativeSeparators(directory) + QDir::separator();
}

bool IsDirectory(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// Why a directory cannot take the files, empty when it can. It is tested by
// entering it, as a download does, and by writing to it; the field holds
// 255 bytes.
QString Refusal(const QString& directory) {
    // A relative folder would lie wherever the program happens to run.
    if (!directory.isEmpty() && !QDir::isAbsolutePath(directory)) {
        return QString(
                   "The directory needs its full path, starting with %1:\n%2 would lie in %3, "
                   "the folder the program happens to run in.")
            .arg(QDir::toNativeSeparators(QDir::rootPath()), directory,
                 QDir::toNativeSeparators(QDir::currentPath()));
    }
    if (!IsDirectory(directory)) {
        return "Unable to locate the directory!\n" + directory;
    }
    const QFileInfo folder(directory);
    if (!folder.isExecutable() || !folder.isWritable()) {
        return "The directory cannot be written to:\n" + directory +
               "\nChoose another one, or ask for the right to write to it.";
    }
    if (directory.toLocal8Bit().size() > settings::MAX_OUTPUT_DIR_BYTES) {
        return QString("Unable to locate the directory!\nIts path is longer than %1 bytes.")
            .arg(settings::MAX_OUTPUT_DIR_BYTES);
    }
    return {};
}

// Whether the text and its terminator fit in size bytes.
bool FitsWithTerminator(const QByteArray& text, int size) {
    return text.size() + 1 <= size;
}

}  // namespace

DirSettingDefaults DirSettingDefaults::ForThisProgram() {
    return {WithSeparator(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
                          "/Arvelo")};
}

QString DirSettingDefaults::UsedOutputDir() const {
    QDir().mkpath(outputDir);
    return outputDir;
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

void TfrmDirSetting::Show(const settings::DirectorySettings& stored) {
    refusedDir_ = stored.tooLongOutputDir.value_or(QString());
    const QString directory = stored.outputDir.value_or(QString());
    txtDefaultPath->setText(refusedDir_.isEmpty() ? directory : refusedDir_);
    OutputDir = directory;
    FileType = stored.fileType;
    (FileType == settings::FILE_TYPE_OMB ? rbuQltType : rbucsv)->setChecked(true);
    FileOption = stored.fileOption;
    chkSerialNumber->setChecked((FileOption & FILE_NAME_SERIAL) != 0);
    chkLocation->setChecked((FileOption & FILE_NAME_LOCATION) != 0);
    chkStartTime->setChecked((FileOption & FILE_NAME_START_DATE) != 0);
    chkLastDate->setChecked((FileOption & FILE_NAME_LAST_DATE) != 0);
}

void TfrmDirSetting::GetRegData() {
    settings::SettingsKey::Disposition disposition;
    settings::DirectorySettings stored = settings::DirectorySettings::Load(&disposition);
    switch (disposition) {
        case settings::SettingsKey::Disposition::Failed:
            // Without a store the fields still need usable values once.
            if (FileType.isEmpty()) {
                stored.outputDir = defaults_.UsedOutputDir();
                Show(stored);
            }
            return;
        case settings::SettingsKey::Disposition::CreatedNew:
            stored.outputDir = defaults_.UsedOutputDir();
            stored.Save();
            break;
        case settings::SettingsKey::Disposition::OpenedExisting:
            // An absent directory is shown, not stored; one too long is refused.
            if (!stored.outputDir && !stored.tooLongOutputDir) {
                stored.outputDir = defaults_.UsedOutputDir();
            }
            break;
    }
    Show(stored);
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
    const QString directory = QString::fromStdString(
        platform::WithTrailingSeparator(txtDefaultPath->text().toStdString()));
    if (const QString refusal = Refusal(directory); !refusal.isEmpty()) {
        Prompts().MessageBox(this, refusal, "Error", Prompter::Buttons::Ok, Prompter::Icon::Error);
        return;
    }
    settings::DirectorySettings chosen;
    chosen.outputDir = directory;
    chosen.fileOption = 0;
    if (chkStartTime->isChecked()) {
        chosen.fileOption |= FILE_NAME_START_DATE;
    }
    if (chkLocation->isChecked()) {
        chosen.fileOption |= FILE_NAME_LOCATION;
    }
    if (chkSerialNumber->isChecked()) {
        chosen.fileOption |= FILE_NAME_SERIAL;
    }
    if (chkLastDate->isChecked()) {
        chosen.fileOption |= FILE_NAME_LAST_DATE;
    }
    chosen.fileType = rbuQltType->isChecked() ? settings::FILE_TYPE_OMB : settings::FILE_TYPE_CSV;
    chosen.Save();
    FileOption = chosen.fileOption;
    OutputDir = directory;
    refusedDir_.clear();
    FileType = chosen.fileType;
    accept();
}

void TfrmDirSetting::butCancelClick() {
    reject();
}

void TfrmDirSetting::showEvent(QShowEvent* event) {
    GetRegData();
    QDialog::showEvent(event);
}
