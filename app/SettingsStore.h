#pragma once

#include <QString>

// The per-user store of the last logon: texts under organization "Brenlow",
// application "Quorvane" (the registry on Windows, a config file elsewhere).
// No cache: every read and write goes to the store.
namespace SettingsStore
{

inline const QString OracleSID = QStringLiteral("OracleSID");
inline const QString OracleUser = QStringLiteral("OracleUser");
inline const QString OraclePassword = QStringLiteral("OraclePassword");
// The ODBC driver or data source chosen for the logon; missing: the default.
inline const QString OdbcDriver = QStringLiteral("OdbcDriver");

// The stored text of the key, or the default when the key was never written.
// Throws RuntimeError when the store cannot be read.
QString ReadSetting(const QString& key, const QString& defaultValue = QString());

// Stores the text, an empty one included. Throws RuntimeError when the store
// cannot be written.
void WriteSetting(const QString& key, const QString& text);

// On Unix, makes a file of the program's own and its folder the user's
// alone: the folder 0700 and the file 0600, each made so when missing (the
// file empty) and tightened when not. Does nothing elsewhere.
void KeepPrivate(const QString& fileName);

} // namespace SettingsStore
