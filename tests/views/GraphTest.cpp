// The plot of a log: panes by unit on one time axis, traces on the samples'
// own times, and the zoom a user does with the wheel and undoes with Home.
#include <gtest/gtest.h>

#include <QtTest/QTest>

#include "device/SampleTime.h"
#include "graph/LogPlot.h"
#include "support/TestLogs.h"

namespace {

// Level in cm, temperature in C and a second level in "CM" whose last two
// samples are missing, in a step mode: the times follow the step bytes.
DeviceLog StepLog() {
    test::HeaderFields header;
    header.serialNumber = "PX00-012767031.0";  // three channels
    header.sampleMode = "LB  ";
    test::ChannelFields level2 = test::kLevel;
    level2.identification = "LEVEL 2";
    level2.rangeUnit = "CM";
    return test::MakeLog(header, {test::kLevel, test::kTemperature, level2},
                         {{{0, 0, 1}, {120, 48, 2}, {200, 119, 0}, {0, 120, 7}},
                          {{0, 0, 1}, {0, 60, 2}, {0, 10, 0}, {0, 20, 7}},
                          {{5, 0, 1}, {6, 0, 2}}});
}

TEST(GraphTest, ChannelsOfOneUnitShareAPaneAndTracesKeepTheirOwnSamples) {
    const DeviceLog log = StepLog();
    LogPlot plot;
    plot.SetLog(log);
    ASSERT_EQ(plot.axisRectCount(), 2);
    EXPECT_EQ(plot.axisRect(0)->graphs().size(), 2);  // cm and CM
    EXPECT_EQ(plot.axisRect(1)->graphs().size(), 1);
    EXPECT_EQ(plot.axisRect(0)->axis(QCPAxis::atLeft)->label(), "cm");
    EXPECT_EQ(plot.graph(0)->name(), "WELL LEVEL [cm]");
    // The lowest pane alone labels the shared time axis.
    EXPECT_FALSE(plot.axisRect(0)->axis(QCPAxis::atBottom)->tickLabels());
    EXPECT_TRUE(plot.axisRect(1)->axis(QCPAxis::atBottom)->tickLabels());

    const std::vector<SampleTime> times = SampleTimes(log);
    ASSERT_EQ(plot.graph(0)->data()->size(), 4);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(plot.graph(0)->data()->at(k)->key, LogPlot::AxisTime(times[k])) << k;
    }
    EXPECT_EQ(plot.graph(2)->data()->size(), 2);
    EXPECT_EQ(plot.Readout(3).toStdString(),
              "2003/01/02 03:04:20.0   WELL LEVEL 1012.5 cm   TEMPERATURE "
              "3.33 C   LEVEL 2 - CM");
    EXPECT_EQ(plot.SampleNear(LogPlot::AxisTime(times[3]) - 0.2), 3);
}

TEST(GraphTest, TheWheelZoomsTimeInEveryPaneAndHomeShowsTheWholeLog) {
    LogPlot plot;
    plot.resize(800, 600);
    plot.SetLog(StepLog());
    plot.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plot));
    QCPAxis* topTime = plot.axisRect(0)->axis(QCPAxis::atBottom);
    const QCPRange whole = topTime->range();
    const QCPRange values = plot.axisRect(0)->axis(QCPAxis::atLeft)->range();

    const QPointF at = plot.axisRect(0)->center();
    QWheelEvent wheel(at, plot.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&plot, &wheel);
    const QCPRange zoomed = topTime->range();
    EXPECT_LT(zoomed.size(), whole.size());
    EXPECT_EQ(plot.axisRect(1)->axis(QCPAxis::atBottom)->range(), zoomed);
    EXPECT_EQ(plot.axisRect(0)->axis(QCPAxis::atLeft)->range(), values);

    QTest::keyClick(&plot, Qt::Key_Home);
    EXPECT_EQ(topTime->range(), whole);
    EXPECT_EQ(plot.axisRect(1)->axis(QCPAxis::atBottom)->range(), whole);
}

}  // namespace
