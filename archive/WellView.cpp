#include "archive/WellView.h"

namespace archive {

Result<WellView> ReadWell(Archive& archive, const std::string& well) {
    auto row = archive.Well(well);
    if (!row) {
        return row.failure();
    }
    WellView view{std::move(*row), std::nullopt, {}};
    if (!view.well.facts.reference) {
        view.why = "well " + view.well.name +
                   " has no reference point: its elevation above the datum is asked for first";
        return view;
    }
    auto levels = archive.Levels(view.well.name);
    if (levels) {
        view.levels = std::move(*levels);
    } else if (levels.failure().kind == Fault::Refused) {
        view.why = levels.failure().message;
    } else {
        return levels.failure();
    }
    return view;
}

}  // namespace archive
