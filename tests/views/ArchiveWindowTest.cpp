// The Archive window over an archive of two visits of two wells, on SQLite
// and on PostgreSQL: its rows, the filter, the downloads listed with what
// each brought, a logger's conflicts and gaps listed, and the two wells
// opened in a Graph: the gap a break in the trace, the conflict marked, a
// line where a logger moved, and the span shown exported in the archive's
// CSV layout. A location the reader wrote in Latin-1 reads the same in the
// window and in the Graph.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cmath>

#include "archive/Archive.h"
#include "graph/LogPlot.h"
#include "support/ArchiveLogs.h"
#include "support/PostgresServer.h"
#include "support/QtTestSupport.h"
#include "views/ArchiveHistory.h"
#include "views/TfrmArchive.h"
#include "views/TfrmGraph.h"

namespace {

QList<QTreeWidgetItem*> LoggerRows(QTreeWidget& tree) {
    QList<QTreeWidgetItem*> rows;
    for (int g = 0; g < tree.topLevelItemCount(); ++g) {
        for (int i = 0; i < tree.topLevelItem(g)->childCount(); ++i) {
            rows << tree.topLevelItem(g)->child(i);
        }
    }
    return rows;
}

class ArchiveWindowTest : public ::testing::TestWithParam<bool> {};  // on a server

TEST_P(ArchiveWindowTest, ShowsTheLoggersAndOpensTwoWellsInAGraphWithTheirGapAndConflict) {
    QTemporaryDir temp;
    std::string location = temp.filePath("archive.sqlite").toStdString();
    if (GetParam()) {
        pgtest::PostgresServer& server = pgtest::SharedServer();
        if (!server.Why().empty()) {
            GTEST_SKIP() << "PostgreSQL skipped: " << server.Why();
        }
        location = server.Uri(server.NewDatabase());
    }
    {
        auto opened = archive::Archive::Open(location);
        ASSERT_TRUE(opened) << opened.failure().message;
        const auto archive = std::move(*opened);
        // Well 7: the second visit repeats two samples, one changed (00:45).
        // Well 9's logger: moved to WELL SÜD (0xDC in the reader's Latin-1),
        // where it starts at 02:00, four samples after it stopped in well 9.
        const struct {
            const char *well, *serial, *start;
            std::vector<double> values;
        } visits[] = {
            {"WELL 7", "PX00-000007", "00:00:00 16/03/24", {1, 2, 3, 4}},
            {"WELL 7", "PX00-000007", "00:30:00 16/03/24", {3, 5, 6}},
            {"WELL 9", "PX00-000009", "00:00:00 16/03/24", {1, 2, 3, 4}},
            {"WELL S\xDC"
             "D",
             "PX00-000009",
             "00:00:02 16/03/24",
             {5, 6}},
        };
        int n = 0;
        for (const auto& visit : visits) {
            archivetest::LogRecipe recipe;
            recipe.location = visit.well;
            recipe.serial = visit.serial;
            recipe.start = visit.start;
            recipe.values = {visit.values};
            const std::string path = temp.filePath(QString("%1.omb").arg(++n)).toStdString();
            archivetest::SaveLog(archivetest::MakeLog(recipe), path, path);
            ASSERT_TRUE(archive->ImportFile(path, "test").ok());
        }
    }
    TfrmArchive window(location);
    ASSERT_TRUE(WaitFor([&window] { return !window.Loading(); }));
    QList<QTreeWidgetItem*> rows = LoggerRows(*window.tvwLoggers);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->text(TfrmArchive::Location), "WELL 7");
    EXPECT_EQ(rows[0]->text(TfrmArchive::Samples), "5");
    EXPECT_EQ(rows[0]->text(TfrmArchive::Conflicts), "1");
    EXPECT_EQ(rows[0]->text(TfrmArchive::Gaps), "");
    EXPECT_EQ(rows[1]->text(TfrmArchive::Gaps), "1");
    EXPECT_EQ(rows[1]->text(TfrmArchive::Location), "WELL SÜD");
    window.edtFilter->setText("süd");
    EXPECT_TRUE(rows[0]->parent()->isHidden());
    EXPECT_FALSE(rows[1]->isHidden());
    window.edtFilter->clear();

    // The downloads, the latest first, each with what it brought.
    QTreeWidget& downloads = *window.tvwDownloads;
    ASSERT_EQ(downloads.topLevelItemCount(), 4);
    const auto cells = [&downloads](int row) {
        QStringList texts;
        for (int c = TfrmArchive::Source; c < TfrmArchive::DownloadColumnCount; ++c) {
            texts << downloads.topLevelItem(row)->text(c);
        }
        return texts;
    };
    EXPECT_EQ(cells(0), (QStringList{"test", "4.omb", "PX00-00000901", "WELL SÜD", "2", "0", "0"}));
    EXPECT_EQ(cells(2), (QStringList{"test", "2.omb", "PX00-00000701", "WELL 7", "1", "1", "1"}));
    EXPECT_FALSE(downloads.topLevelItem(0)->text(TfrmArchive::When).isEmpty());

    window.tvwLoggers->setCurrentItem(rows[1]);
    ASSERT_TRUE(WaitFor([&window] { return window.tvwDetails->topLevelItemCount() > 0; }));
    EXPECT_EQ(window.tvwDetails->topLevelItem(0)->text(1), "gap");
    EXPECT_EQ(window.tvwDetails->topLevelItem(0)->text(4), "4 missing");

    rows[0]->setSelected(true);
    rows[1]->setSelected(true);
    TfrmGraph* graph = nullptr;
    QObject::connect(&window, &TfrmArchive::GraphOpened,
                     [&graph](TfrmGraph* opened) { graph = opened; });
    window.btnGraphClick();
    ASSERT_TRUE(WaitFor([&graph] { return graph != nullptr; }));
    const std::unique_ptr<TfrmGraph> owned(graph);
    EXPECT_EQ(graph->windowTitle(), "Graph - Archive: WELL 7, WELL SÜD");
    LogPlot& plot = *graph->plotLog;
    const auto* heading = qobject_cast<QCPTextElement*>(plot.plotLayout()->element(0, 0));
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), "Archive: WELL 7, WELL SÜD");
    // Two traces, well 7's conflicts, one pane: the unit is the same.
    ASSERT_EQ(plot.graphCount(), 3);
    EXPECT_EQ(plot.axisRectCount(), 1);
    const QCPGraph& well9 = *plot.graph(2);
    EXPECT_EQ(well9.name(), "LEVEL (WELL SÜD) [cm]");
    int breaks = 0;
    for (auto at = well9.data()->constBegin(); at != well9.data()->constEnd(); ++at) {
        breaks += std::isnan(at->value) ? 1 : 0;
    }
    EXPECT_EQ(breaks, 1);
    ASSERT_EQ(plot.graph(1)->data()->size(), 1);
    EXPECT_EQ(plot.graph(1)->data()->constBegin()->key,
              LogPlot::AxisTime({1710549900, 0}));  // 2024-03-16 00:45 UTC
    // The gap's break is no sample: the cursor in it finds 01:00 or 02:00.
    EXPECT_EQ(plot.Readout(plot.SampleNear(LogPlot::AxisTime({1710551400, 0}))),
              "2024/03/16 01:00:00.0   LEVEL (WELL 7) 6.00 cm   LEVEL (WELL SÜD) - cm");
    QStringList moves;
    for (int i = 0; i < plot.itemCount(); ++i) {
        if (const auto* text = qobject_cast<QCPItemText*>(plot.item(i))) {
            moves << text->text() + " at " + QString::number(text->position->key(), 'f', 0);
        }
    }
    EXPECT_EQ(moves, QStringList{"PX00-00000901 to WELL SÜD at 1710554400"});  // 02:00

    // The span from 00:15 to 00:45, both ends included.
    plot.axisRect(0)->axis(QCPAxis::atBottom)->setRange(1710548100, 1710549900);
    const QString csv = temp.filePath("span.csv");
    ASSERT_TRUE(graph->ExportSpan(csv));
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromLatin1(file.readAll()),
              "time_utc,PX00-00000701 LEVEL [cm],PX00-00000901 LEVEL [cm]\n"
              "2024-03-16T00:15:00.0Z,2.00,2.00\n"
              "2024-03-16T00:30:00.0Z,3.00,3.00\n"
              "2024-03-16T00:45:00.0Z,4.00,4.00\n");
}

// A log whose start is no date has its samples from just before 1970: the
// traces take their times as the data files do, tenths 0-9.
TEST(ArchiveHistory, TimesBefore1970KeepTheirTenthsInRange) {
    ArchiveHistory history;
    history.series.push_back({1, "PX00-000007", 1, "LEVEL", "cm"});
    history.samples.push_back({{-5, {100, 2}, 1}, {15, {200, 2}, 1}});
    const std::vector<PlotTrace> traces = HistoryTraces(history);
    ASSERT_EQ(traces.size(), 1u);
    ASSERT_EQ(traces[0].times.size(), 2u);
    EXPECT_EQ(traces[0].times[0].seconds, -1);
    EXPECT_EQ(traces[0].times[0].tenths, 5);
    EXPECT_EQ(traces[0].times[1].seconds, 1);
    EXPECT_EQ(traces[0].times[1].tenths, 5);
}

INSTANTIATE_TEST_SUITE_P(, ArchiveWindowTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Postgres" : "Sqlite"; });

}  // namespace
