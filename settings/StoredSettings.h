#pragma once
// The program's settings as typed values, read with their defaults applied
// and written back whole. The dialogs, the window program and arvelo-cli all
// go through these, so a default or a value name exists in one place.

#include <QString>
#include <QtGlobal>

#include <optional>
#include <string>

#include "settings/SettingsStore.h"

namespace settings {

inline const QString FILE_TYPE_OMB = QString::fromLatin1(OMB);
inline const QString FILE_TYPE_CSV = QString::fromLatin1(CSV);

// Software\Arvelo: where downloaded logs are saved, their type and the parts
// of their names.
struct DirectorySettings {
    // None when not stored, or stored longer than the field holds: the
    // caller's default when not stored.
    std::optional<QString> outputDir;
    // A stored directory longer than the field holds (MAX_OUTPUT_DIR_BYTES):
    // the user must be told and choose another, never find the files in
    // another folder.
    std::optional<QString> tooLongOutputDir;
    QString fileType = FILE_TYPE_OMB;  // ".omb" or ".csv"
    quint32 fileOption = DEFAULT_FILE_OPTION;

    // The stored values; a value that is absent keeps its default. A key
    // created new holds nothing yet, so every value is the default then.
    static DirectorySettings Load(SettingsKey::Disposition* disposition = nullptr);
    // All three values (outputDir empty when none); false when one could not be stored.
    bool Save() const;
};

// Software\Arvelo\ComPortSetting, and beside it the trace file of
// Software\Arvelo\Diagnostics.
struct PortSettings {
    std::optional<QString> comPort;  // as the port list shows it ("COM1:"); none: not stored
    quint32 timeOutSeconds = DEFAULT_TIME_OUT;
    std::optional<QString> traceFile;  // empty: no trace; none: not stored

    static PortSettings Load(SettingsKey::Disposition* disposition = nullptr);
    // The port and the time-out, and the trace file when it is set.
    bool Save() const;
};

// Software\Arvelo\Archive: whether every saved log also goes into the
// archive, and where that is. No password is ever kept here: a server's
// comes from where libpq takes it.
struct ArchiveSettings {
    bool enabled = DEFAULT_ARCHIVE_ON != 0;
    QString location;  // a file or a postgresql:// URI; empty: the default file
    // The offset from UTC that the loggers' clocks keep, "+01:00" (loggers
    // keep no daylight saving): what new deployments take. None until the
    // user was asked.
    std::optional<QString> clock;
    // The clock's offset in minutes: 0 (UTC) until the user was asked.
    int ClockMinutes() const;

    static ArchiveSettings Load();
    bool Save() const;
    // What a run archives into: the location (empty: the default), none when off.
    std::optional<std::string> Chosen() const;
};

// The computer's offset from UTC in standard time (no daylight saving), "+01:00":
// what a logger set to the local clock in winter keeps all year.
QString StandardTimeOffset();
// Whether text is an offset from UTC as the clock setting keeps it: "+HH:MM"
// or "-HH:MM", from -12:00 to +14:00.
bool IsClockOffset(const QString& text);

}  // namespace settings
