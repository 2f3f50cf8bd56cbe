#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <tuple>

#include "device/DeviceMessages.h"
#include "support/ScriptedPrompter.h"
#include "support/TestLogs.h"
#include "views/TfrmOutput.h"

namespace {

using test::ChannelFields;
using test::HeaderFields;
using test::kLevel;
using test::kTemperature;
using test::MakeLog;
using test::Sample;

using Grid = std::vector<std::vector<std::string>>;

Grid GridTexts(const SampleGridModel& model) {
    Grid grid;
    for (int r = 0; r < model.GridRowCount(); ++r) {
        grid.emplace_back();
        for (int c = 0; c < model.GridColumnCount(); ++c) {
            grid.back().push_back(model.Cell(c, r));
        }
    }
    return grid;
}

// The seconds and tenths of every date/time cell: "SS.t".
std::vector<std::string> Seconds(const SampleGridModel& model) {
    std::vector<std::string> seconds;
    for (int r = 1; r < model.GridRowCount(); ++r) {
        seconds.push_back(model.Cell(0, r).substr(18));
    }
    return seconds;
}

DeviceLog TwoChannelLog() {
    return MakeLog(HeaderFields{}, {kLevel, kTemperature},
                   {{{0, 0}, {120, 48}, {0, 120}}, {{0, 60}}});
}

class OutputWindowTest : public ::testing::Test {
  protected:
    test::ScriptedPrompter prompter_;
    TfrmOutput window_{0};
};

TEST_F(OutputWindowTest, GridOfFixedModeOverOneSecond) {
    const DeviceLog log = TwoChannelLog();  // 15 tenths, second channel shorter
    ASSERT_TRUE(window_.ShowLog(&log));
    const SampleGridModel& model = window_.GridModel();
    EXPECT_EQ(GridTexts(model), (Grid{{"Date/Time", "WELL LEVEL          ", "TEMPERATURE         "},
                                      {"2003/01/02 ,03:04:05.0", "12.5", "20.00"},
                                      {"2003/01/02 ,03:04:06.5", "416.5", "-100.00"},
                                      {"2003/01/02 ,03:04:08.0", "1012.5", "-100.00"}}));

    // The view shows the titles and times as its fixed headers.
    const QAbstractItemModel* shown = window_.stgData->model();
    ASSERT_EQ(shown->rowCount(), 3);
    ASSERT_EQ(shown->columnCount(), 2);
    EXPECT_EQ(shown->headerData(1, Qt::Horizontal), "TEMPERATURE         ");
    EXPECT_EQ(shown->headerData(1, Qt::Vertical), "2003/01/02 ,03:04:06.5");
    EXPECT_EQ(shown->data(shown->index(1, 0)), "416.5");
    EXPECT_EQ(window_.stgData->columnWidth(1), 100);
    EXPECT_EQ(window_.stgData->verticalHeader()->width(), 180);
    EXPECT_EQ(prompter_.cursor, (std::vector<bool>{true, false}));
}

TEST_F(OutputWindowTest, TimesOfIntervalsAndStepModes) {
    struct Case {
        const char* rate;
        const char* mode;
        std::vector<uint8_t> steps;
        std::vector<std::string> seconds;
    };
    const Case cases[] = {
        {"00 00:00:00 5", "T   ", {0, 0, 0, 0}, {"05.0", "05.5", "06.0", "06.5"}},
        {"00 00:00:00 3", "T   ", {0, 0, 0, 0, 0}, {"05.0", "05.3", "05.6", "05.9", "06.2"}},
        {"00 00:00:10 0", "T   ", {0, 0, 0}, {"05.0", "15.0", "25.0"}},
        {"00 00:00:01 0", "LB  ", {2, 3}, {"07.0", "10.0"}},
        {"00 00:00:00 5", "LA  ", {1, 1, 3}, {"05.5", "06.0", "07.5"}},
    };
    for (const Case& c : cases) {
        std::vector<Sample> samples;
        for (uint8_t step : c.steps) {
            samples.push_back({0, 0, step});
        }
        const DeviceLog log = MakeLog(
            {.serialNumber = "PX00-012767011.0", .sampleRate = c.rate, .sampleMode = c.mode},
            {kLevel}, {samples});
        ASSERT_TRUE(window_.ShowLog(&log));
        EXPECT_EQ(Seconds(window_.GridModel()), c.seconds) << c.rate << " " << c.mode;
    }
}

TEST(SampleModeNameTest, Names) {
    const std::pair<const char*, const char*> cases[] = {
        {"T   ", "Fixed"},           {"TX12", "Fixed"},
        {"LA  ", "Short Pump Test"}, {"LBxy", "Standard Pump Test"},
        {"LC  ", "Long Pump Test"},  {"LD  ", "Event Based"},
        {"L   ", "Event Based"},     {"XYZW", "XYZW"},
    };
    for (const auto& [mode, name] : cases) {
        LogHeader header;
        std::copy_n(mode, 4, header.sampleMode);
        EXPECT_EQ(SampleModeName(header), name) << mode;
    }
}

TEST_F(OutputWindowTest, HeaderEditsAndTabSwitching) {
    const DeviceLog log = TwoChannelLog();
    ASSERT_TRUE(window_.ShowLog(&log));
    EXPECT_EQ(window_.txtSerialNum->text(), "012767");
    EXPECT_EQ(window_.txtLocation->text(), "RIVER GAUGE 7       ");
    EXPECT_EQ(window_.txtinstrNum->text(), "IN-4711             ");
    // Mended: the fields are as wide as their 20 characters need.
    const DeviceLog wide = test::DecodeLog(
        {.location = "WELLFIELD NORTH BORE", .instrumentNumber = "HARBOUR GAUGE NO. 23"});
    ASSERT_TRUE(window_.ShowLog(&wide));
    for (QLineEdit* edit : {window_.txtLocation, window_.txtinstrNum}) {
        const int text = QFontMetrics(edit->font()).horizontalAdvance(edit->text());
        EXPECT_GE(edit->width() - 2 * edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4,
                  text)
            << edit->objectName().toStdString();
    }
    ASSERT_TRUE(window_.ShowLog(&log));
    EXPECT_EQ(window_.txtSampleRate->text(), "00 00:00:01 5");
    EXPECT_EQ(window_.txtSampleMode->text(), "Fixed");
    ASSERT_EQ(window_.tabChannelHeader->count(), 2);
    EXPECT_EQ(window_.tabChannelHeader->tabText(1), "TEMPERATURE         ");
    EXPECT_EQ(window_.txtID->text(), "WELL LEVEL          ");
    EXPECT_EQ(window_.txtReference->text(), "12.50");
    EXPECT_EQ(window_.lblRefUnit->text(), "cm    ");
    EXPECT_EQ(window_.txtRange->text(), "1000.0");
    EXPECT_EQ(window_.txtMasterLevel->text(), "5.125");
    EXPECT_EQ(window_.lblMLevelUnit->text(), "m ");
    EXPECT_EQ(window_.txtAltitude->text(), "3");
    EXPECT_FALSE(window_.txtAltitude->isHidden());

    window_.tabChannelHeader->setCurrentIndex(1);
    EXPECT_EQ(window_.txtID->text(), "TEMPERATURE         ");
    EXPECT_EQ(window_.txtReference->text(), "-5.0 ");
    EXPECT_EQ(window_.txtRange->text(), "50.00 ");
    EXPECT_EQ(window_.lblRangeUnit->text(), "C     ");
    for (QWidget* w : {static_cast<QWidget*>(window_.lblMasterLevel),
                       static_cast<QWidget*>(window_.txtMasterLevel),
                       static_cast<QWidget*>(window_.lblMLevelUnit)}) {
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
    }
    EXPECT_EQ(window_.txtAltitude->text(), "3");  // always the first channel's

    window_.tabChannelHeader->setCurrentIndex(0);
    EXPECT_EQ(window_.txtReference->text(), "12.50 ");
    EXPECT_EQ(window_.txtRange->text(), "1000.0 ");
    EXPECT_EQ(window_.txtMasterLevel->text(), "5.125 ");
    EXPECT_FALSE(window_.txtMasterLevel->isHidden());
    EXPECT_FALSE(window_.lblMLevelUnit->isHidden());
    EXPECT_EQ(window_.GridModel().Cell(1, 2), "416.5");
}

TEST_F(OutputWindowTest, InstrumentTypesNameChannelsAndHideAltitude) {
    const ChannelFields marut{.identification = "ABCDEFGHIJ#0A1000F4B"};
    struct Case {
        const char* type;
        const char* name;
        bool altitude;
    };
    for (const Case& c :
         {Case{"04", "ABCDEFGHIJ", false}, Case{"05", "ABCDEFGHIJ", false},
          Case{"06", "ABCDEFGHIJ#0A1000F4B", false}, Case{"10", "ABCDEFGHIJ#0A1000F4B", true}}) {
        const DeviceLog log =
            MakeLog({.serialNumber = "PX00-012767011.0"}, {marut}, {{{1, 0}}}, c.type);
        ASSERT_TRUE(window_.ShowLog(&log));
        EXPECT_EQ(window_.tabChannelHeader->tabText(0), c.name) << c.type;
        EXPECT_EQ(window_.txtID->text(), c.name) << c.type;
        EXPECT_EQ(window_.GridModel().Cell(1, 0), c.name) << c.type;
        EXPECT_EQ(window_.txtAltitude->isHidden(), !c.altitude) << c.type;
        EXPECT_EQ(window_.lblAltitude->isHidden(), !c.altitude) << c.type;
    }
}

// Mended: the previous log's channel and samples are not left under the
// header of a log that has none.
TEST_F(OutputWindowTest, LogWithoutChannelsClearsChannelsAndGrid) {
    const DeviceLog first = TwoChannelLog();
    ASSERT_TRUE(window_.ShowLog(&first));
    const DeviceLog empty =
        MakeLog({.location = "DRY WELL", .serialNumber = "PX00-654321001.0"}, {kLevel}, {{{0, 0}}});
    ASSERT_TRUE(window_.ShowLog(&empty));
    EXPECT_EQ(window_.txtSerialNum->text(), "654321");
    EXPECT_EQ(window_.txtLocation->text(), "DRY WELL            ");
    EXPECT_EQ(window_.tabChannelHeader->count(), 0);
    EXPECT_EQ(window_.txtID->text(), "");
    EXPECT_EQ(window_.txtReference->text(), "");
    EXPECT_EQ(GridTexts(window_.GridModel()), (Grid{{"Date/Time"}}));
    EXPECT_EQ(window_.stgData->model()->rowCount(), 0);

    EXPECT_FALSE(window_.ShowLog(nullptr));
    EXPECT_FALSE(window_.FillView(nullptr));
}

// Mended: maximised (as it is while the other windows are), the grid had
// kept its size in the window's corner.
TEST_F(OutputWindowTest, TheGridTakesTheRoomOfAMaximisedWindow) {
    QMdiArea area;
    area.resize(1200, 900);
    area.show();
    TfrmOutput* window = TfrmOutput::CreateIn(&area, 0);
    QMdiSubWindow* frame = area.subWindowList().first();
    EXPECT_EQ(window->stgData->size(), QSize(553, 201));
    frame->showMaximized();
    QCoreApplication::processEvents();
    const QRect grid(window->stgData->mapTo(&area, QPoint()), window->stgData->size());
    EXPECT_GT(grid.height(), 500);
    EXPECT_GT(grid.width(), 1100);
    EXPECT_TRUE(area.rect().contains(grid));
    frame->showNormal();
    QCoreApplication::processEvents();
    EXPECT_EQ(window->stgData->size(), QSize(553, 201));
}

// Records what is posted to the main window.
class MainWindowSink final : public platform::WindowSink {
  public:
    bool Post(uint32_t message, uint32_t wParam, intptr_t lParam) override {
        posts.push_back({message, wParam, lParam});
        return true;
    }
    std::vector<std::tuple<uint32_t, uint32_t, intptr_t>> posts;
};

TEST_F(OutputWindowTest, ClosingTheMdiChildFreesItAndTellsTheMainWindow) {
    MainWindowSink sink;
    const platform::WindowRegistration mainWindow(sink);
    QMdiArea area;
    QPointer<TfrmOutput> window = TfrmOutput::CreateIn(&area, mainWindow.Handle());
    ASSERT_EQ(area.subWindowList().size(), 1);
    QPointer<QMdiSubWindow> frame = area.subWindowList().first();
    EXPECT_EQ(frame->windowTitle(), "Data");
    window->setWindowTitle("log 1");
    EXPECT_EQ(frame->windowTitle(), "log 1");
    EXPECT_TRUE(sink.posts.empty());

    frame->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(frame.isNull());
    EXPECT_TRUE(area.subWindowList().isEmpty());
    EXPECT_EQ(sink.posts, (decltype(sink.posts){{WM_OUTPUT_CLOSED, 100u, 0}}));
}

}  // namespace
