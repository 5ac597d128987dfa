#include "console/console_text.h"

#include "platform/platform.h"
#include "text/cp932.h"

namespace quarnel {

std::string console_text(const char* utf8_text) {
  if (platform::system_encoding() == platform::SystemEncoding::kUtf8) {
    return utf8_text;
  }
  return utf8_to_sjis(utf8_text);
}

}  // namespace quarnel
