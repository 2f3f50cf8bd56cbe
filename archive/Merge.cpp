#include "archive/Merge.h"

namespace archive {

Merged Merge(std::span<const StoredSample> held, std::span<const PackedSample> brought,
             int decimals) {
    Merged out;
    std::size_t h = 0;
    for (const PackedSample& sample : brought) {
        const Decimal value{sample.mantissa, decimals};
        while (h < held.size() && held[h].time < sample.time) {
            ++h;
        }
        std::optional<StoredSample> kept;
        if (h < held.size() && held[h].time == sample.time) {
            kept = held[h];
        } else if (!out.fresh.empty() && out.fresh.back().time == sample.time) {
            kept = StoredSample{sample.time, {out.fresh.back().mantissa, decimals}, 0};
        }
        if (!kept) {
            out.fresh.push_back(sample);
        } else if (SameNumber(kept->value, value)) {
            ++out.repeated;
        } else {
            out.conflicts.push_back({sample.time, kept->value, kept->download, value});
        }
    }
    return out;
}

}  // namespace archive
