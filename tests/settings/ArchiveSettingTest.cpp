// Configuration > Archive: what Test finds at the location typed, and OK
// storing the choice where the runs read it.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "archive/Archive.h"
#include "archive/Schema.h"
#include "settings/DialogTestSupport.h"
#include "settings/StoredSettings.h"
#include "settings/TfrmArchiveSetting.h"
#include "support/QtTestSupport.h"

namespace {

class ArchiveSettingTest : public test::StoreInTempDir {
  protected:
    QString Test(TfrmArchiveSetting& dialog, const QString& location) {
        dialog.edtLocation->setText(location);
        dialog.btnTest->click();
        EXPECT_TRUE(WaitFor([&dialog] { return !dialog.Testing(); }));
        EXPECT_TRUE(dialog.btnTest->isEnabled());
        return dialog.lblTest->text();
    }
};

TEST_F(ArchiveSettingTest, TestSaysWhatItFoundOrWhyNotAndOkStoresTheChoice) {
    const QString file = temp_.filePath("archive.sqlite");
    {
        std::string error;
        ASSERT_TRUE(archive::Archive::Open(file.toStdString(), &error)) << error;
    }
    TfrmArchiveSetting dialog;
    EXPECT_TRUE(dialog.chkEnabled->isChecked());  // on by default
    EXPECT_TRUE(Test(dialog, file).startsWith("Found: SQLite 3."));
    EXPECT_TRUE(Test(dialog, file)
                    .endsWith(QString(", archive version %1, 0 loggers, 0 downloads.")
                                  .arg(archive::kSchemaVersion)));
    EXPECT_TRUE(Test(dialog, temp_.filePath("none.sqlite"))
                    .startsWith("No archive there yet: the first download makes one."));
    EXPECT_TRUE(Test(dialog, temp_.path()).startsWith("The archive cannot be used: "));

    dialog.chkEnabled->setChecked(false);
    dialog.edtLocation->setText(file);
    dialog.accept();
    const settings::ArchiveSettings stored = settings::ArchiveSettings::Load();
    EXPECT_FALSE(stored.enabled);
    EXPECT_EQ(stored.location, file);
    EXPECT_FALSE(stored.Chosen());
}

}  // namespace
