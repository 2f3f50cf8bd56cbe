#pragma once
// The merge of a log's channel into its series, apart from any database:
// what the series holds at the log's times and what the log brings give
// the samples that are new, those repeated, and the conflicts. The import
// (archive/Import.cpp) is the thin step that reads the one and writes the other.

#include <cstdint>
#include <span>
#include <vector>

#include "archive/Archive.h"
#include "archive/SampleBlock.h"

namespace archive {

// A time the log gives another value than the record keeps there.
struct MergeConflict {
    int64_t time;
    Decimal kept;
    int64_t keptDownload;  // 0: the log being merged (a time twice in it)
    Decimal other;
};

struct Merged {
    std::vector<PackedSample> fresh;  // in time order
    int64_t repeated = 0;
    std::vector<MergeConflict> conflicts;
};

// held: the series' record over the log's times, in time order, with the
// choices of resolved conflicts applied; brought: the log's samples of the
// channel in time order, at decimals. A value is compared as a number (12.5
// repeats 12.50) with what the record keeps: a later log that gives the
// value a conflict was resolved to repeats it; any other value is a conflict
// again. A time twice in the log: its first value is the one kept.
Merged Merge(std::span<const StoredSample> held, std::span<const PackedSample> brought,
             int decimals);

}  // namespace archive
