#pragma once

#include <QHash>
#include <QString>

#include <optional>

// The music players the program knows, by the desktop identifier of the application, and the
// short label of each.
namespace PlayerSource {

// Identifier → label, four entries; built once, immutable.
const QHash<QString, QString> &table();
// The label of an identifier the table does not know: "AppleMusic".
QString defaultLabel();
QString label(const QString &bundleIdentifier);

// The identifier of the frontmost application. Linux has no portable way to ask which
// application is in front, so there is never one.
std::optional<QString> frontmostBundleIdentifier();
// The label of the frontmost application, or the default label when there is none.
QString frontmostLabel();

} // namespace PlayerSource
