#include "settings/SettingsStore.h"

#include <gtest/gtest.h>

#include "settings/StoredSettings.h"

#include <QFile>
#include <QTemporaryDir>

using settings::SettingsKey;
using settings::ValueType;

namespace {

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        settings::SetStoreFile(File());
    }
    void TearDown() override { settings::SetStoreFile(QString()); }
    QString File() const { return dir_.filePath("sub/Arvelo.ini"); }

    QTemporaryDir dir_;
};

TEST_F(SettingsStoreTest, KeyIsCreatedOnceThenOpened) {
    {
        SettingsKey key(settings::KEY_ARVELO);
        EXPECT_EQ(key.disposition(), SettingsKey::Disposition::CreatedNew);
        EXPECT_TRUE(key.SetDword(settings::VALUE_FILE_OPTION, 11));
    }
    SettingsKey again(settings::KEY_ARVELO);
    EXPECT_EQ(again.disposition(), SettingsKey::Disposition::OpenedExisting);
    // A sub key written alone makes its parent exist too, as in the registry.
    {
        settings::SetStoreFile(dir_.filePath("other.ini"));
        SettingsKey port(settings::KEY_COM_PORT);
        EXPECT_TRUE(port.SetString(settings::VALUE_COM_PORT, "COM3:"));
    }
    EXPECT_EQ(SettingsKey(settings::KEY_ARVELO).disposition(),
              SettingsKey::Disposition::OpenedExisting);
}

TEST_F(SettingsStoreTest, ValuesKeepTheirTypesAcrossReopening) {
    {
        SettingsKey key(settings::KEY_ARVELO);
        ASSERT_TRUE(key.SetString(settings::VALUE_OUTPUT_DIR, "/data/logs/"));
        ASSERT_TRUE(key.SetDword(settings::VALUE_FILE_OPTION, 0xFFFFFFF0u));
        // Texts that look like the stored form of a number stay texts.
        ASSERT_TRUE(key.SetString("Tricky", "dword:0000000b"));
        ASSERT_TRUE(key.SetString("Tagged", "sz:x"));
        ASSERT_TRUE(key.SetString("Empty", ""));
    }
    SettingsKey key(settings::KEY_ARVELO);
    EXPECT_EQ(key.TypeOf(settings::VALUE_OUTPUT_DIR), ValueType::Sz);
    EXPECT_EQ(key.TypeOf(settings::VALUE_FILE_OPTION), ValueType::Dword);
    EXPECT_EQ(key.TypeOf("Missing"), ValueType::None);
    EXPECT_EQ(key.QueryString(settings::VALUE_OUTPUT_DIR, 256), QString("/data/logs/"));
    EXPECT_EQ(key.QueryDword(settings::VALUE_FILE_OPTION), 0xFFFFFFF0u);
    EXPECT_EQ(key.QueryString("Tricky", 256), QString("dword:0000000b"));
    EXPECT_EQ(key.QueryDword("Tricky"), std::nullopt);
    EXPECT_EQ(key.QueryString("Tagged", 256), QString("sz:x"));
    EXPECT_EQ(key.QueryString("Empty", 256), QString(""));
    // Reading with the wrong type fails like a missing value.
    EXPECT_EQ(key.QueryString(settings::VALUE_FILE_OPTION, 256), std::nullopt);
    EXPECT_EQ(key.QueryDword(settings::VALUE_OUTPUT_DIR), std::nullopt);
}

TEST_F(SettingsStoreTest, TextMustFitWithItsTerminator) {
    SettingsKey key(settings::KEY_COM_PORT);
    ASSERT_TRUE(key.SetString(settings::VALUE_COM_PORT, "COM10:"));
    EXPECT_EQ(key.QueryString(settings::VALUE_COM_PORT, 7), QString("COM10:"));
    EXPECT_EQ(key.QueryString(settings::VALUE_COM_PORT, 6), std::nullopt);
}

TEST_F(SettingsStoreTest, HandEditedFileIsRead) {
    QFile file(File());
    ASSERT_TRUE(QDir().mkpath(dir_.filePath("sub")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[Software]\n"
        "Arvelo\\ComPortSetting\\DefaultComPort=COM7:\n"
        "Arvelo\\ComPortSetting\\DefaultTimeOutPeriod=dword:0000000c\n"
        "Arvelo\\ComPortSetting\\Broken=dword:zz\n");
    file.close();
    SettingsKey key(settings::KEY_COM_PORT);
    EXPECT_EQ(key.disposition(), SettingsKey::Disposition::OpenedExisting);
    EXPECT_EQ(key.QueryString(settings::VALUE_COM_PORT, 32), QString("COM7:"));
    EXPECT_EQ(key.QueryDword(settings::VALUE_TIME_OUT), 12u);
    EXPECT_EQ(key.QueryDword("Broken"), std::nullopt);
}

TEST_F(SettingsStoreTest, StoreThatCannotBeWrittenFailsToOpen) {
    // The folder of the INI file is taken by a plain file.
    QFile blocker(dir_.filePath("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    settings::SetStoreFile(dir_.filePath("blocked/Arvelo.ini"));
    SettingsKey key(settings::KEY_ARVELO);
    EXPECT_EQ(key.disposition(), SettingsKey::Disposition::Failed);
    EXPECT_FALSE(key.SetDword(settings::VALUE_FILE_OPTION, 1));
    EXPECT_EQ(key.QueryDword(settings::VALUE_FILE_OPTION), std::nullopt);
}

TEST_F(SettingsStoreTest, TheArchiveIsOnAtItsDefaultPlaceUntilStoredOtherwise) {
    using settings::ArchiveSettings;
    EXPECT_EQ(ArchiveSettings::Load().Chosen(), std::optional<std::string>(""));
    ArchiveSettings stored;
    stored.location = "postgresql://server/arvelo";
    ASSERT_TRUE(stored.Save());
    EXPECT_EQ(ArchiveSettings::Load().Chosen(), stored.location.toStdString());
    stored.enabled = false;
    ASSERT_TRUE(stored.Save());
    EXPECT_EQ(ArchiveSettings::Load().Chosen(), std::nullopt);
}

}  // namespace
