#include "text/cp932.h"

#include "text/cp932_table.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one UTF-8 character at text[i]; advances i past it. Malformed
// input (a stray continuation byte, a cut or overlong sequence, an encoded
// surrogate) is one byte long and gives -1.
int32_t next_code_point(const std::string& text, size_t& i) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  unsigned char c = p[i];
  if (c < 0x80) {
    ++i;
    return c;
  }
  int extra;
  uint32_t cp;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    extra = 1, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    extra = 2, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    extra = 3, cp = c & 0x07, min = 0x10000;
  } else {
    ++i;
    return -1;
  }
  if (i + static_cast<size_t>(extra) >= n) {
    ++i;
    return -1;
  }
  for (int k = 1; k <= extra; ++k) {
    unsigned char d = p[i + static_cast<size_t>(k)];
    if ((d & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (d & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += static_cast<size_t>(extra) + 1;
  return static_cast<int32_t>(cp);
}

int lead_row(unsigned char lead) {
  return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
}

}  // namespace

int cp932_from_unicode(uint16_t unit, unsigned char out[2]) {
  if (unit == 0) {
    out[0] = 0;
    return 1;
  }
  uint16_t code = kUnicodePages[kUnicodePageIndex[unit >> 8]][unit & 0xFF];
  if (code == 0) return 0;
  if (code < 0x100) {
    out[0] = static_cast<unsigned char>(code);
    return 1;
  }
  out[0] = static_cast<unsigned char>(code >> 8);
  out[1] = static_cast<unsigned char>(code & 0xFF);
  return 2;
}

std::string utf8_to_sjis(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    int32_t cp = next_code_point(utf8, i);
    unsigned char bytes[2];
    int n = (cp >= 0 && cp <= 0xFFFF)
                ? cp932_from_unicode(static_cast<uint16_t>(cp), bytes)
                : 0;
    if (n == 0) {
      out += '?';
    } else {
      out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
    }
  }
  return out;
}

std::string sjis_to_utf8(const std::string& sjis) {
  std::string out;
  out.reserve(sjis.size() * 3 / 2);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis.data());
  size_t n = sjis.size();
  size_t i = 0;
  while (i < n) {
    unsigned char c = p[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (!is_sjis_lead_byte(c)) {
      uint16_t u = kSingleByteToUnicode[c - 0x80];
      append_utf8(out, u != 0 ? u : kReplacement);
      ++i;
    } else if (i + 1 < n && p[i + 1] >= kTrailFirst && p[i + 1] <= kTrailLast) {
      uint16_t u = kDoubleByteToUnicode[lead_row(c)][p[i + 1] - kTrailFirst];
      append_utf8(out, u != 0 ? u : kReplacement);
      i += 2;
    } else {
      // A lead byte at the end or before a byte that cannot follow it: the
      // lead alone is undefined and the next byte is read on its own.
      append_utf8(out, kReplacement);
      ++i;
    }
  }
  return out;
}

}  // namespace quarnel
