// GBK text: conversion at the edges and the text operations of the program.
#include "model/text.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <limits>

namespace model {

namespace {

bool isAscii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// One conversion descriptor per direction and thread, opened on first use:
// opening a descriptor costs far more than converting a short field.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts in; a sequence the source encoding does not allow (or the
  // target cannot hold) becomes '?' and conversion goes on behind it.
  std::string run(std::string_view in) {
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      // No converter: keep ASCII, mark everything else.
      for (unsigned char c : in) out += c < 0x80 ? static_cast<char>(c) : '?';
      return out;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out.resize(in.size() * 2 + 8);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    size_t used = 0;
    while (true) {
      char* dst = out.data() + used;
      size_t dstLeft = out.size() - used;
      size_t rc = iconv(cd_, srcLeft ? &src : nullptr, &srcLeft, &dst, &dstLeft);
      used = out.size() - dstLeft;
      if (rc != static_cast<size_t>(-1)) {
        if (srcLeft == 0) {
          // Flush any shift state.
          dst = out.data() + used;
          dstLeft = out.size() - used;
          iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
          used = out.size() - dstLeft;
          break;
        }
        continue;
      }
      if (errno == E2BIG) {
        out.resize(out.size() * 2 + 16);
        continue;
      }
      // EILSEQ (invalid or unrepresentable) or EINVAL (incomplete at the end):
      // one '?' for the offending byte, then go on.
      if (used + 1 > out.size()) out.resize(out.size() * 2 + 16);
      out[used++] = '?';
      ++src;
      --srcLeft;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      if (srcLeft == 0) break;
    }
    out.resize(used);
    return out;
  }

 private:
  iconv_t cd_;
};

Converter& toGbk() {
  thread_local Converter c("GB18030", "UTF-8");
  return c;
}
Converter& toUtf8Converter() {
  thread_local Converter c("UTF-8", "GB18030");
  return c;
}

// Length in bytes of the character that starts at byte i of s.
inline int charLength(const std::string& s, int i) {
  if (static_cast<unsigned char>(s[i]) >= 0x80 && i + 1 < static_cast<int>(s.size())) return 2;
  return 1;
}

bool isBlankAscii(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Folds the full-width digits, signs and spaces of GBK to their half-width
// forms, stepping by character.
std::string foldFullWidth(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (int i = 0; i < static_cast<int>(s.size());) {
    int n = charLength(s, i);
    if (n == 2) {
      unsigned char a = static_cast<unsigned char>(s[i]);
      unsigned char b = static_cast<unsigned char>(s[i + 1]);
      if (a == 0xA3 && b >= 0xB0 && b <= 0xB9) {
        out += static_cast<char>('0' + (b - 0xB0));
      } else if (a == 0xA3 && b == 0xAB) {
        out += '+';
      } else if (a == 0xA3 && b == 0xAD) {
        out += '-';
      } else if ((a == 0xA1 && b == 0xA1) || (a == 0xA3 && b == 0xA0)) {
        out += ' ';
      } else {
        out.append(s, i, 2);
      }
    } else {
      out += s[i];
    }
    i += n;
  }
  return out;
}

}  // namespace

Text Text::fromGbk(std::string bytes) { return Text(std::move(bytes)); }

Text Text::fromUtf8(std::string_view utf8) {
  if (isAscii(utf8)) return Text(std::string(utf8));
  return Text(toGbk().run(utf8));
}

std::string Text::toUtf8() const {
  if (isAscii(bytes_)) return bytes_;
  return toUtf8Converter().run(bytes_);
}

Text operator""_t(const char* utf8, std::size_t n) {
  return Text::fromUtf8(std::string_view(utf8, n));
}

// A start position inside a double-byte character (on its second byte)
// moves on to the next character: matches begin only where characters begin.
int findText(const Text& hay, const Text& needle, int start) {
  const std::string& h = hay.bytes();
  const std::string& n = needle.bytes();
  if (n.empty()) return h.empty() ? -1 : 1;
  if (start < 1) start = 1;
  const int hl = static_cast<int>(h.size());
  const int nl = static_cast<int>(n.size());
  for (int i = 0; i + nl <= hl; i += charLength(h, i)) {
    if (i + 1 < start) continue;
    if (std::memcmp(h.data() + i, n.data(), nl) == 0) return i + 1;
  }
  return -1;
}

Text leftText(const Text& t, int n) {
  if (n <= 0) return Text();
  if (n >= t.length()) return t;
  return Text::fromGbk(t.bytes().substr(0, n));
}

Text rightText(const Text& t, int n) {
  if (n <= 0) return Text();
  if (n >= t.length()) return t;
  return Text::fromGbk(t.bytes().substr(t.bytes().size() - n));
}

Text removeSpaces(const Text& t) {
  const std::string& s = t.bytes();
  std::string out;
  out.reserve(s.size());
  for (int i = 0; i < static_cast<int>(s.size());) {
    int n = charLength(s, i);
    bool space = n == 1 ? s[i] == ' '
                        : static_cast<unsigned char>(s[i]) == 0xA1 &&
                              static_cast<unsigned char>(s[i + 1]) == 0xA1;
    if (!space) out.append(s, i, n);
    i += n;
  }
  return Text::fromGbk(std::move(out));
}

// Only single-byte ASCII letters fold: the second byte of a double-byte
// character may look like a letter but is part of another character.
bool equalsIgnoreCase(const Text& a, const Text& b) {
  const std::string& x = a.bytes();
  const std::string& y = b.bytes();
  if (x.size() != y.size()) return false;
  for (int i = 0; i < static_cast<int>(x.size());) {
    int n = charLength(x, i);
    if (n != charLength(y, i)) return false;
    if (n == 2) {
      if (x[i] != y[i] || x[i + 1] != y[i + 1]) return false;
    } else {
      unsigned char c = static_cast<unsigned char>(x[i]);
      unsigned char d = static_cast<unsigned char>(y[i]);
      if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
      if (d >= 'A' && d <= 'Z') d = static_cast<unsigned char>(d - 'A' + 'a');
      if (c != d) return false;
    }
    i += n;
  }
  return true;
}

int textToInt(const Text& t) {
  std::string s = foldFullWidth(t.bytes());
  size_t i = 0;
  while (i < s.size() && isBlankAscii(static_cast<unsigned char>(s[i]))) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  long long v = 0;
  const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                   : std::numeric_limits<int>::max();
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > limit) v = limit;  // saturate; keep reading the digits
  }
  return static_cast<int>(negative ? -v : v);
}

Text numberToText(long long v) { return Text::fromGbk(std::to_string(v)); }

Text numberToText(double v) {
  if (std::isnan(v)) return Text::fromGbk("NaN");
  if (std::isinf(v)) return Text::fromGbk(v < 0 ? "-Inf" : "Inf");
  char buf[400];
  if (v == std::trunc(v)) {
    if (v == 0) return Text::fromGbk("0");  // also -0
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return Text::fromGbk(buf);
  }
  std::snprintf(buf, sizeof buf, "%.6f", v);
  std::string s(buf);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  if (s.size() == 2 && s[0] == '-' && s[1] == '0') s.erase(0, 1);  // a tiny negative value rounds to zero
  return Text::fromGbk(std::move(s));
}

}  // namespace model
