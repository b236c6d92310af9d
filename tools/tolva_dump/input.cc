#include "tolva_dump/input.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace tolva_dump {

namespace {

// Reads `path` into `text`; on failure leaves the reason in `reason`.
bool read_file(const std::string& path, std::string& text, std::string& reason) {
  text.clear();
  if (path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    text = std::move(buffer).str();
    if (std::cin.bad()) {
      reason = "read error on standard input";
      return false;
    }
    return true;
  }
  errno = 0;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    reason = errno != 0 ? std::strerror(errno) : "cannot open";
    return false;
  }
  text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) {
    reason = errno != 0 ? std::strerror(errno) : "read error";
    return false;
  }
  return true;
}

}  // namespace

bool read_input(const std::string& path, std::string& text) {
  std::string reason;
  if (read_file(path, text, reason)) return true;
  std::cerr << "tolva-dump: cannot read " << path << ": " << reason << '\n';
  return false;
}

void report_fatal(const std::string& path, std::string_view message) {
  std::cerr << "tolva-dump: fatal error in " << path << ": " << message << '\n';
}

void append_number(std::string& out, std::uint32_t value) {
  char buffer[16];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, result.ptr);
}

}  // namespace tolva_dump
