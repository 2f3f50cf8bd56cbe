#include "settings/StoredSettings.h"

#include <QDateTime>
#include <QTimeZone>

#include <limits>

#include "archive/IsoTime.h"

namespace settings {

DirectorySettings DirectorySettings::Load(SettingsKey::Disposition* disposition) {
    const SettingsKey key(KEY_ARVELO);
    if (disposition != nullptr) {
        *disposition = key.disposition();
    }
    DirectorySettings stored;
    stored.outputDir = key.QueryString(VALUE_OUTPUT_DIR, MAX_OUTPUT_DIR_BYTES + 1);
    if (!stored.outputDir) {
        stored.tooLongOutputDir =
            key.QueryString(VALUE_OUTPUT_DIR, std::numeric_limits<int>::max());
    }
    const std::optional<QString> type = key.QueryString(VALUE_FILE_TYPE, FILE_TYPE_BYTES);
    stored.fileType = QString::fromLatin1(
        FileTypeOf(type ? std::optional<std::string>(type->toStdString()) : std::nullopt));
    stored.fileOption = key.QueryDword(VALUE_FILE_OPTION).value_or(DEFAULT_FILE_OPTION);
    return stored;
}

bool DirectorySettings::Save() const {
    SettingsKey key(KEY_ARVELO);
    bool saved = key.SetString(VALUE_OUTPUT_DIR, outputDir.value_or(QString()));
    saved = key.SetDword(VALUE_FILE_OPTION, fileOption) && saved;
    return key.SetString(VALUE_FILE_TYPE, fileType) && saved;
}

PortSettings PortSettings::Load(SettingsKey::Disposition* disposition) {
    const SettingsKey key(KEY_COM_PORT);
    if (disposition != nullptr) {
        *disposition = key.disposition();
    }
    PortSettings stored;
    stored.comPort = key.QueryString(VALUE_COM_PORT, COM_PORT_BYTES);
    stored.timeOutSeconds = key.QueryDword(VALUE_TIME_OUT).value_or(DEFAULT_TIME_OUT);
    stored.traceFile = SettingsKey(KEY_DIAGNOSTICS).QueryString(VALUE_TRACE_FILE, TRACE_PATH_BYTES);
    return stored;
}

bool PortSettings::Save() const {
    bool saved = !traceFile || SettingsKey(KEY_DIAGNOSTICS).SetString(VALUE_TRACE_FILE, *traceFile);
    SettingsKey key(KEY_COM_PORT);
    saved = key.SetString(VALUE_COM_PORT, comPort.value_or(QString())) && saved;
    return key.SetDword(VALUE_TIME_OUT, timeOutSeconds) && saved;
}

ArchiveSettings ArchiveSettings::Load() {
    const SettingsKey key(KEY_ARCHIVE);
    ArchiveSettings stored;
    stored.enabled = key.QueryDword(VALUE_ARCHIVE_ON).value_or(DEFAULT_ARCHIVE_ON) != 0;
    stored.location =
        key.QueryString(VALUE_ARCHIVE_LOCATION, ARCHIVE_LOCATION_BYTES).value_or(QString());
    // One that is not an offset (edited by hand) is asked again.
    stored.clock = key.QueryString(VALUE_ARCHIVE_CLOCK, CLOCK_OFFSET_BYTES);
    if (stored.clock && !IsClockOffset(*stored.clock)) {
        stored.clock.reset();
    }
    return stored;
}

bool ArchiveSettings::Save() const {
    SettingsKey key(KEY_ARCHIVE);
    bool saved = key.SetDword(VALUE_ARCHIVE_ON, enabled ? 1 : 0);
    saved = (!clock || key.SetString(VALUE_ARCHIVE_CLOCK, *clock)) && saved;
    return key.SetString(VALUE_ARCHIVE_LOCATION, location) && saved;
}

std::optional<std::string> ArchiveSettings::Chosen() const {
    if (!enabled) {
        return std::nullopt;
    }
    return location.toLocal8Bit().toStdString();
}

int ArchiveSettings::ClockMinutes() const {
    return clock ? archive::ParseClockOffset(clock->toStdString()).value_or(0) : 0;
}

QString StandardTimeOffset() {
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const int seconds = zone.standardTimeOffset(QDateTime::currentDateTimeUtc());
    return QString::fromStdString(archive::ClockOffsetText(seconds / 60));
}

bool IsClockOffset(const QString& text) {
    return archive::ParseClockOffset(text.toStdString()).has_value();
}
}  // namespace settings
