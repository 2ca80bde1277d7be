// QtText: the boundary between the application's Windows-1252 texts and Qt's
// QString. A character that the code page cannot hold becomes '?'.
//
// Thread safety: pure functions.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace rvx {

QString ToQString(std::string_view ansi);
std::string FromQString(const QString& text);

}  // namespace rvx
