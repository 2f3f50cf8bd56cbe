#pragma once
// A well as the window program shows its water levels: its facts, stays,
// baros and dips (the Archive window's Well tab), the levels computed from
// them, and the traces of the level Graph. The Graph shows the level above
// the datum, or the depth below the reference point, in the length the user
// chose; the dips as points at their own level with their residual (the
// dip less the logger's depth before dips) in the readout; below, the raw
// pressure of each level logger and of the baro. A line is drawn between
// two samples only where the levels would read between them.

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "graph/LogPlot.h"

struct WellView {
    archive::WellRow well;
    std::optional<archive::WellLevels> levels;
    std::string why;  // why there are none, in words
};

// The well and its levels (with the default density and gravity); a well
// whose levels cannot be computed still reads, with why.
archive::Result<WellView> ReadWell(archive::Archive& archive, const std::string& well);

// A length as a view shows it; files keep metres.
struct LengthUnit {
    const char* name;  // "m", "cm", "ft"
    double perMetre;
    int decimals;
};
std::span<const LengthUnit> LengthUnits();

enum class LevelAxis { AboveDatum, BelowReference };

// "Level: WELL 7"
std::string LevelTitle(const WellView& view);
std::vector<PlotTrace> LevelTraces(const WellView& view, LevelAxis axis, const LengthUnit& unit);
