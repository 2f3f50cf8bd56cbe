// The progress and log list windows on their own: what the user can and
// cannot do with them, and what they ask of the main window.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "support/QtTestSupport.h"
#include "views/TfrmFileSelection.h"
#include "views/TfrmProgress.h"

namespace {

TEST(ProgressWindowTest, EscapeAndCancelAskTheMainWindowAndOnlyItCloses) {
    int requests = 0;
    // Owned here; the main window's copies free themselves on close.
    TfrmProgress& window = *new TfrmProgress([&] { ++requests; });
    QPointer<TfrmProgress> alive(&window);
    EXPECT_EQ(window.proDownloadProgress->value(), 0);
    EXPECT_EQ(window.proDownloadProgress->maximum(), 800);
    window.show();
    EXPECT_EQ(window.windowTitle(), "Download in Progress");
    EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);

    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(window.isVisible());
    QTest::mouseClick(window.butCancel, Qt::LeftButton);
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(window.butCancel->text(), "&Cancel");

    // Only the main window can close it.
    ASSERT_NE(window.windowHandle(), nullptr);
    window.windowHandle()->close();
    EXPECT_TRUE(window.isVisible());
    window.close();
    EXPECT_TRUE(window.isVisible());
    window.Close();  // what the main window does
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

class FileSelectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        area_.resize(1200, 800);
        window_ = TfrmFileSelection::CreateIn(&area_, [this] { ++selections_; });
        area_.show();
        window_->show();
    }

    QMdiArea area_;
    TfrmFileSelection* window_ = nullptr;
    int selections_ = 0;
};

TEST_F(FileSelectionTest, CannotBeClosedOnlyMinimized) {
    EXPECT_EQ(window_->windowTitle(), "File Selection");
    EXPECT_TRUE(window_->windowFlags() & Qt::CustomizeWindowHint);
    EXPECT_TRUE(window_->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window_->windowFlags() & Qt::WindowCloseButtonHint);
    for (QAction* action : window_->systemMenu()->actions()) {
        EXPECT_NE(action->shortcut(), QKeySequence(QKeySequence::Close));
        EXPECT_FALSE(action->text().contains("Close"));
    }
    EXPECT_EQ(window_->butClose->text(), "&Minimize");
    QTest::mouseClick(window_->butClose, Qt::LeftButton);
    EXPECT_TRUE(window_->isMinimized());
    EXPECT_EQ(area_.subWindowList().size(), 1);
    window_->showNormal();
    window_->close();
    EXPECT_TRUE(window_->isMinimized());
    EXPECT_EQ(area_.subWindowList().size(), 1);
}

TEST_F(FileSelectionTest, ClickAndEveryKeyReleasedAskToShowTheSelectedLog) {
    window_->AddEntry("/data/a.omb", 0);
    window_->AddEntry("/data/b.omb", 1);
    QListWidget* list = window_->lstFileSelection;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    EXPECT_EQ(selections_, 1);
    EXPECT_EQ(list->currentRow(), 1);
    QTest::keyClick(list, Qt::Key_Up);
    QTest::keyClick(list, Qt::Key_F);
    EXPECT_EQ(selections_, 3);
    EXPECT_EQ(list->currentRow(), 0);
    // The release of a key pressed elsewhere (Escape closing a message box)
    // is not the list's.
    QTest::keyRelease(list, Qt::Key_Escape);
    EXPECT_EQ(selections_, 3);

    window_->SetEntryText(0, "/data/renamed.omb");
    EXPECT_EQ(list->item(0)->text(), "/data/renamed.omb");
    EXPECT_EQ(list->count(), 2);
}

TEST_F(FileSelectionTest, WidensForLongNamesButNeverNarrows) {
    EXPECT_EQ(window_->width(), 306);
    EXPECT_EQ(window_->lstFileSelection->width(), 266);
    EXPECT_EQ(window_->lstFileSelection->height(), 464 - 80);
    const QPushButton* button = window_->butClose;
    const QListWidget* list = window_->lstFileSelection;
    EXPECT_EQ(button->x(), list->x() + 266 / 2 - 36);
    EXPECT_EQ(button->y(), list->y() + list->height() + 10);

    window_->WidenFor(QString(50, 'x'));
    EXPECT_EQ(window_->width(), 340);
    EXPECT_EQ(list->width(), 300);
    EXPECT_EQ(button->x(), list->x() + 150 - 36);
    window_->WidenFor(QString(10, 'x'));
    EXPECT_EQ(window_->width(), 340);

    // Mended: never past the area; a longer name shows its end (where its
    // a/b/c suffix is), and whole in its tooltip.
    const QString name = "/" + QString(300, 'd') + "/HARBOUR_GAUGE_320417_03_31_24a.omb";
    window_->AddEntry(name, 0);
    window_->WidenFor(name);
    EXPECT_EQ(window_->x() + window_->width(), area_.viewport()->width());
    EXPECT_LE(list->visualItemRect(list->item(0)).width(), list->viewport()->width());
    EXPECT_EQ(list->item(0)->toolTip(), name);

    // Below 40 x 80 the list keeps its last size.
    window_->setMinimumSize(0, 0);
    window_->resize(300, 200);
    EXPECT_EQ(list->width(), 260);
    EXPECT_EQ(list->height(), 120);
    window_->resize(30, 60);
    EXPECT_EQ(list->width(), 260);
    EXPECT_EQ(list->height(), 120);
}

}  // namespace
