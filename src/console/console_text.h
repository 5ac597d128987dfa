// Message texts are UTF-8 in the source and leave as Shift_JIS bytes, or
// as UTF-8 when the locale's codeset is UTF-8.
#ifndef QUARNEL_CONSOLE_CONSOLE_TEXT_H_
#define QUARNEL_CONSOLE_CONSOLE_TEXT_H_

#include <string>

namespace quarnel {

// A message text of the source (UTF-8) in the console's encoding.
std::string console_text(const char* utf8_text);

}  // namespace quarnel

#endif  // QUARNEL_CONSOLE_CONSOLE_TEXT_H_
