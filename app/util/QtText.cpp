#include "app/util/QtText.h"

#include "platform/core/CodePage.h"

namespace rvx {

QString ToQString(std::string_view ansi) {
  const std::u16string wide = platform::AnsiToWide(ansi);
  return QString::fromUtf16(wide.data(), static_cast<qsizetype>(wide.size()));
}

std::string FromQString(const QString& text) {
  return platform::WideToAnsi(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                  static_cast<std::size_t>(text.size())));
}

}  // namespace rvx
