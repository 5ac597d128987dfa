// The part of test_util that is the same on POSIX and on Windows.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "support/test_util.h"

namespace quarnel::testing {

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  // A test that goes on with the file's old bytes would blame the program.
  if (!out) ADD_FAILURE() << "could not write the test file " << path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool wait_until(const std::function<bool()>& condition, double seconds) {
  const auto until = std::chrono::steady_clock::now() +
                     std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::vector<std::string> random_lines(size_t bytes, unsigned seed,
                                      const std::string& alphabet) {
  std::mt19937 rng(seed);
  std::vector<std::string> lines;
  for (size_t total = 0; total < bytes; total += lines.back().size() + 1) {
    std::string line(6 + rng() % 40, ' ');
    for (char& c : line) c = alphabet[rng() % alphabet.size()];
    lines.push_back(line);
  }
  return lines;
}

std::string joined(const std::vector<std::string>& lines, const std::string& end) {
  std::string out;
  for (const std::string& l : lines) out += l + end;
  return out;
}

std::vector<std::string> split_lines(const std::string& text,
                                     const std::string& separator) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(separator, at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + separator.size();
  }
  return lines;
}

std::string utf16le_lines(const std::vector<std::u16string>& lines,
                          const std::u16string& end) {
  std::string out;
  for (const std::u16string& line : lines) {
    for (char16_t u : line + end) {
      out += static_cast<char>(u & 0xFF);
      out += static_cast<char>(u >> 8);
    }
  }
  return out;
}

std::string mask_times(const std::string& text) {
  static const std::regex stamp("[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
  return std::regex_replace(text, stamp, "<time>");
}

}  // namespace quarnel::testing
