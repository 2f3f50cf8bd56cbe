#include "settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace settings {

namespace {

const QString kDwordPrefix = QStringLiteral("dword:");
const QString kSzPrefix = QStringLiteral("sz:");

QString& StoreFile() {
    static QString path;
    return path;
}

std::unique_ptr<QSettings> OpenStore() {
    if (!StoreFile().isEmpty()) {
        return std::make_unique<QSettings>(StoreFile(), QSettings::IniFormat);
    }
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER"),
                                       QSettings::NativeFormat);
#else
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("Arvelo"), QStringLiteral("Arvelo"));
#endif
}

bool CanWrite(const QString& fileName) {
    const QFileInfo file(fileName);
    if (file.exists()) {
        return file.isWritable();
    }
    return QDir().mkpath(file.absolutePath()) && QFileInfo(file.absolutePath()).isWritable();
}

std::optional<quint32> ParseDword(const QVariant& stored) {
    // The registry hands numbers back as numbers; the INI file as tagged text.
    if (stored.typeId() == QMetaType::Int || stored.typeId() == QMetaType::UInt) {
        return stored.toUInt();
    }
    if (stored.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    const QString text = stored.toString();
    if (!text.startsWith(kDwordPrefix) || text.size() != kDwordPrefix.size() + 8) {
        return std::nullopt;
    }
    bool ok = false;
    const quint32 value = text.mid(kDwordPrefix.size()).toUInt(&ok, 16);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

}  // namespace

void SetStoreFile(const QString& iniPath) {
    StoreFile() = iniPath;
}

SettingsKey::SettingsKey(const QString& path) : settings_(OpenStore()) {
    if (settings_->status() != QSettings::NoError) {
        return;
    }
    // The INI file lives in a folder that may not exist yet; a store that can
    // never be written counts as a key that could not be created.
    if (settings_->format() == QSettings::IniFormat && !CanWrite(settings_->fileName())) {
        return;
    }
    settings_->beginGroup(QString(path).replace('\\', '/'));
    const bool exists = !settings_->childKeys().isEmpty() || !settings_->childGroups().isEmpty();
    disposition_ = exists ? Disposition::OpenedExisting : Disposition::CreatedNew;
}

SettingsKey::~SettingsKey() = default;

std::optional<QVariant> SettingsKey::Stored(const QString& name) const {
    if (!IsOpen() || !settings_->contains(name)) {
        return std::nullopt;
    }
    return settings_->value(name);
}

ValueType SettingsKey::TypeOf(const QString& name) const {
    const std::optional<QVariant> stored = Stored(name);
    if (!stored) {
        return ValueType::None;
    }
    return ParseDword(*stored) ? ValueType::Dword : ValueType::Sz;
}

std::optional<QString> SettingsKey::QueryString(const QString& name, int maxBytes) const {
    const std::optional<QVariant> stored = Stored(name);
    if (!stored || stored->typeId() != QMetaType::QString || ParseDword(*stored)) {
        return std::nullopt;
    }
    QString text = stored->toString();
    if (text.startsWith(kSzPrefix)) {
        text.remove(0, kSzPrefix.size());
    }
    if (text.toLocal8Bit().size() + 1 > maxBytes) {
        return std::nullopt;
    }
    return text;
}

std::optional<quint32> SettingsKey::QueryDword(const QString& name) const {
    const std::optional<QVariant> stored = Stored(name);
    return stored ? ParseDword(*stored) : std::nullopt;
}

bool SettingsKey::Store(const QString& name, const QVariant& value) {
    if (!IsOpen()) {
        return false;
    }
    settings_->setValue(name, value);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

bool SettingsKey::SetString(const QString& name, const QString& value) {
    const bool needsPrefix = value.startsWith(kSzPrefix) || ParseDword(value).has_value();
    return Store(name, needsPrefix ? kSzPrefix + value : value);
}

bool SettingsKey::SetDword(const QString& name, quint32 value) {
#ifdef Q_OS_WIN
    return Store(name, QVariant(value));  // a REG_DWORD of its own
#else
    return Store(name, kDwordPrefix + QStringLiteral("%1").arg(value, 8, 16, QChar('0')));
#endif
}

}  // namespace settings
