#include <gtest/gtest.h>

#include <unistd.h>

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>

#include "settings/DialogTestSupport.h"
#include "settings/SettingsStore.h"
#include "settings/TfrmDirSetting.h"
#include "support/QtTestSupport.h"

using settings::SettingsKey;

namespace {

class DirSettingTest : public test::StoreInTempDir {
  protected:
    void SetUp() override {
        StoreInTempDir::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        defaults_.outputDir = temp_.filePath("documents/Arvelo/");
    }

    void Store(const char* name, const QString& text) {
        SettingsKey(settings::KEY_ARVELO).SetString(name, text);
    }
    std::optional<QString> StoredText(const char* name) {
        return SettingsKey(settings::KEY_ARVELO).QueryString(name, 1024);
    }
    std::optional<quint32> StoredOption() {
        return SettingsKey(settings::KEY_ARVELO).QueryDword(settings::VALUE_FILE_OPTION);
    }

    DirSettingDefaults defaults_;
    ScriptedPrompter prompter_;
};

TEST_F(DirSettingTest, FirstUseStoresDefaultsAndTicksAllButStartDate) {
    TfrmDirSetting dialog(nullptr, defaults_);
    EXPECT_EQ(StoredText(settings::VALUE_OUTPUT_DIR), defaults_.outputDir);
    EXPECT_EQ(StoredText(settings::VALUE_FILE_TYPE), QString(".omb"));
    EXPECT_EQ(StoredOption(), 11u);
    EXPECT_EQ(dialog.txtDefaultPath->text(), defaults_.outputDir);
    EXPECT_TRUE(dialog.rbuQltType->isChecked());
    EXPECT_EQ(dialog.rbuQltType->text(), "Ombrel format (omb)");
    EXPECT_FALSE(dialog.chkStartTime->isChecked());
    EXPECT_TRUE(dialog.chkSerialNumber->isChecked());
    EXPECT_TRUE(dialog.chkLocation->isChecked());
    EXPECT_TRUE(dialog.chkLastDate->isChecked());

    uint32_t option = 0;
    char directory[512];
    char fileType[5];
    ASSERT_TRUE(dialog.GetSettings(&option, directory, fileType, 512, 5));
    EXPECT_EQ(option, 11u);
    EXPECT_EQ(QString(directory), defaults_.outputDir);
    EXPECT_STREQ(fileType, ".omb");
}

// Mended: not the program's own folder, which an installed program's users
// may not write to.
TEST_F(DirSettingTest, FirstUseTakesArveloInTheDocumentsFolderMadeWhenMissing) {
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", temp_.filePath("home").toLocal8Bit());
    const TfrmDirSetting dialog;  // the program's own default
    qputenv("HOME", home);
    const QString documents = temp_.filePath("home/Documents/Arvelo/");
    EXPECT_EQ(dialog.OutputDir, documents);
    EXPECT_TRUE(QFileInfo(documents).isDir());
    EXPECT_EQ(StoredText(settings::VALUE_OUTPUT_DIR), documents);
}

TEST_F(DirSettingTest, StoredValuesAreReadBackExactly) {
    Store(settings::VALUE_OUTPUT_DIR, "/data");
    Store(settings::VALUE_FILE_TYPE, ".OMB");  // not exactly ".omb"
    SettingsKey(settings::KEY_ARVELO).SetDword(settings::VALUE_FILE_OPTION, 0x30 | 0x4);
    TfrmDirSetting dialog(nullptr, defaults_);
    EXPECT_EQ(dialog.OutputDir, "/data");
    EXPECT_EQ(dialog.FileType, ".csv");
    EXPECT_TRUE(dialog.rbucsv->isChecked());
    EXPECT_TRUE(dialog.chkStartTime->isChecked());
    EXPECT_FALSE(dialog.chkLastDate->isChecked());
    // Unknown bits are kept until OK stores the four known ones.
    uint32_t option = 0;
    char directory[512];
    char fileType[5];
    ASSERT_TRUE(dialog.GetSettings(&option, directory, fileType, 512, 5));
    EXPECT_EQ(option, 0x34u);
    dialog.txtDefaultPath->setText(temp_.path());
    dialog.butOKClick();
    EXPECT_EQ(StoredOption(), 0x4u);
    EXPECT_EQ(dialog.FileOption, 0x4u);
}

TEST_F(DirSettingTest, MissingValuesFallBackWithoutBeingStored) {
    Store("Other", "x");  // the key exists, the three values do not
    TfrmDirSetting dialog(nullptr, defaults_);
    EXPECT_EQ(dialog.OutputDir, defaults_.outputDir);
    EXPECT_EQ(dialog.FileType, ".omb");
    EXPECT_EQ(dialog.FileOption, 11u);
    EXPECT_EQ(StoredText(settings::VALUE_OUTPUT_DIR), std::nullopt);

    // One stored longer than the field is refused, not replaced by another
    // folder: shown for the user to shorten, and kept as it is.
    const QString tooLong = "/" + QString(300, 'x') + "/";
    Store(settings::VALUE_OUTPUT_DIR, tooLong);
    dialog.show();
    EXPECT_EQ(dialog.RefusedOutputDir(), tooLong);
    EXPECT_EQ(dialog.OutputDir, "");
    EXPECT_EQ(dialog.txtDefaultPath->text(), tooLong);
    EXPECT_EQ(StoredText(settings::VALUE_OUTPUT_DIR), tooLong);
}

TEST_F(DirSettingTest, TheDocumentsFolderIsMadeOnlyWhenItIsTheOneUsed) {
    Store(settings::VALUE_OUTPUT_DIR, temp_.path() + "/");
    TfrmDirSetting dialog(nullptr, defaults_);
    dialog.show();
    dialog.hide();
    EXPECT_EQ(dialog.OutputDir, temp_.path() + "/");
    EXPECT_FALSE(QFileInfo::exists(defaults_.outputDir));
}

TEST_F(DirSettingTest, OkStoresTheFolderAndRefusesOneThatCannotBeUsed) {
    TfrmDirSetting dialog(nullptr, defaults_);
    dialog.show();
    QString deep = temp_.path();
    while (deep.size() <= 255) {
        deep += "/abcdefghijklmnopqrstuvwxyz";
    }
    ASSERT_TRUE(QDir().mkpath(deep));
    const QString locked = temp_.filePath("locked");
    ASSERT_TRUE(QDir().mkpath(locked));
    struct Case {
        QString typed;
        QFileDevice::Permissions permissions;  // of locked; 0: as it is
        QString message;                       // the start of the one shown
    };
    const Case cases[] = {
        {temp_.filePath("absent"),
         {},
         "Unable to locate the directory!\n" + temp_.filePath("absent")},
        {deep, {}, "Unable to locate the directory!\nIts path is longer than 255 bytes."},
        // Mended: a relative folder, which would lie wherever the program
        // runs, and one the user may not enter or write to get their own words.
        {"archive",
         {},
         "The directory needs its full path, starting with /:\narchive/ would lie in " +
             QDir::currentPath()},
        {locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner,
         "The directory cannot be written to:\n" + locked + "/\n"},
        {locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner,
         "The directory cannot be written to:\n" + locked + "/\n"},
    };
    for (const Case& c : cases) {
        // Root may enter and write anywhere.
        if (c.permissions != QFileDevice::Permissions() && geteuid() == 0) {
            continue;
        }
        if (c.permissions != QFileDevice::Permissions()) {
            QFile::setPermissions(locked, c.permissions);
        }
        prompter_.shown.clear();
        dialog.txtDefaultPath->setText(c.typed);
        dialog.butOKClick();
        QFile::setPermissions(
            locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ASSERT_EQ(prompter_.shown.size(), 1u) << c.typed.toStdString();
        EXPECT_TRUE(prompter_.shown[0].text.startsWith(c.message)) << prompter_.shown[0].text;
        EXPECT_EQ(prompter_.shown[0].caption, "Error");
        EXPECT_EQ(prompter_.shown[0].buttons, Prompter::Buttons::Ok);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(StoredText(settings::VALUE_OUTPUT_DIR), defaults_.outputDir);
        EXPECT_EQ(dialog.OutputDir, defaults_.outputDir);
    }

    // Mended: the separator a typed folder lacks is added; all boxes unticked
    // store 0; CSV is chosen.
    dialog.txtDefaultPath->setText(temp_.path());
    for (QCheckBox* box :
         {dialog.chkStartTime, dialog.chkSerialNumber, dialog.chkLocation, dialog.chkLastDate}) {
        box->setChecked(false);
    }
    dialog.rbucsv->setChecked(true);
    dialog.butOKClick();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(StoredText(settings::VALUE_OUTPUT_DIR), temp_.path() + "/");
    EXPECT_EQ(StoredOption(), 0u);
    EXPECT_EQ(StoredText(settings::VALUE_FILE_TYPE), QString(".csv"));
    EXPECT_EQ(dialog.OutputDir, temp_.path() + "/");
    EXPECT_EQ(dialog.FileType, ".csv");
    // The port is Com Port Setting's to store.
    EXPECT_EQ(SettingsKey(settings::KEY_COM_PORT).TypeOf(settings::VALUE_COM_PORT),
              settings::ValueType::None);
}

TEST_F(DirSettingTest, FolderBrowserAddsOneSeparatorAndShowingDiscardsEdits) {
    TfrmDirSetting dialog(nullptr, defaults_);
    prompter_.folder = "/";
    dialog.butDefaultPathClick();
    EXPECT_EQ(dialog.txtDefaultPath->text(), "//");
    prompter_.folder.clear();  // cancelled
    dialog.butDefaultPathClick();
    EXPECT_EQ(dialog.txtDefaultPath->text(), "//");
    dialog.chkStartTime->setChecked(true);
    dialog.butCancelClick();
    EXPECT_EQ(dialog.OutputDir, defaults_.outputDir);  // nothing taken before OK
    dialog.show();
    EXPECT_EQ(dialog.txtDefaultPath->text(), defaults_.outputDir);
    EXPECT_FALSE(dialog.chkStartTime->isChecked());
}

TEST_F(DirSettingTest, GetSettingsNeedsRoomForEachTerminator) {
    Store(settings::VALUE_OUTPUT_DIR, "/data/");
    TfrmDirSetting dialog(nullptr, defaults_);
    uint32_t option = 99;
    char directory[8] = "keep";
    char fileType[5] = "keep";
    EXPECT_FALSE(dialog.GetSettings(&option, directory, fileType, 6, 5));
    EXPECT_FALSE(dialog.GetSettings(&option, directory, fileType, 7, 4));
    EXPECT_FALSE(dialog.GetSettings(&option, nullptr, fileType, 7, 5));
    EXPECT_EQ(option, 99u);
    EXPECT_STREQ(directory, "keep");
    EXPECT_TRUE(dialog.GetSettings(&option, directory, fileType, 7, 5));
    EXPECT_STREQ(directory, "/data/");
}

}  // namespace
