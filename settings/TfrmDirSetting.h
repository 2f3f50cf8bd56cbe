#pragma once
// "Directory Setting": where downloaded logs are saved, in which format and
// which parts make up each file name. The dialog lives from start-up to exit;
// its three fields always hold what the main window uses for the next file.

#include <QDialog>
#include <QString>

#include <cstdint>

#include "datafile/LogFileName.h"  // FILE_NAME_* bits of "DefaultFileOption"
#include "settings/StoredSettings.h"

class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Where logs go while no directory is stored: <documents>/Arvelo/, with its
// trailing separator. Never the program's own folder: an installed program's
// (/usr/bin, Program Files) is no user's to write to. Tests give another.
struct DirSettingDefaults {
    QString outputDir;

    static DirSettingDefaults ForThisProgram();
    // outputDir, made first when it is missing: the caller is about to use it.
    QString UsedOutputDir() const;
};

class TfrmDirSetting : public QDialog {
    Q_OBJECT

  public:
    explicit TfrmDirSetting(QWidget* parent = nullptr,
                            DirSettingDefaults defaults = DirSettingDefaults::ForThisProgram());

    // Reads the stored settings (writing the defaults on first use) into the
    // controls and fields.
    void GetRegData();
    // Fills all three when both buffers are given and each value with its
    // terminator fits; otherwise false and nothing is written.
    bool GetSettings(uint32_t* option, char* directory, char* fileType, int directorySize,
                     int fileTypeSize) const;

    // A stored directory longer than OutputDir may hold: refused, shown in
    // the edit box for the user to shorten, and never replaced by another
    // folder (OutputDir stays empty). Empty when none was refused.
    const QString& RefusedOutputDir() const { return refusedDir_; }

    // The fields, as last read or accepted.
    QString OutputDir;
    QString FileType;
    uint32_t FileOption = settings::DEFAULT_FILE_OPTION;

    // Controls, named as the user-interface texts refer to them.
    QLineEdit* txtDefaultPath;
    QPushButton* butDefaultPath;
    QCheckBox* chkStartTime;
    QCheckBox* chkSerialNumber;
    QCheckBox* chkLocation;
    QCheckBox* chkLastDate;
    QRadioButton* rbuQltType;
    QRadioButton* rbucsv;
    QPushButton* butOK;
    QPushButton* butCancel;

  public slots:
    void butDefaultPathClick();
    void butOKClick();
    void butCancelClick();

  protected:
    void showEvent(QShowEvent* event) override;  // FormShow

  private:
    // Puts the settings (with a directory) into the controls and the fields.
    void Show(const settings::DirectorySettings& stored);

    DirSettingDefaults defaults_;
    QString refusedDir_;
};
