#pragma once
// The Graph of a well's water levels: the level above the datum, the depth
// below the reference point, or the water column above the sensor, in the
// length the user chose; the dips as points at their own level with their
// residual (the dip less the logger's depth before dips) in the readout;
// below, the raw pressure of each level logger and of the baro. A line is
// drawn between two samples only where the levels would read between them.
// The window program's level Graph and arvelo-cli well plot draw the same.

#include <span>
#include <string>
#include <vector>

#include "graph/LogPlot.h"
#include "level/Levels.h"

// A length as a view shows it; files keep metres.
struct LengthUnit {
    const char* name;  // "m", "cm", "ft"
    double perMetre;
    int decimals;
};
std::span<const LengthUnit> LengthUnits();

// "Level: WELL 7"
std::string LevelTitle(const std::string& well);
std::vector<PlotTrace> LevelTraces(const level::Well& inputs, const level::Levels& levels,
                                   level::Quantity quantity, const LengthUnit& unit);
