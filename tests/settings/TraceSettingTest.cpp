// The trace setting of "Communication Port Setting": stored under
// Software\Arvelo\Diagnostics, handed to the main window's serial link at
// start-up and on OK, refused when the file cannot be written.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTimer>

#include "Serial/CSerialLoader.h"
#include "settings/DialogTestSupport.h"
#include "settings/SettingsStore.h"
#include "settings/TfrmComPort.h"
#include "support/QtTestSupport.h"

namespace {

class TraceSettingTest : public test::StoreInTempDir {
  protected:
    void SetUp() override {
        StoreInTempDir::SetUp();
        mainPorts_.addItems({"COM1:", "COM3:"});
    }

    std::optional<QString> StoredTraceFile() {
        return settings::SettingsKey(settings::KEY_DIAGNOSTICS)
            .QueryString(settings::VALUE_TRACE_FILE, 4096);
    }
    // The trace file's lines.
    QStringList Lines(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromLocal8Bit(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    // A command on the (unconnected) link: traced, though nothing goes out.
    void Send() { link_.SendCommand(18, "00120", 5, 0); }
    qsizetype CommandsTraced(const QString& path) { return Lines(path).filter(" -> ").size(); }

    QComboBox mainPorts_;
    QTimer watchdog_;
    CSerialLoader link_{1024};
    ScriptedPrompter prompts_;
};

TEST_F(TraceSettingTest, AStoredTraceFileTracesTheLinkFromStartUp) {
    const QString path = temp_.filePath("line.txt");
    settings::SettingsKey(settings::KEY_DIAGNOSTICS).SetString(settings::VALUE_TRACE_FILE, path);
    TfrmComPort dialog(mainPorts_, watchdog_, nullptr, &link_);
    EXPECT_TRUE(dialog.chkTrace->isChecked());
    EXPECT_EQ(dialog.txtTraceFile->text(), path);
    EXPECT_TRUE(dialog.txtTraceFile->isEnabled());
    Send();
    const QStringList lines = Lines(path);
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains("== trace opened ")) << lines[0];
    EXPECT_TRUE(lines[1].contains("-> 01 4D 38 31 02 30 30 31 32 30 03")) << lines[1];

    // Showing the dialog again keeps the same trace: no second "opened" line.
    dialog.show();
    dialog.hide();
    EXPECT_EQ(Lines(path).filter("trace opened").size(), 1);
}

TEST_F(TraceSettingTest, OkStoresAndAppliesTheChoiceAndUntickingStopsIt) {
    TfrmComPort dialog(mainPorts_, watchdog_, nullptr, &link_);
    EXPECT_FALSE(dialog.chkTrace->isChecked());
    EXPECT_FALSE(dialog.txtTraceFile->isEnabled());
    Send();  // no trace yet

    // Ticking the box offers a file in the home folder.
    dialog.chkTrace->setChecked(true);
    EXPECT_EQ(dialog.txtTraceFile->text(), QDir::home().filePath("arvelo-trace.txt"));
    const QString path = temp_.filePath("line.txt");
    dialog.txtTraceFile->setText(path);
    dialog.butOKClick();
    EXPECT_EQ(StoredTraceFile(), path);
    Send();
    EXPECT_EQ(CommandsTraced(path), 1);

    dialog.chkTrace->setChecked(false);
    dialog.butOKClick();
    EXPECT_EQ(StoredTraceFile(), QString());
    Send();
    EXPECT_EQ(CommandsTraced(path), 1);
    EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(TraceSettingTest, AFileThatCannotBeWrittenIsRefusedAndNothingIsStored) {
    TfrmComPort dialog(mainPorts_, watchdog_, nullptr, &link_);
    dialog.show();
    dialog.cmbTimeOutPeriod->setCurrentIndex(8);
    dialog.chkTrace->setChecked(true);
    for (const QString& path : {temp_.filePath("no/such/folder/line.txt"), QString("  ")}) {
        prompts_.shown.clear();
        dialog.txtTraceFile->setText(path);
        dialog.butOKClick();
        ASSERT_EQ(prompts_.Texts(), QStringList{"Unable to open the trace file!"}) << path;
        EXPECT_EQ(prompts_.shown[0].caption, "Error");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(StoredTraceFile(), std::nullopt);
        EXPECT_EQ(watchdog_.interval(), 5000);  // the time-out chosen was not applied either
    }
}

}  // namespace
