#pragma once
// Series of the archive as the Graph shows them: each series is a trace on
// the one UTC time axis for each well its logger stayed in, named by the
// well; its gaps break the line (never a straight line across a missing
// stretch), its open conflicts are marked, and a line across the panes shows
// where a logger was moved.

#include <vector>

#include "archive/History.h"
#include "graph/LogPlot.h"

std::vector<PlotTrace> HistoryTraces(const archive::History& history);
std::vector<PlotLine> HistoryLines(const archive::History& history);
