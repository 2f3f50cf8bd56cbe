#pragma once
// A well as the window program shows its water levels: its facts, stays,
// baros and dips (the Archive window's Well tab) and the levels computed
// from them (the level Graph, graph/LevelTraces.h).

#include <optional>
#include <string>

#include "archive/Archive.h"

namespace archive {

struct WellView {
    WellRow well;
    std::optional<WellLevels> levels;
    std::string why;  // why there are none, in words
};

// The well and its levels (with the default density and gravity); a well
// whose levels cannot be computed still reads, with why.
Result<WellView> ReadWell(Archive& archive, const std::string& well);

}  // namespace archive
