// Shift_JIS-aware helpers for system text (paths, the command line, key
// specifications, the manual). A byte that is the second half of a
// double-byte character is never taken for a separator, delimiter or
// letter of its own. Whether system text has lead bytes at all follows the
// locale: only a Shift_JIS locale does (see platform::system_encoding).
#ifndef QUARNEL_TEXT_SJIS_H_
#define QUARNEL_TEXT_SJIS_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarnel {

// 0x81-0x9F and 0xE0-0xFC.
bool is_sjis_lead_byte(unsigned char c);

// True when system text in this locale uses the Shift_JIS lead-byte rule.
bool system_text_has_lead_bytes();

// True when byte position pos of text starts a character: pos is 0, or the
// byte before is no lead byte, or walking the text from its start (a lead
// byte and its follower as one step) arrives exactly at pos.
bool is_char_boundary(const char* text, size_t pos);

// The same answers for many positions of one text, asked in growing order
// (a scanner's bytes one after another): the walk goes on from where the
// last answer left it, so a long text is walked once, not once per byte.
// A smaller position than the last starts the walk again.
class CharBoundaryWalk {
 public:
  explicit CharBoundaryWalk(const char* text)
      : text_(text), lead_bytes_(system_text_has_lead_bytes()) {}

  bool at(size_t pos) {
    if (pos == 0) return true;
    if (!is_lead(static_cast<unsigned char>(text_[pos - 1]))) return true;
    if (pos < walk_) walk_ = 0;
    while (walk_ < pos) {
      unsigned char c = static_cast<unsigned char>(text_[walk_]);
      if (c == '\0') return false;
      walk_ += is_lead(c) ? 2 : 1;
    }
    return walk_ == pos;
  }

 private:
  bool is_lead(unsigned char c) const {
    return lead_bytes_ && is_sjis_lead_byte(c);
  }

  const char* text_;
  bool lead_bytes_;
  size_t walk_ = 0;
};

// Copies the next token of source into output (at most capacity - 1 bytes
// and a NUL). delimiters is a NUL-terminated set, or null for blank, tab,
// CR and LF. Double quotes group and are dropped. Returns where the next
// call goes on, or null when no token was found.
const char* next_token(const char* source, char* output,
                       const char* delimiters, int capacity);

// The last separator of path that is a character of its own, or null.
const char* find_last_separator(const char* path, char separator);
const char* find_last_separator(const char* path);

// A folder's path as file names are appended to it: with the system's
// separator behind it, unless it ends in one already.
std::string with_trailing_separator(const std::string& folder);

// First occurrence of word in text, ASCII letters matching in either case,
// trying only character boundaries; null when absent or either is empty.
const char* find_text_nocase(const char* text, const char* word);

// Removes every occurrence of word from text in place (the search resumes
// where the last one was removed); returns how many were removed.
int32_t remove_word(char* text, const char* word);

// The folder that holds path: its part up to the last separator, with
// that separator, or "./" when it has none; never the path itself, even
// when that names a folder (directory_of below asks the system).
std::string containing_folder(const std::string& path);

// containing_folder(path), but the path itself when it names an existing
// directory. The result lives in one process-wide buffer until the next
// call.
const char* directory_of(const char* path);

}  // namespace quarnel

#endif  // QUARNEL_TEXT_SJIS_H_
