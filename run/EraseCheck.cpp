#include "run/EraseCheck.h"

#include "device/FixedText.h"

namespace run {

namespace {

bool SameRecording(const DeviceLog& a, const DeviceLog& b) {
    return FieldText(a.header().serialNumber) == FieldText(b.header().serialNumber) &&
           a.startSeconds() == b.startSeconds();
}

int64_t SamplesOf(const DeviceLog& log) {
    const LogChannel* first = log.channel(0);
    return first != nullptr ? first->sampleCount() : 0;
}

// "all 4 are", "none of them is", "3 are", for n of total.
std::string HowMany(std::size_t n, std::size_t total, const char* where) {
    if (total == 1) {
        return std::string(n == 1 ? "it is in " : "it is not in ") + where;
    }
    if (n == total) {
        return "all " + std::to_string(n) + " are in " + where;
    }
    if (n == 0) {
        return std::string("none of them is in ") + where;
    }
    return std::to_string(n) + (n == 1 ? " is in " : " are in ") + where;
}

}  // namespace

EraseCheck CheckErase(const std::vector<HeldLog>& held, const LogList* listed) {
    EraseCheck check;
    check.filesCounted = listed != nullptr;
    for (const HeldLog& log : held) {
        LogKept kept{log.place, log.samples >= 0};
        for (int i = 0; kept.readable && listed != nullptr && i < listed->count(); ++i) {
            const DeviceLog& saved = *listed->item(i);
            kept.inFiles =
                kept.inFiles || (SameRecording(saved, log.log) && SamplesOf(saved) >= log.samples);
        }
        check.logs.push_back(kept);
    }
    return check;
}

archive::Result<std::vector<int64_t>> ArchivedSamples(archive::Archive& archive,
                                                      const std::vector<HeldLog>& held) {
    std::vector<int64_t> samples;
    for (const HeldLog& log : held) {
        if (log.samples < 0) {
            samples.push_back(0);
            continue;
        }
        const archive::Result<int64_t> n = archive.RecordingSamples(log.log);
        if (!n) {
            return n.failure();
        }
        samples.push_back(*n);
    }
    return samples;
}

void AddArchive(EraseCheck& check, const std::vector<HeldLog>& held,
                const std::vector<int64_t>& archived) {
    check.archiveOn = true;
    for (std::size_t i = 0; i < check.logs.size() && i < archived.size(); ++i) {
        check.logs[i].inArchive = check.logs[i].readable && archived[i] >= held[i].samples;
    }
}

std::vector<LogKept> KeptNowhere(const EraseCheck& check) {
    std::vector<LogKept> lost;
    for (const LogKept& log : check.logs) {
        if (!log.inArchive && !log.inFiles) {
            lost.push_back(log);
        }
    }
    return lost;
}

std::string Describe(const EraseCheck& check) {
    const std::size_t total = check.logs.size();
    if (total == 0) {
        return "The reader holds no logs.";
    }
    std::size_t archived = 0, filed = 0;
    for (const LogKept& log : check.logs) {
        archived += log.inArchive ? 1 : 0;
        filed += log.inFiles ? 1 : 0;
    }
    std::string text =
        "The reader holds " + std::to_string(total) + (total == 1 ? " log" : " logs");
    if (!check.archiveOn) {
        text += "; the archive is off.";
    } else if (!check.archiveError.empty()) {
        text += "; the archive could not be read (" + check.archiveError + ").";
    } else {
        text += ": " + HowMany(archived, total, "the archive") + ".";
    }
    if (check.filesCounted && filed > 0) {
        text += " " + std::to_string(filed) + " of them " + (filed == 1 ? "is" : "are") +
                " in files saved this session.";
    }
    const std::vector<LogKept> lost = KeptNowhere(check);
    if (!lost.empty() && lost.size() < total) {
        text += "\nKept nowhere:";
        for (const LogKept& log : lost) {
            text += "\n" + Describe(log.place) + (log.readable ? "" : " (its header is corrupted)");
        }
    }
    return text;
}

}  // namespace run
