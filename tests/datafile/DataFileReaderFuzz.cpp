// Feeds arbitrary text to the data file reader: no input may crash it, read
// out of bounds or hang, and whatever it accepts must write a file that
// reads back to the same log, written again byte for byte.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "datafile/DataFileReader.h"
#include "datafile/DataFileWriter.h"

namespace {

// Where each accepted log is written; removed when the fuzzer ends.
struct ScratchFile {
    ~ScratchFile() { unlink(path.c_str()); }
    const std::string path = "/tmp/arvelo-reader-fuzz-" + std::to_string(getpid());
};

std::string Written(const ReadResult& read, const std::string& path) {
    DataFileWriter writer;
    writer.SetTitleSource([] { return TitleStamp{}; });
    if (writer.Open(path.c_str(), "w") != 0) {
        std::abort();
    }
    WriteWholeLog(writer, read.log, read.layout != DataLayout::Text);
    writer.Close();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ReadResult read =
        ReadDataText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!read.ok()) {
        return 0;
    }
    static const ScratchFile scratch;
    const std::string first = Written(read, scratch.path);
    const ReadResult again = ReadDataText(first);
    if (!again.ok() || Written(again, scratch.path) != first) {
        std::abort();
    }
    return 0;
}
