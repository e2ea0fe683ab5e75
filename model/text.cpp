// GBK text: conversion at the edges and the text operations of the program.
#include "model/text.h"

#include <algorithm>
#include <charconv>
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

// The characters a typed number is made of, half- or full-width, read at byte
// i of s (stepping by character).
enum class NumberChar { Blank, Plus, Minus, Digit, Point, Other };
NumberChar numberCharAt(const std::string& s, int i, int* length, int* digit) {
  *length = charLength(s, i);
  const unsigned char a = static_cast<unsigned char>(s[i]);
  if (*length == 1) {
    if (isBlankAscii(a)) return NumberChar::Blank;
    if (a == '+') return NumberChar::Plus;
    if (a == '-') return NumberChar::Minus;
    if (a == '.') return NumberChar::Point;
    if (a >= '0' && a <= '9') {
      *digit = a - '0';
      return NumberChar::Digit;
    }
    return NumberChar::Other;
  }
  const unsigned char b = static_cast<unsigned char>(s[i + 1]);
  if ((a == 0xA1 && b == 0xA1) || (a == 0xA3 && b == 0xA0)) return NumberChar::Blank;
  if (a == 0xA3 && b == 0xAB) return NumberChar::Plus;
  if (a == 0xA3 && b == 0xAD) return NumberChar::Minus;
  if (a == 0xA3 && b == 0xAE) return NumberChar::Point;
  if (a == 0xA3 && b >= 0xB0 && b <= 0xB9) {
    *digit = b - 0xB0;
    return NumberChar::Digit;
  }
  return NumberChar::Other;
}

// Reads blanks, an optional sign and decimal digits from the start of s;
// with a fraction, also a point and the digits after it.
struct ScannedNumber {
  bool negative = false;
  int digits = 0;          // significant and leading-zero digits read
  long long value = 0;     // saturates at kSaturate
  bool wholeText = false;  // only blanks follow the digits
  std::string decimal;     // the digits (and point) read, half-width
};
constexpr long long kSaturate = 1LL << 40;

ScannedNumber scanNumber(const std::string& s, bool withFraction = false) {
  ScannedNumber r;
  const int n = static_cast<int>(s.size());
  int i = 0, length = 0, digit = 0;
  NumberChar c = NumberChar::Other;
  auto next = [&] { c = i < n ? numberCharAt(s, i, &length, &digit) : NumberChar::Other; };
  next();
  while (i < n && c == NumberChar::Blank) i += length, next();
  if (i < n && (c == NumberChar::Plus || c == NumberChar::Minus)) {
    r.negative = c == NumberChar::Minus;
    i += length;
    next();
  }
  while (i < n && c == NumberChar::Digit) {
    r.value = std::min(r.value * 10 + digit, kSaturate);
    r.decimal += static_cast<char>('0' + digit);
    ++r.digits;
    i += length;
    next();
  }
  if (withFraction && i < n && c == NumberChar::Point) {
    r.decimal += '.';
    i += length;
    next();
    while (i < n && c == NumberChar::Digit) {
      r.decimal += static_cast<char>('0' + digit);
      i += length;
      next();
    }
  }
  while (i < n && c == NumberChar::Blank) i += length, next();
  r.wholeText = i >= n;
  return r;
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
  const ScannedNumber r = scanNumber(t.bytes());
  const long long v = r.negative ? -r.value : r.value;
  return static_cast<int>(
      std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<int> parseWholeNumber(const Text& t) {
  const ScannedNumber r = scanNumber(t.bytes());
  if (r.digits == 0 || !r.wholeText || r.value > 999999999) return std::nullopt;
  return static_cast<int>(r.negative ? -r.value : r.value);
}

double textToDouble(const Text& t) {
  const ScannedNumber r = scanNumber(t.bytes(), true);
  std::string number = r.decimal;
  if (number.empty() || number == ".") return 0.0;
  if (number.front() == '.') number.insert(number.begin(), '0');
  double v = 0;
  std::from_chars(number.data(), number.data() + number.size(), v);
  return r.negative ? -v : v;
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
  if (s.size() == 2 && s[0] == '-' && s[1] == '0')
    s.erase(0, 1);  // a tiny negative value rounds to zero
  return Text::fromGbk(std::move(s));
}

}  // namespace model
