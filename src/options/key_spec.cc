#include "options/key_spec.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "options/sort_job.h"
#include "text/ascii.h"
#include "text/sjis.h"

namespace quarnel {

namespace {

// An item holds at most 63 bytes and its NUL.
constexpr int kItemCapacity = 64;
constexpr int kMaxItemBytes = kItemCapacity - 1;
// A qualifier field holds 15 characters and its NUL; longer qualifiers
// are cut to fit.
constexpr size_t kQualifierBytes = sizeof(KeyDefinition::qualifiers[0]) - 1;
constexpr int kMaxDelimiters = sizeof(KeyDefinition::delimiters);
constexpr int kMaxListEntries = 256;

// The parser's delimiter characters; their positions carry the meaning.
constexpr const char kSyntax[] = "(,)[,;]{,}";
constexpr const char kRangeSyntax[] = "-,)";

bool in_set(unsigned char c, const char* set) {
  for (const char* s = set; *s != '\0'; ++s) {
    if (static_cast<unsigned char>(*s) == c) return true;
  }
  return false;
}

int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Two characters as one byte, the first the high half; 0 unless both are
// hexadecimal digits.
char hex_pair(const char* pair) {
  int high = hex_digit(static_cast<unsigned char>(pair[0]));
  if (high < 0) return 0;
  int low = hex_digit(static_cast<unsigned char>(pair[1]));
  if (low < 0) return 0;
  return static_cast<char>(high * 16 + low);
}

bool starts_hex(const char* item) { return item[0] == '0' && item[1] == 'x'; }

// Column counts only describe the key; they wrap rather than overflow.
void add_columns(KeyDefinition& key, int64_t columns) {
  key.column_count = static_cast<int32_t>(
      static_cast<uint32_t>(key.column_count) + static_cast<uint32_t>(columns));
}

struct Parser {
  KeyDefinitionTable* table;
  SpecState state = SpecState::kIdle;
  int key = -1;  // none yet
  int value_count = 0;
  int range_count = 0;
  int attribute_count = 0;
  int delimiter_count = 0;
  char item[kItemCapacity];

  KeyDefinition& current() { return table->entries[key]; }

  // Reads the item behind a delimiter; false when there is none or it is
  // empty.
  bool read_item(const char* after) {
    read_spec_token(after, item, kSyntax);
    return item[0] != '\0';
  }

  int store_key_item(const char* after) {
    KeyDefinition& k = current();
    if (strchr(item, '-') != nullptr) {
      char first[kItemCapacity];
      char last[kItemCapacity];
      const char* rest = read_spec_token(after, first, kRangeSyntax);
      if (first[0] == '\0') return -1;
      if (rest == nullptr) return -1;
      read_spec_token(rest, last, kRangeSyntax);
      if (last[0] == '\0') return -1;
      int32_t from = read_int32(first);
      int32_t to = read_int32(last);
      if (from == 0 || to == 0 || from > to) return -1;
      if (range_count >= kMaxListEntries) return -1;
      k.ranges[range_count][0] = from;
      k.ranges[range_count][1] = to;
      ++range_count;
      add_columns(k, static_cast<int64_t>(to) - from + 1);
      return 0;
    }
    // The number comes from the raw text, so a quoted value reads as 0.
    int32_t value = read_int32(after);
    if (value == 0) return -1;
    if (value_count >= kMaxListEntries) return -1;
    k.values[value_count++] = value;
    add_columns(k, 1);
    return 0;
  }

  int store_attribute() {
    KeyDefinition& k = current();
    if (attribute_count >= kMaxListEntries) return -1;
    char* field = k.attributes[attribute_count];
    size_t length = strlen(item);
    if (length > 2 && starts_hex(item)) {
      if (length % 2 != 0) return -1;
      size_t out = 0;
      for (size_t i = 2; i < length; i += 2) field[out++] = hex_pair(item + i);
      field[out] = '\0';
    } else {
      memcpy(field, item, length + 1);
    }
    ++attribute_count;
    ++k.attribute_count;
    return 0;
  }

  void store_qualifier() {
    char* field = current().qualifiers[attribute_count - 1];
    size_t length = strnlen(item, kQualifierBytes);
    memcpy(field, item, length);
    field[length] = '\0';
  }

  int store_delimiter(bool empty_allowed) {
    char c;
    size_t length = strlen(item);
    if (length == 0) {
      if (!empty_allowed) return -1;
      c = ',';
    } else if (length == 1) {
      c = item[0];
    } else {
      if (length < 3 || !starts_hex(item)) return -1;
      // item[3] is at worst the item's NUL.
      c = hex_pair(item + 2);
    }
    if (delimiter_count >= kMaxDelimiters) return -1;
    current().delimiters[delimiter_count++] = c;
    return 0;
  }

  int handle(int position, const char* after) {
    switch (position) {
      case 0:  // ( opens a key group
        if (state != SpecState::kIdle && state != SpecState::kAfterKey &&
            state != SpecState::kAfterAttributes) {
          return -1;
        }
        if (key + 1 >= kMaxKeys) return -1;
        ++key;
        value_count = range_count = attribute_count = delimiter_count = 0;
        state = SpecState::kInKey;
        read_spec_token(after, item, kSyntax);
        return store_key_item(after);
      case 1:  // , between items, attributes or delimiter characters
        if (state != SpecState::kInKey && state != SpecState::kInAttributes &&
            state != SpecState::kInDelimiters) {
          return -1;
        }
        if (!read_item(after)) return -1;
        if (state == SpecState::kInKey) return store_key_item(after);
        if (state == SpecState::kInAttributes) return store_attribute();
        return store_delimiter(false);
      case 2:  // )
        if (state != SpecState::kInKey) return -1;
        state = SpecState::kAfterKey;
        return 0;
      case 3:  // [ opens the attributes of the key just closed
        if (state != SpecState::kAfterKey) return -1;
        state = SpecState::kInAttributes;
        if (!read_item(after)) return -1;
        return store_attribute();
      case 5:  // ; the qualifier of the latest attribute
        if (state != SpecState::kInAttributes) return -1;
        if (!read_item(after)) return -1;
        store_qualifier();
        return 0;
      case 6:  // ]
        if (state != SpecState::kInAttributes) return -1;
        state = SpecState::kAfterAttributes;
        return 0;
      case 7:  // { opens a delimiter group of the latest key
        if (state != SpecState::kIdle && state != SpecState::kAfterKey &&
            state != SpecState::kAfterAttributes) {
          return -1;
        }
        state = SpecState::kInDelimiters;
        // A group before every key group belongs to entry 0, and the first
        // key group then fills entry 1.
        if (key < 0) key = 0;
        read_spec_token(after, item, kSyntax);
        return store_delimiter(true);
      case 9:  // }
        if (state != SpecState::kInDelimiters) return -1;
        state = SpecState::kIdle;
        return 0;
      default:
        return -1;
    }
  }
};

}  // namespace

char* preprocess_key_spec(char* text) {
  if (text == nullptr) return nullptr;
  if (find_text_nocase(text, "key") != nullptr) remove_word(text, "key");
  const char* found = find_text_nocase(text, "attr");
  if (found == nullptr) return text;

  CharBoundaryWalk boundary(text);
  bool inside = false;
  while (found != nullptr) {
    size_t p = static_cast<size_t>(found - text) + 4;
    for (; text[p] != '\0'; ++p) {
      char c = text[p];
      if (c != '(' && c != ',' && c != ')') continue;
      if (!boundary.at(p)) continue;
      if (c == '(') {
        // A second '(' before the group closed: leave the text as it is
        // now, with every "attr" still in it.
        if (inside) return text;
        text[p] = '[';
        inside = true;
      } else if (c == ',') {
        if (inside) text[p] = ';';
      } else {
        if (!inside) return text;
        text[p] = ']';
        inside = false;
        break;
      }
    }
    found = find_text_nocase(found + 4, "attr");
  }
  remove_word(text, "attr");
  return text;
}

const char* read_spec_token(const char* source, char* out,
                            const char* delimiters) {
  if (source == nullptr || *source == '\0') {
    out[0] = '\0';
    return nullptr;
  }
  CharBoundaryWalk walk(source);
  bool quoted = false;
  bool stopped = false;
  int copied = 0;
  size_t i = 0;
  while (copied < kMaxItemBytes && source[i] != '\0') {
    unsigned char c = static_cast<unsigned char>(source[i]);
    bool boundary = walk.at(i);
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted) {
      out[copied++] = static_cast<char>(c);
    } else if (c == '\r' || c == '\n') {
      // Line ends inside the text are dropped.
    } else if (boundary && in_set(c, delimiters)) {
      stopped = true;
      break;
    } else {
      out[copied++] = static_cast<char>(c);
    }
    ++i;
  }
  out[copied] = '\0';

  int end = copied;
  while (end > 0 && (out[end - 1] == ' ' || out[end - 1] == '\r' ||
                     out[end - 1] == '\n')) {
    --end;
  }
  int begin = 0;
  while (begin < end && out[begin] == ' ') ++begin;
  if (begin > 0) memmove(out, out + begin, static_cast<size_t>(end - begin));
  out[end - begin] = '\0';

  return stopped ? source + i + 1 : source + i;
}

int parse_key_spec(const char* text, KeyDefinitionTable* table) {
  if (text == nullptr || table == nullptr) return -1;
  Parser parser;
  parser.table = table;
  CharBoundaryWalk walk(text);
  bool quoted = false;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool boundary = walk.at(i);
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted || !boundary) continue;
    const char* at = strchr(kSyntax, c);
    if (at == nullptr) continue;
    // ',' stands at three positions; the state tells them apart, so the
    // first is enough.
    if (parser.handle(static_cast<int>(at - kSyntax), text + i + 1) != 0) {
      return -1;
    }
  }
  if (parser.state == SpecState::kIdle ||
      parser.state == SpecState::kAfterKey ||
      parser.state == SpecState::kAfterAttributes) {
    return 0;
  }
  return -1;
}

}  // namespace quarnel
