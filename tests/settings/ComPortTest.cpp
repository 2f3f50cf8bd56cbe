#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "settings/DialogTestSupport.h"
#include "settings/SettingsStore.h"
#include "settings/TfrmComPort.h"
#include "support/QtTestSupport.h"
#include "widgets/PortComboBox.h"

using settings::SettingsKey;

namespace {

class ComPortTest : public test::StoreInTempDir {
  protected:
    void SetUp() override {
        StoreInTempDir::SetUp();
        mainPorts_.addItems({"COM1:", "COM3:", "COM10:"});
        mainPorts_.setCurrentIndex(1);
        watchdog_.setInterval(10000);
    }

    void StorePort(const QString& port) {
        SettingsKey(settings::KEY_COM_PORT).SetString(settings::VALUE_COM_PORT, port);
    }
    void StoreTimeOut(quint32 seconds) {
        SettingsKey(settings::KEY_COM_PORT).SetDword(settings::VALUE_TIME_OUT, seconds);
    }
    std::optional<QString> StoredPort() {
        return SettingsKey(settings::KEY_COM_PORT).QueryString(settings::VALUE_COM_PORT, 32);
    }
    std::optional<quint32> StoredTimeOut() {
        return SettingsKey(settings::KEY_COM_PORT).QueryDword(settings::VALUE_TIME_OUT);
    }

    QComboBox mainPorts_;
    QTimer watchdog_;
};

TEST_F(ComPortTest, FirstStartStoresSelectedPortAndFiveSeconds) {
    TfrmComPort dialog(mainPorts_, watchdog_);
    EXPECT_EQ(StoredPort(), QString("COM3:"));
    EXPECT_EQ(StoredTimeOut(), 5u);
    EXPECT_EQ(dialog.cmbTimeOutPeriod->currentText(), "5 Seconds");
    EXPECT_EQ(dialog.cmbTimeOutPeriod->itemText(0), "1 Second");
    EXPECT_EQ(dialog.cmbTimeOutPeriod->count(), 12);
    EXPECT_EQ(watchdog_.interval(), 5000);
    EXPECT_EQ(dialog.cmbComPort->count(), 3);
    EXPECT_EQ(dialog.cmbComPort->currentText(), "COM3:");
}

TEST_F(ComPortTest, StoredPortIsMatchedIgnoringCaseOrFallsBackToTheFirst) {
    StorePort("com3:");
    StoreTimeOut(7);
    {
        TfrmComPort dialog(mainPorts_, watchdog_);
        mainPorts_.setCurrentIndex(0);
        TfrmComPort again(mainPorts_, watchdog_);
        EXPECT_EQ(again.cmbComPort->currentIndex(), 1);
        EXPECT_EQ(mainPorts_.currentIndex(), 1);
        EXPECT_EQ(again.cmbTimeOutPeriod->currentText(), "7 Seconds");
        EXPECT_EQ(watchdog_.interval(), 7000);
    }
    StorePort("COM9:");  // a port the machine no longer has
    TfrmComPort dialog(mainPorts_, watchdog_);
    EXPECT_EQ(dialog.cmbComPort->currentIndex(), 0);
    EXPECT_EQ(mainPorts_.currentIndex(), 0);
}

TEST_F(ComPortTest, TwoDigitPortSurvivesOkAndRestart) {
    TfrmComPort dialog(mainPorts_, watchdog_);
    dialog.cmbComPort->setCurrentIndex(2);
    dialog.butOKClick();
    EXPECT_EQ(StoredPort(), QString("COM10:"));
    EXPECT_EQ(mainPorts_.currentText(), "COM10:");
    mainPorts_.setCurrentIndex(0);
    TfrmComPort restarted(mainPorts_, watchdog_);
    EXPECT_EQ(mainPorts_.currentText(), "COM10:");
}

TEST_F(ComPortTest, TimeOutOutsideTheListStoresFiveATypedOneItself) {
    StoreTimeOut(13);
    TfrmComPort dialog(mainPorts_, watchdog_);
    EXPECT_EQ(dialog.cmbTimeOutPeriod->currentIndex(), -1);
    EXPECT_EQ(watchdog_.interval(), 13000);
    dialog.butOKClick();
    EXPECT_EQ(StoredTimeOut(), 5u);
    EXPECT_EQ(watchdog_.interval(), 5000);

    // Mended: typed, "7" completes to "7 Seconds", and Enter in the box
    // presses OK, the default button.
    dialog.show();
    dialog.cmbTimeOutPeriod->setCurrentIndex(2);
    dialog.cmbTimeOutPeriod->lineEdit()->clear();
    QTest::keyClicks(dialog.cmbTimeOutPeriod->lineEdit(), "7");
    QTest::keyClick(dialog.cmbTimeOutPeriod->lineEdit(), Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(StoredTimeOut(), 7u);
    dialog.show();
    dialog.cmbTimeOutPeriod->lineEdit()->setText("soon");
    dialog.butOKClick();
    EXPECT_EQ(StoredTimeOut(), 5u);

    dialog.show();
    dialog.cmbTimeOutPeriod->setCurrentIndex(11);
    dialog.butOKClick();
    EXPECT_EQ(StoredTimeOut(), 12u);
    EXPECT_EQ(watchdog_.interval(), 12000);
}

// A hand-edited time-out is taken within the range a run takes: 0 would
// fire at once, one past a timer's range would never fire.
TEST_F(ComPortTest, AStoredTimeOutIsTakenWithinTheRangeARunTakes) {
    const struct {
        quint32 stored;
        int intervalMs;
    } cases[] = {{0, 1000}, {7, 7000}, {86400, 86400000}, {0xFFFFFFFFu, 2147483000}};
    for (const auto& c : cases) {
        StoreTimeOut(c.stored);
        TfrmComPort dialog(mainPorts_, watchdog_);
        EXPECT_EQ(watchdog_.interval(), c.intervalMs) << c.stored;
    }
}

TEST_F(ComPortTest, ShowingPutsTheMainWindowBackOnTheStoredPortEvenWhenCancelled) {
    StorePort("COM1:");
    TfrmComPort dialog(mainPorts_, watchdog_);
    mainPorts_.setCurrentIndex(2);
    dialog.show();
    EXPECT_EQ(mainPorts_.currentIndex(), 0);
    EXPECT_EQ(dialog.cmbComPort->currentIndex(), 0);
    dialog.butCancelClick();
    EXPECT_EQ(mainPorts_.currentIndex(), 0);
    EXPECT_EQ(StoredPort(), QString("COM1:"));
}

}  // namespace
