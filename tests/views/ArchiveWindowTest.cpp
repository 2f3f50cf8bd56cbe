// The Archive window over an archive of two visits of two wells, on SQLite
// and on PostgreSQL: its rows, the filter, the downloads listed with what
// each brought, a logger's conflicts and gaps listed, and the two wells
// opened in a Graph: the gap a break in the trace, the conflict marked, a
// line where a logger moved, and the span shown exported in the archive's
// CSV layout. A location the reader wrote in Latin-1 reads the same in the
// window and in the Graph.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontMetrics>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cmath>

#include "archive/Archive.h"
#include "graph/HistoryTraces.h"
#include "graph/LogPlot.h"
#include "support/ArchiveLogs.h"
#include "support/PostgresServer.h"
#include "support/QtTestSupport.h"
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

// The texts of every row but the wells' (which span the row) that do not
// fit their column.
QStringList CutTexts(QTreeWidget& tree) {
    QStringList cut;
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        rows << tree.topLevelItem(i);
        for (int j = 0; j < tree.topLevelItem(i)->childCount(); ++j) {
            rows << tree.topLevelItem(i)->child(j);
        }
    }
    for (const QTreeWidgetItem* row : rows) {
        for (int c = 0; c < tree.columnCount() && !row->isFirstColumnSpanned(); ++c) {
            const int depth = (row->parent() != nullptr ? 1 : 0) + (tree.rootIsDecorated() ? 1 : 0);
            const int indent = c == 0 ? tree.indentation() * depth : 0;
            if (QFontMetrics(row->font(c)).horizontalAdvance(row->text(c)) + indent >
                tree.columnWidth(c)) {
                cut << row->text(c);
            }
        }
    }
    return cut;
}

// Well 7 over two visits (the second repeats two samples, one changed at
// 00:45), and well 9's logger moved to WELL SÜD (0xDC in the reader's
// Latin-1), where it starts at 02:00, four samples after it stopped in well 9.
void MakeTwoWellsArchive(const std::string& location, QTemporaryDir& temp) {
    auto opened = archive::Archive::Open(location);
    ASSERT_TRUE(opened) << opened.failure().message;
    const auto archive = std::move(*opened);
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

// The Graph of the three wells: well 7's trace and its conflicts, and the
// moved logger's levels in each of its wells, one pane (the unit is the
// same), the move marked where it happened.
void ExpectWellsDrawn(TfrmGraph& graph) {
    EXPECT_EQ(graph.windowTitle(), "Graph - Archive: WELL 7, WELL 9, WELL SÜD");
    LogPlot& plot = *graph.plotLog;
    const auto* heading = qobject_cast<QCPTextElement*>(plot.plotLayout()->element(0, 0));
    ASSERT_NE(heading, nullptr);
    EXPECT_EQ(heading->text(), "Archive: WELL 7, WELL 9, WELL SÜD");
    ASSERT_EQ(plot.graphCount(), 4);
    EXPECT_EQ(plot.axisRectCount(), 1);
    EXPECT_EQ(plot.graph(2)->name(), "LEVEL (WELL 9) [cm]");
    EXPECT_EQ(plot.graph(3)->name(), "LEVEL (WELL SÜD) [cm]");
    EXPECT_EQ((plot.graph(2)->data()->constEnd() - 1)->key,
              LogPlot::AxisTime({1710549900, 0}));  // 00:45, in well 9
    EXPECT_EQ(plot.graph(3)->data()->constBegin()->key,
              LogPlot::AxisTime({1710554400, 0}));  // 02:00, in WELL SÜD
    ASSERT_EQ(plot.graph(1)->data()->size(), 1);
    EXPECT_EQ(plot.graph(1)->data()->constBegin()->key,
              LogPlot::AxisTime({1710549900, 0}));  // 2024-03-16 00:45 UTC
    EXPECT_EQ(plot.Readout(plot.SampleNear(LogPlot::AxisTime({1710551400, 0}))),
              "2024/03/16 01:00:00.0   LEVEL (WELL 7) 6.00 cm   LEVEL (WELL 9) - cm   "
              "LEVEL (WELL SÜD) - cm");
    QStringList moves;
    for (int i = 0; i < plot.itemCount(); ++i) {
        if (const auto* text = qobject_cast<QCPItemText*>(plot.item(i))) {
            moves << text->text() + " at " + QString::number(text->position->key(), 'f', 0);
        }
    }
    EXPECT_EQ(moves, QStringList{"PX00-00000901 to WELL SÜD at 1710554400"});  // 02:00
}

// The rows by well: the moved logger under each well it stayed in, with what
// it measured there.
void ExpectLoggerRows(const QList<QTreeWidgetItem*>& rows) {  // three
    const auto cellsOf = [](const QTreeWidgetItem* row) {
        QStringList texts{row->parent()->text(TfrmArchive::kLocation)};
        for (int c : {TfrmArchive::kLocation, TfrmArchive::kSerial, TfrmArchive::kSamples,
                      TfrmArchive::kConflicts, TfrmArchive::kGaps}) {
            texts << row->text(c);
        }
        return texts;
    };
    EXPECT_EQ(cellsOf(rows[0]), (QStringList{"WELL 7", "since 2024-03-16 00:00:00, clock UTC+00:00",
                                             "PX00-00000701", "5", "1 open", ""}));
    EXPECT_EQ(cellsOf(rows[1]),
              (QStringList{"WELL 9", "2024-03-16 00:00:00 to 2024-03-16 02:00:00, clock UTC+00:00",
                           "PX00-00000901", "4", "", "1"}));
    EXPECT_EQ(cellsOf(rows[2]),
              (QStringList{"WELL SÜD", "since 2024-03-16 02:00:00, clock UTC+00:00",
                           "PX00-00000901", "2", "", ""}));
}

// The downloads, the latest first, each with what it brought.
void ExpectDownloadsListed(TfrmArchive& window) {
    window.tabLists->setCurrentWidget(window.tvwDownloads);
    QTreeWidget& downloads = *window.tvwDownloads;
    ASSERT_EQ(downloads.topLevelItemCount(), 4);
    const auto cells = [&downloads](int row) {
        QStringList texts;
        for (int c = TfrmArchive::kSource; c < TfrmArchive::kDownloadColumnCount; ++c) {
            texts << downloads.topLevelItem(row)->text(c);
        }
        return texts;
    };
    EXPECT_EQ(cells(0), (QStringList{"test", "4.omb", "PX00-00000901", "WELL SÜD", "2", "0", "0"}));
    EXPECT_EQ(cells(2), (QStringList{"test", "2.omb", "PX00-00000701", "WELL 7", "1", "1", "1"}));
    EXPECT_FALSE(downloads.topLevelItem(0)->text(TfrmArchive::kWhen).isEmpty());
    EXPECT_EQ(CutTexts(downloads), QStringList());
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
    MakeTwoWellsArchive(location, temp);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    TfrmArchive window(location);
    ASSERT_TRUE(WaitFor([&window] { return !window.Loading(); }));
    QList<QTreeWidgetItem*> rows = LoggerRows(*window.tvwLoggers);
    ASSERT_EQ(rows.size(), 3);
    ExpectLoggerRows(rows);
    EXPECT_EQ(window.lblState->text(), "3 wells, 2 loggers, 11 samples");
    EXPECT_EQ(CutTexts(*window.tvwLoggers), QStringList());
    window.edtFilter->setText("süd");
    EXPECT_TRUE(rows[0]->parent()->isHidden());
    EXPECT_TRUE(rows[1]->parent()->isHidden());
    EXPECT_FALSE(rows[2]->isHidden());
    window.edtFilter->clear();

    ExpectDownloadsListed(window);

    window.tvwLoggers->setCurrentItem(rows[1]);
    ASSERT_TRUE(WaitFor([&window] { return window.tvwDetails->topLevelItemCount() > 0; }));
    EXPECT_EQ(window.tvwDetails->topLevelItem(0)->text(1), "gap");
    EXPECT_EQ(window.tvwDetails->topLevelItem(0)->text(4), "4 missing");

    rows[0]->setSelected(true);
    rows[2]->setSelected(true);
    TfrmGraph* graph = nullptr;
    QObject::connect(&window, &TfrmArchive::GraphOpened,
                     [&graph](TfrmGraph* opened) { graph = opened; });
    window.btnGraphClick();
    ASSERT_TRUE(WaitFor([&graph] { return graph != nullptr; }));
    const std::unique_ptr<TfrmGraph> owned(graph);
    ExpectWellsDrawn(*graph);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }
    LogPlot& plot = *graph->plotLog;

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

    // Well 7's conflict reviewed: both values with their files; the other
    // chosen, the counts follow and the conflict is no longer open.
    window.tvwLoggers->setCurrentItem(rows[0]);
    ASSERT_TRUE(WaitFor([&window] { return window.tvwDetails->topLevelItemCount() > 0; }));
    QTreeWidgetItem* conflict = window.tvwDetails->topLevelItem(0);
    EXPECT_EQ(conflict->text(1), "conflict, open");
    EXPECT_TRUE(conflict->text(4).startsWith("first 4.00 (1.omb, imported ")) << conflict->text(4);
    EXPECT_TRUE(conflict->text(4).contains(", other 5.00 (2.omb, imported ")) << conflict->text(4);
    window.ResolveConflict(0, {archive::Keep::Kind::Other, 0});
    ASSERT_TRUE(WaitFor([&window] {
        return !window.Loading() && window.tvwDetails->topLevelItemCount() > 0 &&
               window.tvwDetails->topLevelItem(0)->text(1) == "conflict, resolved";
    }));
    EXPECT_TRUE(window.tvwDetails->topLevelItem(0)->text(4).contains(": keeps 5.00, chosen by "));
    EXPECT_EQ(LoggerRows(*window.tvwLoggers)[0]->text(TfrmArchive::kConflicts), "1 resolved");
}

// A logger's series drawn well by well: a gap inside a stay breaks its
// line, the step to the next well is a trace of its own, an open conflict
// is marked in the well it fell in and a resolved one not at all; one well
// with the channel of two loggers names each.
TEST(ArchiveHistory, ATraceForEachWellItsLoggerStayedIn) {
    archive::History history;
    history.series = {{1, "A", 1, "LEVEL", "cm"}, {2, "B", 1, "LEVEL", "cm"}};
    const auto sample = [](int64_t minutes) {
        return archive::StoredSample{minutes * 600, {minutes, 0}, 1};
    };
    history.samples = {{sample(0), sample(15), sample(60), sample(75), sample(90)},
                       {sample(90), sample(105)}};
    history.gaps = {{history.series[0], 15 * 600, 60 * 600, 2},
                    {history.series[0], 75 * 600, 90 * 600, 0}};
    archive::ConflictRow open, resolved;
    open.series = resolved.series = history.series[0];
    open.time = 15 * 600;
    resolved.time = 90 * 600;
    resolved.choice = archive::Choice{1, "90", "desk", 0};
    history.conflicts = {open, resolved};
    const auto stay = [](const char* well, int64_t minutes, const char* serial) {
        archive::DeploymentRow row;
        row.location = well;
        row.startTime = minutes * 600;
        row.serial = serial;
        return row;
    };
    history.deployments = {{"A", {stay("W1", 0, "A"), stay("W2", 80, "A")}},
                           {"B", {stay("W2", 85, "B")}}};
    std::vector<std::string> shown;
    for (const PlotTrace& t : HistoryTraces(history)) {
        std::string text = t.name + ":";
        for (std::size_t k = 0; k < t.times.size(); ++k) {
            text += std::isnan(t.values[k]) ? " |" : " " + std::to_string(t.times[k].seconds / 60);
        }
        shown.push_back(text + " marks " + std::to_string(t.marks.size()));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"LEVEL (W1): 0 15 | 60 75 marks 1",
                                               "LEVEL (W2, A): 90 marks 0",
                                               "LEVEL (W2, B): 90 105 marks 0"}));
    EXPECT_EQ(archive::HistoryTitle(history), "W1, W2");
}

// A log whose start is no date has its samples from just before 1970: the
// traces take their times as the data files do, tenths 0-9.
TEST(ArchiveHistory, TimesBefore1970KeepTheirTenthsInRange) {
    archive::History history;
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
                         [](const auto& engine) { return engine.param ? "Postgres" : "Sqlite"; });

}  // namespace
