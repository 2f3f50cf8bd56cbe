// A well's water levels in the window program: its facts and a dip typed in
// the Archive window's Well tab, the level Graph opened from it with the dip
// marked and its residual read out, the Graph following a fact changed, the
// depth and the lengths the view offers, and the levels of the span shown
// exported. A well without a reference point says why and opens no Graph.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <limits>

#include "archive/Archive.h"
#include "archive/SeriesCsv.h"
#include "graph/LogPlot.h"
#include "support/ArchiveLogs.h"
#include "support/QtTestSupport.h"
#include "views/TfrmArchive.h"
#include "views/TfrmGraph.h"
#include "views/WellPanel.h"

namespace {

std::vector<double> Values(const QCPGraph& graph) {
    std::vector<double> values;
    for (auto point = graph.data()->constBegin(); point != graph.data()->constEnd(); ++point) {
        values.push_back(point->value);
    }
    return values;
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], 1e-9) << "at " << i;
    }
}

QString TextOf(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

// WELL 7's level logger and its baro, the baro assigned to the well.
void MakeWell7Archive(const std::string& location, QTemporaryDir& temp) {
    auto opened = archive::Archive::Open(location);
    ASSERT_TRUE(opened) << opened.failure().message;
    for (const archivetest::LogRecipe& recipe : archivetest::LevelAndBaroLogs()) {
        const std::string path = temp.filePath("log.omb").toStdString();
        archivetest::SaveLog(archivetest::MakeLog(recipe), path, recipe.serial);
        ASSERT_TRUE((*opened)->ImportFile(path, "test").ok());
    }
    ASSERT_TRUE(
        (*opened)
            ->AssignBaro("WELL 7",
                         {"PX00-00000201", "", 0, "0", std::numeric_limits<int64_t>::min(), {}})
            .ok());
}

// The level and the dip in the top pane; the pressures (both in cm) below.
void ExpectLevelGraph(TfrmGraph& graph) {
    EXPECT_EQ(graph.windowTitle(), "Graph - Level: WELL 7");
    LogPlot& plot = *graph.plotLog;
    ASSERT_EQ(plot.graphCount(), 4);
    ASSERT_EQ(plot.axisRectCount(), 2);
    EXPECT_EQ(plot.axisRect(0)->axis(QCPAxis::atLeft)->label(), "Level, Dip [m NAP]");
    ExpectNear(Values(*plot.graph(0)), {8.41, 8.50, 8.59, 8.68});
    ExpectNear(Values(*plot.graph(1)), {8.5});
    EXPECT_EQ(plot.graph(1)->lineStyle(), QCPGraph::lsNone);
    EXPECT_EQ(plot.graph(2)->name(), "Pressure [cm]");
    EXPECT_EQ(plot.graph(3)->name(), "Baro [cm]");
    const int dip = plot.SampleNear(LogPlot::AxisTime({1710548100, 0}));  // 00:15
    EXPECT_EQ(
        plot.Readout(dip),
        "2024/03/16 00:15:00.0   Level 8.500 m NAP   Dip 8.500 m NAP (residual +2.890 m; tape)   "
        "Pressure 1110.00 cm   Baro - cm")
        << plot.Readout(dip).toStdString();
}

// The span from 00:15 to 00:30 exported: the levels' CSV, in metres; and
// for other tools the depth shown, in metres, for pandas and as WaterML.
void ExpectSpanExported(TfrmGraph& graph, QTemporaryDir& temp) {
    graph.plotLog->axisRect(0)->axis(QCPAxis::atBottom)->setRange(1710548100, 1710549000);
    const QString csv = temp.filePath("levels.csv");
    ASSERT_TRUE(graph.ExportSpan(csv));
    EXPECT_EQ(TextOf(csv),
              "time_utc,water_column_m,depth_m,level_m,flags\n"
              "2024-03-16T00:15:00.0Z,0.8900,2.0000,9.5000,\n"
              "2024-03-16T00:30:00.0Z,0.9800,1.9100,9.5900,D\n");
    ASSERT_TRUE(graph.ExportSeries(csv, false));
    EXPECT_EQ(TextOf(csv),
              "time_utc,depth_m\n2024-03-16 00:15:00,2.0000\n2024-03-16 00:30:00,1.9100\n");
    const QString xml = temp.filePath("levels.xml");
    ASSERT_TRUE(graph.ExportSeries(xml, true));
    const QString text = TextOf(xml);
    EXPECT_TRUE(text.contains("<om:observedProperty xlink:title=\"depth\"/>"));
    EXPECT_EQ(text.count("<wml2:MeasurementTVP>"), 2);
}

TEST(LevelWindow, AWellsFactsAndDipsTypedInGiveItsLevelGraph) {
    QTemporaryDir temp;
    const std::string location = temp.filePath("archive.sqlite").toStdString();
    MakeWell7Archive(location, temp);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    TfrmArchive window(location);
    ASSERT_TRUE(WaitFor([&window] { return !window.Loading(); }));
    QTreeWidgetItem* well = nullptr;
    for (int g = 0; g < window.tvwLoggers->topLevelItemCount(); ++g) {
        if (window.tvwLoggers->topLevelItem(g)->text(0) == "WELL 7") {
            well = window.tvwLoggers->topLevelItem(g)->child(0);
        }
    }
    ASSERT_NE(well, nullptr);
    window.tvwLoggers->setCurrentItem(well);
    TfrmGraph* graph = nullptr;
    QObject::connect(&window, &TfrmArchive::GraphOpened,
                     [&graph](TfrmGraph* opened) { graph = opened; });

    // No reference point yet: why, and no Graph.
    window.btnLevelGraphClick();
    ASSERT_TRUE(WaitFor([&window] { return !window.Loading(); }));
    EXPECT_TRUE(window.lblState->text().contains("has no reference point"));
    EXPECT_EQ(graph, nullptr);

    // The facts and a dip at 00:15 typed in the Well tab.
    WellPanel& panel = *window.pnlWell;
    window.tabLists->setCurrentWidget(&panel);
    ASSERT_TRUE(WaitFor([&] { return !window.Loading() && panel.Shown() == "WELL 7"; }));
    EXPECT_EQ(panel.tvwStays->topLevelItemCount(), 2);  // the level logger's stay, the baro
    panel.edtReference->setText("10.5");
    panel.edtDatum->setText("m NAP");
    panel.btnApply->click();
    ASSERT_TRUE(WaitFor([&] { return !window.Loading(); }));
    EXPECT_TRUE(panel.lblWell->text() == "WELL 7") << panel.lblWell->text().toStdString();
    panel.btnAddDip->click();
    QTableWidget& dips = *panel.tblDips;
    ASSERT_EQ(dips.rowCount(), 1);
    dips.item(0, WellPanel::DipTime)->setText("2024-03-16 00:15:00");
    dips.item(0, WellPanel::DipDepth)->setText("2.0");
    ASSERT_TRUE(WaitFor([&] {
        return !window.Loading() && dips.rowCount() == 1 &&
               !dips.item(0, WellPanel::Residual)->text().isEmpty();
    }));
    // The logger's depth then: a cable of 0 m less 0.89 m of water.
    EXPECT_EQ(dips.item(0, WellPanel::Estimate)->text(), "-0.8900");
    EXPECT_EQ(dips.item(0, WellPanel::Residual)->text(), "2.8900");
    // Two cells typed in a row, the second while the first is being kept: both kept.
    dips.item(0, WellPanel::DipNote)->setText("tape");
    dips.item(0, WellPanel::DipDepth)->setText("2.00");
    ASSERT_TRUE(WaitFor([&] { return !window.Loading(); }));
    EXPECT_EQ(dips.item(0, WellPanel::DipNote)->text(), "tape");
    EXPECT_EQ(dips.item(0, WellPanel::DipDepth)->text(), "2.00");

    window.btnLevelGraphClick();
    ASSERT_TRUE(WaitFor([&graph] { return graph != nullptr; }));
    const std::unique_ptr<TfrmGraph> owned(graph);
    ExpectLevelGraph(*graph);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    LogPlot& plot = *graph->plotLog;

    // A fact changed: the Graph shown follows.
    panel.edtReference->setText("11.5");
    panel.btnApply->click();
    ASSERT_TRUE(WaitFor([&] { return !window.Loading(); }));
    ExpectNear(Values(*plot.graph(0)), {9.41, 9.50, 9.59, 9.68});
    // The depth below the reference point, down the axis, in cm.
    graph->cboLevelAxis->setCurrentIndex(1);
    graph->cboLength->setCurrentText("cm");
    EXPECT_EQ(plot.axisRect(0)->axis(QCPAxis::atLeft)->label(), "Depth, Dip [cm]");
    EXPECT_TRUE(plot.axisRect(0)->axis(QCPAxis::atLeft)->rangeReversed());
    ExpectNear(Values(*plot.graph(0)), {209, 200, 191, 182});

    ExpectSpanExported(*graph, temp);
}

}  // namespace
