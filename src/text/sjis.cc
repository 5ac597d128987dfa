#include "text/sjis.h"

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "text/ascii.h"

namespace quarnel {

namespace {

bool lead(unsigned char c) {
  return system_text_has_lead_bytes() && is_sjis_lead_byte(c);
}

bool in_set(unsigned char c, const char* set) {
  for (const char* s = set; *s != '\0'; ++s) {
    if (static_cast<unsigned char>(*s) == c) return true;
  }
  return false;
}

}  // namespace

bool is_sjis_lead_byte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool system_text_has_lead_bytes() {
  return platform::system_encoding() == platform::SystemEncoding::kShiftJis;
}

bool is_char_boundary(const char* text, size_t pos) {
  return CharBoundaryWalk(text).at(pos);
}

const char* next_token(const char* source, char* output,
                       const char* delimiters, int capacity) {
  if (source == nullptr || *source == '\0' || capacity < 1) {
    if (output != nullptr && capacity >= 1) output[0] = '\0';
    return nullptr;
  }
  if (delimiters == nullptr) delimiters = " \t\r\n";
  CharBoundaryWalk walk(source);
  bool quoted = false;
  bool started = false;
  int copied = 0;
  size_t i = 0;
  while (copied < capacity - 1 && source[i] != '\0') {
    unsigned char c = static_cast<unsigned char>(source[i]);
    bool boundary = walk.at(i);
    if (c == '"') {
      if (!quoted) started = true;
      quoted = !quoted;
    } else if (quoted) {
      output[copied++] = static_cast<char>(c);
    } else if (boundary && in_set(c, delimiters)) {
      if (started) break;
    } else {
      output[copied++] = static_cast<char>(c);
      started = true;
    }
    ++i;
  }
  output[copied] = '\0';
  if (copied == 0) return nullptr;
  return source + i;
}

const char* find_last_separator(const char* path, char separator) {
  if (path == nullptr) return nullptr;
  size_t n = strlen(path);
  while (n > 0) {
    --n;
    if (path[n] == separator && is_char_boundary(path, n)) return path + n;
  }
  return nullptr;
}

const char* find_last_separator(const char* path) {
  return find_last_separator(path, platform::kPathSeparator);
}

std::string with_trailing_separator(const std::string& folder) {
  // Only the last byte is looked at: the separator is never the second
  // byte of a double-byte character.
  if (!folder.empty() && folder.back() == platform::kPathSeparator) {
    return folder;
  }
  return folder + platform::kPathSeparator;
}

const char* find_text_nocase(const char* text, const char* word) {
  if (text == nullptr || word == nullptr || *text == '\0' || *word == '\0') {
    return nullptr;
  }
  size_t text_len = strlen(text);
  size_t word_len = strlen(word);
  size_t start = 0;
  while (start < text_len) {
    size_t t = start;
    size_t w = 0;
    bool matched = true;
    while (w < word_len) {
      if (t >= text_len) {
        matched = false;
        break;
      }
      unsigned char c = static_cast<unsigned char>(text[t]);
      if (lead(c) && t + 1 < text_len) {
        if (w + 1 >= word_len || text[t] != word[w] ||
            text[t + 1] != word[w + 1]) {
          matched = false;
          break;
        }
        t += 2;
        w += 2;
      } else {
        if (fold_ascii(c) != fold_ascii(static_cast<unsigned char>(word[w]))) {
          matched = false;
          break;
        }
        t += 1;
        w += 1;
      }
    }
    if (matched) return text + start;
    unsigned char c = static_cast<unsigned char>(text[start]);
    start += (lead(c) && start + 1 < text_len) ? 2 : 1;
  }
  return nullptr;
}

int32_t remove_word(char* text, const char* word) {
  const char* found = find_text_nocase(text, word);
  if (found == nullptr) return 0;
  size_t word_len = strlen(word);
  int32_t count = 0;
  while (found != nullptr) {
    char* at = text + (found - text);
    memmove(at, at + word_len, strlen(at + word_len) + 1);
    ++count;
    // The search goes on from the place of the removal, so its boundary
    // walk starts there too, as a new text.
    found = find_text_nocase(at, word);
  }
  return count;
}

std::string containing_folder(const std::string& path) {
  const char* last = find_last_separator(path.c_str());
  if (last == nullptr) return platform::kCurrentDirectory;
  return path.substr(0, static_cast<size_t>(last - path.c_str()) + 1);
}

const char* directory_of(const char* path) {
  static std::string result;
  if (path == nullptr) path = "";
  if (*path != '\0' && platform::is_directory(path)) return path;
  result = containing_folder(path);
  return result.c_str();
}

}  // namespace quarnel
