#pragma once
// A data file written whole or not at all. It is written under its name with
// ".partial" added, and renamed to its name only once it is complete and on
// the disk. A file that does not complete keeps the ".partial" name, so it is
// never taken for a complete one; an existing file of the final name (one the
// user chose to overwrite) stays as it was until the new one is complete.
//
// The ".partial" is always created new. One that exists already holds what
// was read of a log that did not complete, or is a name someone planted (a
// link to elsewhere): Open fails then, and neither is written to.

#include <string>
#include <string_view>

#include "datafile/DataFileWriter.h"
#include "device/LogSink.h"

// The name a file has until it is complete.
std::string PartialName(const std::string& path);

// Writes text to path the same way, whole or not at all (nothing is left of
// it on a failure); 0, or the C library's error number.
int WriteWholeFile(const std::string& path, std::string_view text);

class StagedDataFile final : public LogSink {
  public:
    // Creates path's incomplete name, which must not exist; 0, or -1 when it
    // cannot be created or path names something that is not a regular file.
    // mode is "w": the file is always new.
    int Open(const char* path, const char* mode) override;
    bool IsOpen() const override { return writer_.IsOpen(); }
    // The header reaches the file at once, before the first data is asked for.
    int WriteLog(const DeviceLog* log) override;
    int WriteSampleLine(int64_t seconds, int tenths, const double* values, const int32_t* decimals,
                        int count, bool comma) override {
        return writer_.WriteSampleLine(seconds, tenths, values, decimals, count, comma);
    }
    int Flush() override { return writer_.Flush(); }
    int Close() override { return writer_.Close(); }
    int Finish() override;
    int LastError() const override { return writer_.LastError(); }
    // Closes and deletes what was written (a failed export has nothing to keep).
    void Discard();

    // The whole writer, for what the engine does not write (export, saving afterwards).
    DataFileWriter& Writer() { return writer_; }

  private:
    DataFileWriter writer_;
    std::string path_;
    bool created_ = false;  // the incomplete name is ours, until renamed
};
