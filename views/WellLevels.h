#pragma once
// A well as the window program shows its water levels: its facts, stays,
// baros and dips (the Archive window's Well tab) and the levels computed
// from them (the level Graph, graph/LevelTraces.h).

#include <optional>
#include <string>

#include "archive/Archive.h"

struct WellView {
    archive::WellRow well;
    std::optional<archive::WellLevels> levels;
    std::string why;  // why there are none, in words
};

// The well and its levels (with the default density and gravity); a well
// whose levels cannot be computed still reads, with why.
archive::Result<WellView> ReadWell(archive::Archive& archive, const std::string& well);
