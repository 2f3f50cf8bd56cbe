// The plot of a log: panes by unit on one time axis, traces on the samples'
// own times, and the zoom a user does with the wheel and undoes with Home.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QtTest/QTest>

#include <cmath>
#include <ctime>

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
    EXPECT_EQ(plot.axisRect(0)->axis(QCPAxis::atLeft)->label(), "WELL LEVEL, LEVEL 2 [cm]");
    EXPECT_EQ(plot.axisRect(1)->axis(QCPAxis::atLeft)->label(), "TEMPERATURE [C]");
    EXPECT_EQ(plot.graph(0)->name(), "WELL LEVEL [cm]");
    auto* title = qobject_cast<QCPTextElement*>(plot.plotLayout()->element(0, 0));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(),
              "Location: RIVER GAUGE 7\nSerial Number: 012767    Instrument Number: IN-4711");
    // The legends stand above their panes, never over a trace.
    for (int p = 0; p < plot.axisRectCount(); ++p) {
        EXPECT_TRUE(plot.axisRect(p)->insetLayout()->elementCount() == 0) << p;
    }
    // The lowest pane alone labels the shared time axis.
    EXPECT_FALSE(plot.axisRect(0)->axis(QCPAxis::atBottom)->tickLabels());
    EXPECT_TRUE(plot.axisRect(1)->axis(QCPAxis::atBottom)->tickLabels());
    // A log's times are its logger's clock; the archive's traces are UTC.
    EXPECT_EQ(plot.axisRect(1)->axis(QCPAxis::atBottom)->label(), "Time (logger clock)");
    LogPlot archived;
    PlotTrace level;
    level.name = "LEVEL";
    level.unit = "M";
    level.decimals = 2;
    level.times = {{0, 0}};
    level.values = {1.0};
    archived.SetTraces("WELL 7", {level});
    EXPECT_EQ(archived.axisRect(0)->axis(QCPAxis::atBottom)->label(), "Time (UTC)");

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

// The time axis in UTC whatever the zone: a month of 15-minute samples
// across the start of summer time in New York (10 March 2024) ticks at
// midnight UTC; tenths appear only where the ticks fall between seconds.
TEST(GraphTest, TimeTicksAreInUtcWithTenthsOnlyBetweenSeconds) {
    struct Case {
        const char* zone;
        const char* sampleRate;
        int samples;
        const char* label;  // every tick label matches
        bool midnights;     // every tick is a midnight
    };
    const Case cases[] = {
        {"UTC", "00 00:15:00 0", 30 * 96, "^2024/03/\\d\\d\n00:00:00$", true},
        {"America/New_York", "00 00:15:00 0", 30 * 96, "^2024/03/\\d\\d\n00:00:00$", true},
        {"America/New_York", "00 00:00:01 0", 50, "^2024/03/01\n00:00:\\d\\d$", false},
        {"America/New_York", "00 00:00:00 5", 6, "^2024/03/01\n00:00:0\\d\\.\\d$", false},
    };
    const QByteArray zoneBefore = qgetenv("TZ");
    for (const Case& c : cases) {
        qputenv("TZ", c.zone);
        tzset();
        test::HeaderFields header;
        header.sampleRate = c.sampleRate;
        header.startTime = "00:00:00 01/03/24";
        const DeviceLog log =
            test::MakeLog(header, {test::kLevel}, {std::vector<test::Sample>(c.samples)});
        LogPlot plot;
        plot.resize(1200, 800);
        plot.SetLog(log);
        plot.replot();
        const QCPAxis* time = plot.axisRect(0)->axis(QCPAxis::atBottom);
        ASSERT_GE(time->tickVector().size(), 3) << c.zone << c.sampleRate;
        const QRegularExpression label(QString::fromLatin1(c.label));
        for (qsizetype i = 0; i < time->tickVector().size(); ++i) {
            const QString text = time->tickVectorLabels()[i];
            EXPECT_TRUE(label.match(text).hasMatch()) << c.zone << " " << text.toStdString();
            if (c.midnights) {
                EXPECT_EQ(std::fmod(time->tickVector()[i], 86400.0), 0.0) << text.toStdString();
            }
        }
    }
    if (zoneBefore.isNull()) {
        qunsetenv("TZ");
    } else {
        qputenv("TZ", zoneBefore);
    }
    tzset();
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
