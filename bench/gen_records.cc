// Writes reproducible Shift_JIS business records for the benchmark:
// customer code, date, signed amount with thousands commas, the name in
// katakana and in kanji, and free text; 40 to 200 bytes a line, CR LF.
//   gen_records SEED BYTES > file
//   gen_records SEED BYTES fixed > file
//       fixed columns instead: customer code in columns 1-10, date
//       (YYYYMMDD) 11-18, signed amount with commas right-aligned in
//       19-30, then the names and text; about 100 bytes a line.
// Built by bench/run.sh with g++ -O2; not part of the product.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

uint64_t state;

uint64_t next_random() {  // splitmix64
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

uint64_t below(uint64_t n) { return next_random() % n; }

const char* const kSurnames[] = {
    "\x93\x63\x92\x86",
    "\x8D\xB2\x93\xA1",
    "\x97\xE9\x96\xD8",
    "\x8D\x82\x8B\xB4",
    "\x88\xC9\x93\xA1",
    "\x93\x6E\x95\xD3",
    "\x8E\x52\x96\x7B",
    "\x92\x86\x91\xBA",
    "\x8F\xAC\x97\xD1",
    "\x89\xC1\x93\xA1",
    "\x8B\x67\x93\x63",
    "\x8E\x52\x93\x63",
    "\x8D\xB2\x81\x58\x96\xD8",
    "\x8E\x52\x8C\xFB",
    "\x8F\xBC\x96\x7B",
    "\x88\xE4\x8F\xE3",
    "\x96\xD8\x91\xBA",
    "\x97\xD1",
    "\x90\xB4\x90\x85",
    "\x8D\xD6\x93\xA1",
    "\x90\x58",
    "\x92\x72\x93\x63",
    "\x8B\xB4\x96\x7B",
    "\x90\xCE\x90\xEC",
    "\x91\x4F\x93\x63",
    "\x93\xA1\x93\x63",
    "\x89\xAA\x93\x63",
    "\x8C\xE3\x93\xA1",
    "\x92\xB7\x92\x4A\x90\xEC",
    "\x91\xBA\x8F\xE3"};
const char* const kGivenNames[] = {
    "\x91\xBE\x98\x59",
    "\x89\xD4\x8E\x71",
    "\x88\xEA\x98\x59",
    "\x8C\x92",
    "\x94\xFC\x8D\xE7",
    "\xE3\xC4",
    "\x97\x7A\x8D\xD8",
    "\x91\xE5\x95\xE3",
    "\x92\xBC\x8E\x71",
    "\x90\xBD",
    "\x8C\x62",
    "\x97\x54\x8E\x71",
    "\x8D\x5F",
    "\x90\x5E\x88\xEA",
    "\x97\x52\x94\xFC",
    "\x91\xF1\x96\xE7",
    "\x8D\xCA",
    "\x98\x61\x96\xE7",
    "\x96\xBE\x94\xFC",
    "\x97\xB2"};
const char* const kWords[] = {
    "\x94\x5B\x95\x69",
    "\x90\xBF\x8B\x81",
    "\x8C\xA9\x90\xCF",
    "\x95\xD4\x95\x69",
    "\x94\xF5\x8D\x6C",
    "\x8E\x8A\x8B\x7D",
    "\x8A\x6D\x94\x46\x8D\xCF",
    "\x96\xA2\x95\xA5",
    "\x93\xFC\x8B\xE0",
    "\x8F\x6F\x89\xD7",
    "\x8D\xDD\x8C\xC9",
    "\x93\x8C\x8B\x9E\x93\x73",
    "\x91\xE5\x8D\xE3\x95\x7B",
    "\x96\xBC\x8C\xC3\x89\xAE\x8E\x73",
    "\x8A\x94\x8E\xAE\x89\xEF\x8E\xD0",
    "\x97\x4C\x8C\xC0\x89\xEF\x8E\xD0",
    "\x8E\x78\x93\x58",
    "\x96\x7B\x8E\xD0",
    "\x89\x63\x8B\xC6\x95\x94",
    "\x8C\x6F\x97\x9D\x89\xDB",
    "\x81\x5B",
    "\x81\x41",
    "\x81\x42",
    "\x81\x69",
    "\x81\x6A",
    "\x91\xE6\x88\xEA\x8E\x6C\x94\xBC\x8A\xFA",
    "\x8C\x8E\x96\x96\x92\xF7\x82\xDF",
    "\x97\x82\x8C\x8E\x95\xA5\x82\xA2",
    "\x90\x55\x8D\x9E",
    "\x8E\xE8\x8C\x60"};

template <typename T, size_t N>
const char* pick(T (&table)[N]) {
  return table[below(N)];
}

// Full-width katakana ア..ン (83 40..83 93, without 83 7F).
void katakana(std::string* out, int count) {
  for (int i = 0; i < count; ++i) {
    unsigned b = 0x40 + static_cast<unsigned>(below(0x54));
    if (b >= 0x7F) ++b;
    out->push_back(static_cast<char>(0x83));
    out->push_back(static_cast<char>(b));
  }
}

std::string grouped_amount() {
  int64_t value = static_cast<int64_t>(below(100000000)) >> below(20);
  std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[i]);
  }
  int sign = static_cast<int>(below(10));
  if (sign == 0) grouped.insert(0, "-");
  if (sign == 1) grouped.insert(0, "+");
  return grouped;
}

void amount(std::string* out) {
  int64_t value = static_cast<int64_t>(below(100000000)) >> below(20);
  std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[i]);
  }
  int sign = static_cast<int>(below(10));
  out->append("\"");
  if (sign == 0) out->push_back('-');
  if (sign == 1) out->push_back('+');
  out->append(grouped);
  out->append("\"");
}

// Cuts text to at most max bytes without splitting a double-byte character.
void cut(std::string* text, size_t max) {
  size_t i = 0;
  while (i < text->size()) {
    unsigned char c = static_cast<unsigned char>((*text)[i]);
    size_t width = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) ? 2 : 1;
    if (i + width > max) break;
    i += width;
  }
  text->resize(i);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: gen_records SEED BYTES [fixed]\n");
    return 2;
  }
  const bool fixed = argc == 4 && std::string(argv[3]) == "fixed";
  state = strtoull(argv[1], nullptr, 10);
  int64_t total = strtoll(argv[2], nullptr, 10);
  std::string out;
  out.reserve(1 << 22);
  int64_t written = 0;
  std::string line;
  while (written < total) {
    line.clear();
    char head[64];
    if (fixed) {
      snprintf(head, sizeof head, "K%09u%04u%02u%02u%12s,",
               static_cast<unsigned>(below(300000)),
               2015 + static_cast<unsigned>(below(10)),
               1 + static_cast<unsigned>(below(12)),
               1 + static_cast<unsigned>(below(28)),
               grouped_amount().c_str());
      line += head;
    } else {
    // About 300,000 customers: most codes repeat, so many lines share
    // their first bytes and are told apart further on.
    snprintf(head, sizeof head, "C%07u,%04u/%02u/%02u,",
             static_cast<unsigned>(below(300000)),
             2015 + static_cast<unsigned>(below(10)),
             1 + static_cast<unsigned>(below(12)),
             1 + static_cast<unsigned>(below(28)));
    line += head;
    amount(&line);
    line += ',';
    }
    katakana(&line, 3 + static_cast<int>(below(4)));
    line += "\x81\x40";  // full-width blank
    katakana(&line, 2 + static_cast<int>(below(3)));
    line += ',';
    line += pick(kSurnames);
    line += "\x81\x40";
    line += pick(kGivenNames);
    line += ',';
    size_t target = fixed ? 60 + static_cast<size_t>(below(81))
                          : 40 + static_cast<size_t>(below(161));
    while (line.size() < target) {
      switch (below(4)) {
        case 0: line += pick(kWords); break;
        case 1: line += "No." + std::to_string(below(100000)); break;
        case 2: line += ' '; break;
        default: katakana(&line, 1 + static_cast<int>(below(5))); break;
      }
    }
    cut(&line, target);
    line += "\r\n";
    if (written + static_cast<int64_t>(line.size()) > total) {
      break;  // the file ends on a whole line
    }
    out += line;
    written += static_cast<int64_t>(line.size());
    if (out.size() >= (1u << 22)) {
      fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
