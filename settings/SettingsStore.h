#pragma once
// A registry-like store for the program's settings: keys named by backslash
// paths ("Software\Arvelo"), each holding named values that are either text
// (REG_SZ) or an unsigned 32-bit number (REG_DWORD). On Windows it is the
// registry under HKEY_CURRENT_USER; elsewhere an INI file in the user's
// configuration folder ($XDG_CONFIG_HOME/Arvelo/Arvelo.ini).
//
// In the INI file a number is written "dword:0000000b" (as a registry export
// writes it) and a text as itself; a text that would read as a number or that
// starts with "sz:" is written with a "sz:" prefix so the type is never lost.

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <memory>
#include <optional>

#include "settings/SettingsNames.h"

class QSettings;

namespace settings {

enum class ValueType { None, Sz, Dword };

// One key, created when it does not exist yet, closed when destroyed.
class SettingsKey {
  public:
    enum class Disposition { CreatedNew, OpenedExisting, Failed };

    explicit SettingsKey(const QString& path);
    ~SettingsKey();
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    Disposition disposition() const { return disposition_; }
    bool IsOpen() const { return disposition_ != Disposition::Failed; }

    ValueType TypeOf(const QString& name) const;
    // A text value whose bytes plus terminator fit in maxBytes; nothing when the
    // value is absent, is not a text or does not fit (as a registry read fails).
    std::optional<QString> QueryString(const QString& name, int maxBytes) const;
    std::optional<quint32> QueryDword(const QString& name) const;

    // False when the value could not be stored.
    bool SetString(const QString& name, const QString& value);
    bool SetDword(const QString& name, quint32 value);

  private:
    std::optional<QVariant> Stored(const QString& name) const;
    bool Store(const QString& name, const QVariant& value);

    std::unique_ptr<QSettings> settings_;
    Disposition disposition_ = Disposition::Failed;
};

// Points every key opened afterwards at this INI file (tests); an empty path
// restores the user's own store.
void SetStoreFile(const QString& iniPath);

}  // namespace settings
