#pragma once
// A UTC time as the Archive window's lists show it, and back.

#include <QString>

#include <optional>

#include "archive/IsoTime.h"

// "2024-03-16 15:00:00": the archive's time to the second.
inline QString UtcText(int64_t tenths) {
    return QString::fromStdString(archive::IsoTime(tenths)).left(19).replace('T', ' ');
}

// A time typed as the lists show it, or as ISO 8601 with Z or an offset;
// none when it is neither.
inline std::optional<int64_t> ParseUtcText(const QString& text) {
    return archive::ParseIsoTime(text.trimmed().replace(' ', 'T').toStdString(), false);
}
