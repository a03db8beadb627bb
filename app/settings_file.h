// The INI files behind the receiver's settings, below the widgets: reading a
// value as the form takes it, checking a file before QSettings is given it,
// moving an unreadable one aside, and replacing a file whole. Qt Core only.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

class QSettings;

// A string value; one that the INI parser made a list of (it held commas)
// joined again; `fallback` when missing or not text.
QString readSettingString(const QSettings& settings, const QString& key, const QString& fallback);
// An integer, or a boolean as 1 and 0 ("true" and "false" in any case); what
// does not parse takes `fallback`.
int readSettingInteger(const QSettings& settings, const QString& key, int fallback);

// Whether INI text holds values that QSettings would decode as serialized
// data (@Variant, @DateTime) whatever their escapes: this program never
// writes them, and Qt trusts their sizes and nesting (a crafted one crashes it).
bool holdsSerializedValues(const QByteArray& iniText);
// True when INI text cannot be read as settings: it holds serialized values,
// or QSettings finds it malformed (QSettings::FormatError, after which it also
// refuses to write such a file).
bool settingsTextUnreadable(const QByteArray& iniText);
// The same for a file; false when there is none.
bool settingsFileUnreadable(const QString& path);
// Renames the file in its folder to NAME.unreadable-YYYYMMDD-HHMMSS (with -2,
// -3 ... when that is taken). The new path; empty when it could not be moved.
QString setSettingsFileAside(const QString& path, const QDateTime& when);

// Why the INI file `path` could not be replaced, as the C library words it:
// its folder (or the nearest existing one above) takes no new file, or the
// file is a folder, or one the user may not write. Empty when it can be saved.
QString settingsSaveProblem(const QString& path);

// Rewrites the INI file `path`: `write` gets a QSettings over a copy of the
// file as it stands (an empty one when it is unreadable: that file is set
// aside first), and the copy replaces the file only when `write` answers true
// and the copy was written completely. False leaves the file untouched and
// tells why in *why.
bool replaceSettingsFile(const QString& path, const std::function<bool(QSettings&)>& write, QString* why = nullptr);
