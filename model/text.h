// GBK text: the one text type inside the program.
//
// Every text the program handles (captions, store fields, award names, the
// winners text) is a string of GBK bytes. Lengths and positions count bytes,
// and positions start at 1. The type is distinct from std::string so that a
// UTF-8 string cannot be mixed with GBK bytes by accident: UTF-8 enters only
// through Text::fromUtf8 or the _t literal (source literals are UTF-8), and
// leaves only through toUtf8() at the edges (widgets, SQLite, file names).
//
// Encoding uses GB18030, the superset of GBK, so that no character a user
// types is lost: characters outside GBK become four-byte sequences.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

class Text {
 public:
  Text() = default;

  // Wraps bytes that already are GBK/GB18030.
  static Text fromGbk(std::string bytes);
  // Converts UTF-8 (source literals, widget text, SQLite text) to GB18030.
  // Invalid UTF-8 sequences become '?'.
  static Text fromUtf8(std::string_view utf8);

  std::string toUtf8() const;
  const std::string& bytes() const { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }

  // Length in bytes.
  int length() const { return static_cast<int>(bytes_.size()); }
  bool empty() const { return bytes_.empty(); }
  // Byte at 0-based index i, as an unsigned value.
  unsigned char byteAt(int i) const { return static_cast<unsigned char>(bytes_[i]); }

  Text& operator+=(const Text& other) {
    bytes_ += other.bytes_;
    return *this;
  }
  friend Text operator+(Text a, const Text& b) {
    a += b;
    return a;
  }
  friend bool operator==(const Text& a, const Text& b) { return a.bytes_ == b.bytes_; }
  friend bool operator!=(const Text& a, const Text& b) { return a.bytes_ != b.bytes_; }
  friend bool operator<(const Text& a, const Text& b) { return a.bytes_ < b.bytes_; }

 private:
  explicit Text(std::string bytes) : bytes_(std::move(bytes)) {}
  std::string bytes_;
};

// "恭喜："_t : a UTF-8 source literal converted to GBK.
Text operator""_t(const char* utf8, std::size_t n);

// Byte set: the contents of a picture file, a byte-set store field.
using Bytes = std::vector<std::uint8_t>;

// 1-based byte position of the first occurrence of needle in hay at or after
// start, or -1. The search steps by character (a byte of 128 or more and the
// byte after it are one character), so a match begins only at the start of a
// character. An empty needle gives 1 when hay is not empty, else -1.
int findText(const Text& hay, const Text& needle, int start = 1);

// First / last n bytes; n <= 0 gives "", n beyond the length the whole text.
Text leftText(const Text& t, int n);
Text rightText(const Text& t, int n);

// Removes ASCII spaces and full-width spaces (GBK A1 A1).
Text removeSpaces(const Text& t);

// Whole-text equality ignoring the case of ASCII letters.
bool equalsIgnoreCase(const Text& a, const Text& b);

// Numbers as the operator types them: blanks (ASCII white space and the
// full-width spaces A1A1 and A3A0), an optional sign and decimal digits, each
// half- or full-width.
//
// Text to integer, reading as far as the number goes: leading blanks are
// skipped, an optional sign and digits follow, anything after them is
// ignored; no digits gives 0. Values beyond the 32-bit range saturate.
int textToInt(const Text& t);
// A typed whole number: the whole text is blanks, an optional sign, one to
// nine digits and blanks. Anything else ("", "5人", "1.5", "1 0", ten digits)
// gives nothing; the caller checks the range it accepts.
std::optional<int> parseWholeNumber(const Text& t);
// Text to a decimal number, reading as far as the number goes, like
// textToInt, with an optional fraction (a half- or full-width point and
// digits): "　１２.５元" gives 12.5; no digits gives 0. Exact to the
// nearest double, however many digits.
double textToDouble(const Text& t);

// Integer to decimal text ("-" when negative).
Text numberToText(long long v);
// Double to text: whole values without a fraction (90, not 90.0); others with
// up to six decimals, trailing zeros dropped.
Text numberToText(double v);

}  // namespace model
