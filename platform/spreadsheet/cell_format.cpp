// Number formats: a code is split into sections, each section into tokens
// (literal text, digit places, date and time parts), and the value chosen
// section is written token by token.
#include "platform/spreadsheet/cell_format.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet::detail {

namespace {

enum class Kind {
  Literal,    // text shown as it stands
  General,    // the General format inside a section
  Digit,      // '0', '#' or '?': text holds the character
  Point,      // the decimal point
  Comma,      // thousands separator or scaling
  Percent,    // multiplies by 100
  Exponent,   // "E+" or "E-": text holds the sign character
  Slash,      // fraction bar
  At,         // the text of a text cell
  Year,       // count: y, yy, yyyy
  Month,      // count: m .. mmmmm
  Minute,     // count: m, mm (decided after lexing)
  Day,        // count: d .. dddd
  Weekday,    // aaa / aaaa: count 3 or 4
  Hour,       // count
  Second,     // count
  SubSecond,  // count: decimals of the seconds
  AmPm,       // text: the code as written ("AM/PM", "A/P", "上午/下午")
  Elapsed,    // [h] [mm] [ss]: text holds the letter, count the width
};

struct Token {
  Kind kind;
  std::string text;
  int count = 0;
};

struct Section {
  std::vector<Token> tokens;
  bool hasCondition = false;
  std::string op;  // "<", "<=", ">", ">=", "=", "<>"
  double operand = 0;
  bool date = false;
  bool ampm = false;
  bool empty = true;     // the section's code was empty
  bool english = false;  // names in English ([$-409]); Chinese otherwise

  // Worked out once from the tokens (layOut), so that formatting a value
  // walks the tokens once.
  bool hasNumber = false;  // digit places or General: not a date
  int intPlaces = 0, fracPlaces = 0, expPlaces = 0, percent = 0;
  int scale = 0;  // commas right after the last integer place: thousands
  bool point = false, exponent = false, grouping = false, slash = false;
  bool engineering = false;         // "##0.0E+0": exponents in steps of the integer places
  std::string intKinds, fracKinds;  // '0', '#' or '?' of each place, left to right
  int subDigits = 0;                // dates: decimals of a second shown (at most 3)
};

bool isDigitPlace(char c) { return c == '0' || c == '#' || c == '?'; }

int lower(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// Bytes of the UTF-8 character starting at s[i].
size_t charLength(std::string_view s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  return i + n <= s.size() ? n : s.size() - i;
}

bool startsWithNoCase(std::string_view s, size_t i, std::string_view word) {
  if (s.size() - i < word.size()) return false;
  for (size_t k = 0; k < word.size(); ++k)
    if (lower(s[i + k]) != lower(word[k])) return false;
  return true;
}

void addLiteral(Section* sec, std::string_view text) {
  if (!sec->tokens.empty() && sec->tokens.back().kind == Kind::Literal)
    sec->tokens.back().text += text;
  else
    sec->tokens.push_back({Kind::Literal, std::string(text)});
}

// A bracketed part: colour, condition, currency and locale, elapsed time.
void addBracket(Section* sec, std::string_view inner) {
  if (inner.empty()) return;
  const char c0 = inner[0];
  if (c0 == '<' || c0 == '>' || c0 == '=') {
    size_t n = 1;
    if (inner.size() > 1 && (inner[1] == '=' || inner[1] == '>')) n = 2;
    sec->hasCondition = true;
    sec->op = std::string(inner.substr(0, n));
    sec->operand = std::strtod(std::string(inner.substr(n)).c_str(), nullptr);
    return;
  }
  if (c0 == '$') {
    // [$¥-804]: a currency symbol and a locale; [$-F800]: the system's
    // long date; [$-F400]: its long time.
    const size_t dash = inner.find('-');
    const std::string_view symbol =
        inner.substr(1, dash == std::string_view::npos ? inner.npos : dash - 1);
    if (!symbol.empty()) addLiteral(sec, symbol);
    if (dash != std::string_view::npos) {
      // The locale: a language of the English group (0x09) names months,
      // days and halves of the day in English.
      const unsigned long lcid =
          std::strtoul(std::string(inner.substr(dash + 1)).c_str(), nullptr, 16);
      sec->english = (lcid & 0x3FF) == 0x09;
    }
    return;
  }
  // [h], [hh], [m], [mm], [s], [ss]: time that runs past its unit.
  const char l = static_cast<char>(lower(c0));
  if (l == 'h' || l == 'm' || l == 's') {
    bool same = true;
    for (char c : inner) same = same && lower(c) == l;
    if (same) {
      sec->tokens.push_back({Kind::Elapsed, std::string(1, l), static_cast<int>(inner.size())});
      sec->date = true;
      return;
    }
  }
  // Colours ([Red], [Color12]) and native numerals are not part of the text.
}

// The system formats named by a locale code.
std::string systemFormat(std::string_view code) {
  if (code.find("[$-F800]") != std::string_view::npos ||
      code.find("[$-f800]") != std::string_view::npos)
    return "yyyy\"年\"m\"月\"d\"日\"\u3000aaaa";
  if (code.find("[$-F400]") != std::string_view::npos ||
      code.find("[$-f400]") != std::string_view::npos)
    return "h:mm:ss";
  return std::string();
}

// The places of a section and what they mean, in one pass over its tokens.
void layOut(Section* sec) {
  size_t firstDigit = sec->tokens.size(), lastInt = 0;
  for (size_t k = 0; k < sec->tokens.size(); ++k) {
    const Token& t = sec->tokens[k];
    switch (t.kind) {
      case Kind::Digit:
        if (firstDigit == sec->tokens.size()) firstDigit = k;
        if (t.text[0] == '#') sec->engineering = true;  // kept only with several places, below
        if (sec->exponent) {
          ++sec->expPlaces;
        } else if (sec->point) {
          ++sec->fracPlaces;
          sec->fracKinds += t.text[0];
        } else {
          ++sec->intPlaces, lastInt = k;
          sec->intKinds += t.text[0];
        }
        sec->hasNumber = true;
        break;
      case Kind::General:
        sec->hasNumber = true;
        break;
      case Kind::Point:
        if (!sec->exponent) sec->point = true;
        break;
      case Kind::Exponent:
        sec->exponent = true;
        break;
      case Kind::Percent:
        ++sec->percent;
        break;
      case Kind::Slash:
        sec->slash = true;
        break;
      case Kind::SubSecond:
        sec->subDigits = std::max(sec->subDigits, std::min(t.count, 3));
        break;
      default:
        break;
    }
  }
  sec->engineering = sec->engineering && sec->intPlaces > 1;
  // Commas: between integer places they group; right after the last place
  // (before the point or the end) each one divides by 1000, and so do
  // commas right after the decimals ("0.00,").
  size_t before = 0;  // the last token before k that is not a comma
  bool any = false;
  for (size_t k = 0; k < sec->tokens.size(); ++k) {
    if (sec->tokens[k].kind != Kind::Comma) {
      before = k, any = true;
      continue;
    }
    if (k > firstDigit && k < lastInt && sec->intPlaces > 0)
      sec->grouping = true;
    else if (k > lastInt && sec->intPlaces > 0 && !sec->point)
      sec->scale += any && before == lastInt ? 1 : 0;
    else if (k > lastInt && sec->point)
      sec->scale += any && sec->tokens[before].kind == Kind::Digit ? 1 : 0;
  }
}

Section parseSection(std::string_view s) {
  Section sec;
  sec.empty = s.empty();
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      const size_t end = s.find('"', i + 1);
      addLiteral(&sec, s.substr(i + 1, (end == s.npos ? s.size() : end) - i - 1));
      i = end == s.npos ? s.size() : end + 1;
    } else if (c == '\\') {
      if (i + 1 < s.size()) {
        const size_t n = charLength(s, i + 1);
        addLiteral(&sec, s.substr(i + 1, n));
        i += 1 + n;
      } else {
        ++i;
      }
    } else if (c == '_') {
      // Room as wide as the next character: one space.
      addLiteral(&sec, " ");
      i += i + 1 < s.size() ? 1 + charLength(s, i + 1) : 1;
    } else if (c == '*') {
      // Fills the column with the next character: nothing in a text.
      i += i + 1 < s.size() ? 1 + charLength(s, i + 1) : 1;
    } else if (c == '[') {
      const size_t end = s.find(']', i);
      if (end == s.npos) {
        addLiteral(&sec, s.substr(i));
        break;
      }
      addBracket(&sec, s.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (startsWithNoCase(s, i, "general")) {
      sec.tokens.push_back({Kind::General, ""});
      i += 7;
    } else if (isDigitPlace(c)) {
      sec.tokens.push_back({Kind::Digit, std::string(1, c)});
      ++i;
    } else if (c == '.') {
      // In a time, ".00" after the seconds gives their decimals.
      size_t n = 0;
      while (i + 1 + n < s.size() && s[i + 1 + n] == '0') ++n;
      bool afterSeconds = false;
      for (auto it = sec.tokens.rbegin(); it != sec.tokens.rend(); ++it) {
        if (it->kind == Kind::Literal) continue;
        afterSeconds = it->kind == Kind::Second || (it->kind == Kind::Elapsed && it->text == "s");
        break;
      }
      if (afterSeconds && n > 0) {
        sec.tokens.push_back({Kind::SubSecond, "", static_cast<int>(n)});
        i += 1 + n;
      } else {
        sec.tokens.push_back({Kind::Point, "."});
        ++i;
      }
    } else if (c == ',') {
      sec.tokens.push_back({Kind::Comma, ","});
      ++i;
    } else if (c == '%') {
      sec.tokens.push_back({Kind::Percent, "%"});
      ++i;
    } else if ((c == 'E' || c == 'e') && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
      sec.tokens.push_back({Kind::Exponent, std::string(1, s[i + 1])});
      i += 2;
    } else if (c == '/') {
      sec.tokens.push_back({Kind::Slash, "/"});
      ++i;
    } else if (c == '@') {
      sec.tokens.push_back({Kind::At, ""});
      ++i;
    } else if (startsWithNoCase(s, i, "am/pm")) {
      sec.tokens.push_back({Kind::AmPm, std::string(s.substr(i, 5))});
      sec.ampm = sec.date = true;
      i += 5;
    } else if (startsWithNoCase(s, i, "a/p")) {
      sec.tokens.push_back({Kind::AmPm, std::string(s.substr(i, 3))});
      sec.ampm = sec.date = true;
      i += 3;
    } else if (s.substr(i, 13) == "上午/下午") {
      sec.tokens.push_back({Kind::AmPm, "上午/下午"});
      sec.ampm = sec.date = true;
      i += 13;
    } else {
      const char l = static_cast<char>(lower(c));
      size_t n = 1;
      while (i + n < s.size() && lower(s[i + n]) == l) ++n;
      Kind kind = Kind::Literal;
      switch (l) {
        case 'y':
        case 'e':
          kind = Kind::Year;
          break;
        case 'm':
          kind = Kind::Month;
          break;
        case 'd':
          kind = Kind::Day;
          break;
        case 'h':
          kind = Kind::Hour;
          break;
        case 's':
          kind = Kind::Second;
          break;
        case 'a':
          if (n >= 3) kind = Kind::Weekday;
          break;
        case 'g':
          // Era names: not shown in the Gregorian calendar.
          i += n;
          continue;
        default:
          break;
      }
      if (kind == Kind::Literal) {
        const size_t len = charLength(s, i);
        addLiteral(&sec, s.substr(i, len));
        i += len;
      } else {
        sec.tokens.push_back({kind, "", static_cast<int>(n)});
        sec.date = true;
        i += n;
      }
    }
  }
  // "m" right after an hour or right before a second is the minute.
  int lastTime = -1;  // index of the last date or time token
  for (size_t k = 0; k < sec.tokens.size(); ++k) {
    Token& t = sec.tokens[k];
    if (t.kind == Kind::Literal) continue;
    if (t.kind == Kind::Month && t.count <= 2) {
      bool minute =
          lastTime >= 0 &&
          (sec.tokens[lastTime].kind == Kind::Hour ||
           (sec.tokens[lastTime].kind == Kind::Elapsed && sec.tokens[lastTime].text == "h"));
      for (size_t j = k + 1; !minute && j < sec.tokens.size(); ++j) {
        const Kind nk = sec.tokens[j].kind;
        if (nk == Kind::Literal) continue;
        minute = nk == Kind::Second || (nk == Kind::Elapsed && sec.tokens[j].text == "s");
        if (nk != Kind::SubSecond) break;
      }
      if (minute) t.kind = Kind::Minute;
    }
    lastTime = static_cast<int>(k);
  }
  layOut(&sec);
  return sec;
}

std::vector<Section> parseCode(const std::string& code) {
  std::vector<Section> sections;
  size_t start = 0;
  bool quoted = false, bracket = false;
  for (size_t i = 0; i <= code.size(); ++i) {
    if (i < code.size()) {
      const char c = code[i];
      if (c == '\\' && !quoted) {
        if (i + 1 < code.size()) ++i;  // the escaped character, not a separator
        continue;
      }
      if (c == '"') quoted = !quoted;
      if (!quoted && c == '[') bracket = true;
      if (!quoted && c == ']') bracket = false;
      if (quoted || bracket || c != ';') continue;
    }
    std::string part = code.substr(start, i - start);
    const std::string system = systemFormat(part);
    sections.push_back(parseSection(system.empty() ? part : system));
    start = i + 1;
  }
  return sections;
}

bool conditionHolds(const Section& s, double v) {
  if (s.op == "<") return v < s.operand;
  if (s.op == "<=") return v <= s.operand;
  if (s.op == ">") return v > s.operand;
  if (s.op == ">=") return v >= s.operand;
  if (s.op == "=") return v == s.operand;
  if (s.op == "<>") return v != s.operand;
  return false;
}

// --- Digits -------------------------------------------------------------------------------

// |v| in decimal with `decimals` digits after the point, rounded half away
// from zero on its 15 significant digits (as spreadsheets round: 1.005 with
// two decimals is 1.01). A spreadsheet keeps no more than 15 significant
// digits, so the places after the 15th show zeros (110101199001011234 is
// 110101199001011000); *lost is then set: whatever digits the number had
// there were lost when it was stored.
void decimalParts(double v, int decimals, std::string* intPart, std::string* fracPart, bool* lost) {
  v = std::fabs(v);
  if (v == 0) {
    *intPart = "0";
    *fracPart = std::string(static_cast<size_t>(decimals), '0');
    return;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  // buf: d.dddddddddddddde[+-]xx
  std::string digits;
  digits += buf[0];
  digits.append(buf + 2, 14);
  const int exp = std::atoi(std::strchr(buf, 'e') + 1);
  if (exp >= 15) *lost = true;
  // digits[k] has the weight 10^(exp - k); keep weights down to 10^-decimals.
  const int keep = exp + 1 + decimals;  // digits kept
  if (keep < 0) {
    *intPart = "0";
    *fracPart = std::string(static_cast<size_t>(decimals), '0');
    return;
  }
  std::string kept;
  bool roundUp = false;
  if (keep < static_cast<int>(digits.size())) {
    kept = digits.substr(0, static_cast<size_t>(keep));
    roundUp = digits[static_cast<size_t>(keep)] >= '5';
  } else {
    kept = digits + std::string(static_cast<size_t>(keep) - digits.size(), '0');
  }
  int weight = exp;  // of kept[0]
  if (roundUp) {
    int k = static_cast<int>(kept.size()) - 1;
    while (k >= 0 && kept[static_cast<size_t>(k)] == '9') kept[static_cast<size_t>(k--)] = '0';
    if (k >= 0)
      ++kept[static_cast<size_t>(k)];
    else {
      kept.insert(kept.begin(), '1');
      ++weight;
    }
  }
  // Lay the kept digits out around the point.
  const int intDigits = weight + 1;
  if (intDigits <= 0) {
    *intPart = "0";
    *fracPart = std::string(static_cast<size_t>(-intDigits), '0') + kept;
  } else {
    *intPart = kept.substr(0, static_cast<size_t>(intDigits));
    *fracPart = kept.substr(static_cast<size_t>(intDigits));
  }
  fracPart->resize(static_cast<size_t>(decimals), '0');
  const size_t nz = intPart->find_first_not_of('0');
  *intPart = nz == std::string::npos ? "0" : intPart->substr(nz);
}

std::string group(const std::string& digits) {
  std::string out;
  const int n = static_cast<int>(digits.size());
  for (int k = 0; k < n; ++k) {
    out += digits[static_cast<size_t>(k)];
    if ((n - 1 - k) % 3 == 0 && k != n - 1) out += ',';
  }
  return out;
}

// The General format of |v|: at most 15 significant digits; a whole number
// is written out (with zeros after the 15th digit), never with an exponent.
std::string general(double v, bool* lost) {
  v = std::fabs(v);
  if (v == std::floor(v)) {
    std::string i, f;
    decimalParts(v, 0, &i, &f, lost);
    return i;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  int exp = std::atoi(std::strchr(buf, 'e') + 1);
  std::string mantissa(buf, std::strchr(buf, 'e'));
  while (mantissa.back() == '0') mantissa.pop_back();
  // Significant digits of the mantissa (d.ddd without the point).
  const int significant =
      static_cast<int>(mantissa.size()) - (mantissa.find('.') == std::string::npos ? 0 : 1);
  // Written out unless that needs a long run of zeros: below 1E-9, or more
  // than 20 decimals.
  if (exp >= -9 && exp < 15 && significant - 1 - exp <= 20) {
    std::string i, f;
    decimalParts(v, 14 - exp, &i, &f, lost);
    while (!f.empty() && f.back() == '0') f.pop_back();
    return f.empty() ? i : i + "." + f;
  }
  // Very small numbers: a mantissa of up to 15 digits and an exponent.
  if (mantissa.back() == '.') mantissa.pop_back();
  char e[16];
  std::snprintf(e, sizeof e, "E%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
  return mantissa + e;
}

// The fraction nearest x (0 <= x < 1e9) whose denominator is at most maxDen:
// the last convergent of x's continued fraction within the bound, or the
// semiconvergent after it when that is nearer.
void nearestFraction(double x, long maxDen, long* num, long* den) {
  *num = 0;
  *den = 1;
  if (!(x >= 0 && x < 1e9)) return;
  long p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  double r = x;
  for (int i = 0; i < 64; ++i) {
    const double a = std::floor(r);
    if (a > 1e9) break;
    const long ai = static_cast<long>(a);
    const long q2 = ai * q1 + q0;
    if (q2 > maxDen) {
      const long k = (maxDen - q0) / q1;
      const long ps = p0 + k * p1, qs = q0 + k * q1;
      if (std::fabs(x - static_cast<double>(ps) / static_cast<double>(qs)) <
          std::fabs(x - static_cast<double>(p1) / static_cast<double>(q1)))
        p1 = ps, q1 = qs;
      break;
    }
    const long p2 = ai * p1 + p0;
    p0 = p1, q0 = q1, p1 = p2, q1 = q2;
    const double f = r - a;
    if (f < 1e-12) break;
    r = 1 / f;
  }
  *num = p1;
  *den = q1;
}

// "# ?/?": a whole part, then the nearest fraction whose denominator has as
// many digits as its places; '?' places pad with spaces (numerators on the
// left, denominators on the right).
std::string formatFraction(double v, const Section& sec, bool* lost) {
  const std::vector<Token>& t = sec.tokens;
  size_t slashAt = 0;
  while (t[slashAt].kind != Kind::Slash) ++slashAt;
  size_t numStart = slashAt;
  while (numStart > 0 && t[numStart - 1].kind == Kind::Digit) --numStart;
  size_t denEnd = slashAt + 1;
  while (denEnd < t.size() && t[denEnd].kind == Kind::Digit) ++denEnd;
  bool wholePlaces = false;
  for (size_t k = 0; k < numStart; ++k) wholePlaces = wholePlaces || t[k].kind == Kind::Digit;
  const int numPlaces = static_cast<int>(slashAt - numStart);
  const int denPlaces = static_cast<int>(denEnd - slashAt - 1);
  long maxDen = 1;
  for (int k = 0; k < denPlaces && k < 6; ++k) maxDen *= 10;
  maxDen = maxDen > 1 ? maxDen - 1 : 1;
  const double a = std::fabs(v);
  double whole = wholePlaces ? std::floor(a) : 0;
  const double frac = a - whole;
  if (frac >= 1e9) return general(v, lost);  // no fraction to show
  long num = 0, den = 1;
  nearestFraction(frac, maxDen, &num, &den);
  if (wholePlaces && num == den) whole += 1, num = 0;
  std::string wholeText, noDecimals;
  if (whole != 0) decimalParts(whole, 0, &wholeText, &noDecimals, lost);
  const std::string numText = std::to_string(num), denText = std::to_string(den);
  const bool blankFraction = wholePlaces && num == 0;
  std::string out;
  bool wholeDone = false;
  for (size_t k = 0; k < t.size(); ++k) {
    const Token& tok = t[k];
    if (k < numStart) {
      if (tok.kind == Kind::Literal) {
        // The gap between the whole part and the fraction.
        const bool gap = wholeDone;
        out += gap && blankFraction ? std::string(tok.text.size(), ' ') : tok.text;
      } else if (tok.kind == Kind::Digit && !wholeDone) {
        wholeDone = true;
        if (!wholeText.empty())
          out += wholeText;
        else if (tok.text == "0" || (blankFraction && tok.text != "#"))
          out += tok.text == "0" ? "0" : " ";
      }
    } else if (k == numStart) {
      std::string n = blankFraction ? std::string() : numText;
      if (static_cast<int>(n.size()) < numPlaces) n.insert(0, numPlaces - n.size(), ' ');
      out += n;
    } else if (k == slashAt) {
      out += blankFraction ? " " : "/";
    } else if (k == slashAt + 1) {
      std::string d = blankFraction ? std::string() : denText;
      if (static_cast<int>(d.size()) < denPlaces) d.append(denPlaces - d.size(), ' ');
      out += d;
    } else if (k >= denEnd && tok.kind == Kind::Literal) {
      out += tok.text;
    }
  }
  return out;
}

// --- Number sections ----------------------------------------------------------------------

std::string formatDigits(double v, const Section& sec, bool* lost) {
  const int intPlaces = sec.intPlaces, fracPlaces = sec.fracPlaces, expPlaces = sec.expPlaces;
  const int percent = sec.percent, scale = sec.scale;
  const bool exponent = sec.exponent, grouping = sec.grouping;
  for (int p = 0; p < percent; ++p) v *= 100;
  for (int p = 0; p < scale; ++p) v /= 1000;
  if (!std::isfinite(v)) return "#NUM!";  // a percentage past the largest double
  if (sec.slash) return formatFraction(v, sec, lost);

  std::string intPart, fracPart, expText;
  bool expNegative = false;
  if (exponent) {
    const double a = std::fabs(v);
    int e = 0;
    const int n = intPlaces > 0 ? intPlaces : 1;
    if (a != 0) {
      e = static_cast<int>(std::floor(std::log10(a)));
      if (sec.engineering)
        e = static_cast<int>(std::floor(static_cast<double>(e) / n)) * n;  // engineering
      else
        e -= n - 1;
    }
    // a / 10^e, without 10^e itself leaving the doubles (denormals).
    auto mantissa = [a](int exp10) {
      return exp10 < -300 ? a * 1e300 / std::pow(10.0, exp10 + 300) : a / std::pow(10.0, exp10);
    };
    double m = mantissa(e);
    decimalParts(m, fracPlaces, &intPart, &fracPart, lost);
    if (a != 0 && static_cast<int>(intPart.size()) > n && intPart != "0") {
      // Rounding carried into one more digit: 9.99 → 1.0E+1.
      e += 1;
      m = mantissa(e);
      decimalParts(m, fracPlaces, &intPart, &fracPart, lost);
    }
    expText = std::to_string(std::abs(e));
    if (static_cast<int>(expText.size()) < expPlaces)
      expText.insert(0, expPlaces - expText.size(), '0');
    expNegative = e < 0;
  } else {
    decimalParts(v, fracPlaces, &intPart, &fracPart, lost);
  }
  if (intPart == "0") intPart.clear();  // placed by the '0' places below
  if (grouping) intPart = group(intPart);

  // Integer places take the digits from the right, a group comma going
  // with the digit to its right; the leftmost place takes the rest. Each
  // place shows [from, to) of intPart; a place without a digit (from < 0)
  // shows '0', a space ('?') or nothing ('#').
  std::vector<std::pair<int, int>> intSlice(static_cast<size_t>(intPlaces), {-1, -1});
  {
    int d = static_cast<int>(intPart.size());
    for (int p = intPlaces - 1; p >= 0 && d > 0; --p) {
      const int to = d;
      d = p == 0 ? 0 : d - 1;
      if (grouping && d > 0 && intPart[static_cast<size_t>(d - 1)] == ',') --d;
      intSlice[static_cast<size_t>(p)] = {d, to};
    }
  }
  // Decimal places: trailing zeros vanish under '#' (shown as '\0': nothing)
  // and become spaces under '?'.
  std::string fracShown(static_cast<size_t>(fracPlaces), '\0');
  {
    const std::string& kinds = sec.fracKinds;
    bool trailing = true;
    for (int p = fracPlaces - 1; p >= 0; --p) {
      const char dch = fracPart[static_cast<size_t>(p)];
      const char kind = kinds[static_cast<size_t>(p)];
      if (trailing && dch == '0' && kind != '0') {
        fracShown[static_cast<size_t>(p)] = kind == '?' ? ' ' : '\0';
      } else {
        trailing = false;
        fracShown[static_cast<size_t>(p)] = dch;
      }
    }
  }

  std::string out;
  out.reserve(sec.tokens.size() + intPart.size() + expText.size() + 2);
  int intSeen = 0, fracSeen = 0, expSeen = 0;
  bool afterPoint = false, afterExp = false;
  for (const Token& t : sec.tokens) {
    switch (t.kind) {
      case Kind::Literal:
        out += t.text;
        break;
      case Kind::Digit:
        if (afterExp) {
          if (expSeen++ == 0) out += expText;
        } else if (afterPoint) {
          const char c = fracShown[static_cast<size_t>(fracSeen++)];
          if (c) out += c;
        } else {
          const auto [from, to] = intSlice[static_cast<size_t>(intSeen)];
          const char kind = sec.intKinds[static_cast<size_t>(intSeen++)];
          if (from >= 0)
            out.append(intPart, static_cast<size_t>(from), static_cast<size_t>(to - from));
          else if (kind != '#')
            out += kind == '0' ? '0' : ' ';
        }
        break;
      case Kind::Point:
        if (!afterExp) {
          afterPoint = true;
          // "0.##" of a whole number: the point stays, as spreadsheets show it.
          out += '.';
        }
        break;
      case Kind::Exponent:
        afterExp = true;
        out += 'E';
        if (expNegative)
          out += '-';
        else if (t.text == "+")
          out += '+';
        break;
      case Kind::Percent:
        out += '%';
        break;
      case Kind::General:
        out += general(v, lost);
        break;
      default:
        break;
    }
  }
  return out;
}

// --- Dates and times ----------------------------------------------------------------------

const char* const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};
const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};
const char* const kChineseNumbers[] = {"日", "一", "二", "三", "四",   "五",  "六",
                                       "七", "八", "九", "十", "十一", "十二"};

// Day 0 of the serial day numbers: 1899-12-30 (so that 1900-03-01 is day
// 61, as the spreadsheet programs count), or 1904-01-01 in a workbook that
// counts from 1904.
std::chrono::sys_days dayZero(bool date1904) {
  using namespace std::chrono;
  return date1904 ? sys_days{year{1904} / January / 1} : sys_days{year{1899} / December / 30};
}

// True when the day `days` after day 0 lies in the years a calendar date holds.
bool calendarDay(long long days, bool date1904) {
  using namespace std::chrono;
  const long long fromEpoch = dayZero(date1904).time_since_epoch().count() + days;
  return fromEpoch >= sys_days{year::min() / January / 1}.time_since_epoch().count() &&
         fromEpoch <= sys_days{year::max() / December / 31}.time_since_epoch().count();
}

std::string pad(long long n, int width) {
  std::string s = std::to_string(n);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

std::string formatDate(double v, const Section& sec, bool date1904, bool* lost) {
  const int subDigits = sec.subDigits;
  long long unit = 1;
  for (int k = 0; k < subDigits; ++k) unit *= 10;
  // Whole seconds are rounded; shown decimals of a second are cut, as the
  // spreadsheet programs show them (after a rounding to microseconds that
  // absorbs the error of the binary fraction).
  const double micro = std::round(v * 86400e6);
  const double scaled = subDigits > 0 ? std::floor(micro / (1e6 / static_cast<double>(unit)))
                                      : std::round(micro / 1e6);
  if (!std::isfinite(scaled) || std::fabs(scaled) > 9e17) return general(v, lost);
  const long long total = static_cast<long long>(scaled);
  const long long perDay = 86400 * unit;
  long long days = total / perDay, rest = total % perDay;
  if (rest < 0) rest += perDay, --days;
  const long long secondsOfDay = rest / unit;
  const long long sub = rest % unit;
  if (!calendarDay(days, date1904)) return general(v, lost);
  const std::chrono::sys_days day = dayZero(date1904) + std::chrono::days{days};
  const std::chrono::year_month_day ymd{day};
  const int y = static_cast<int>(ymd.year());
  const int mo = static_cast<int>(static_cast<unsigned>(ymd.month()));
  const int d = static_cast<int>(static_cast<unsigned>(ymd.day()));
  const int weekday = static_cast<int>(std::chrono::weekday{day}.c_encoding());  // 0: Sunday
  const long long hour = secondsOfDay / 3600, minute = secondsOfDay / 60 % 60,
                  second = secondsOfDay % 60;
  const long long totalSeconds = total / unit;

  std::string out;
  for (const Token& t : sec.tokens) {
    switch (t.kind) {
      case Kind::Literal:
      case Kind::Slash:
      case Kind::Point:
      case Kind::Comma:
      case Kind::Percent:
      case Kind::Digit:
        out += t.text;
        break;
      case Kind::Year:
        out += t.count <= 2 ? pad(((y % 100) + 100) % 100, 2) : pad(y, 4);
        break;
      case Kind::Month:
        if (t.count <= 2)
          out += pad(mo, t.count);
        else if (sec.english)
          out += t.count == 3   ? std::string(kMonths[mo - 1]).substr(0, 3)
                 : t.count == 4 ? std::string(kMonths[mo - 1])
                                : std::string(1, kMonths[mo - 1][0]);
        else
          out += t.count == 3   ? std::to_string(mo) + "月"
                 : t.count == 4 ? std::string(kChineseNumbers[mo]) + "月"
                                : std::string(kChineseNumbers[mo]);
        break;
      case Kind::Minute:
        out += pad(minute, t.count > 2 ? 2 : t.count);
        break;
      case Kind::Day:
        if (t.count <= 2)
          out += pad(d, t.count);
        else if (sec.english)
          out += t.count == 3 ? std::string(kDays[weekday]).substr(0, 3) : kDays[weekday];
        else
          out += (t.count == 3 ? std::string() : std::string("星期")) + kChineseNumbers[weekday];
        break;
      case Kind::Weekday:
        if (sec.english)
          out += t.count == 3 ? std::string(kDays[weekday]).substr(0, 3) : kDays[weekday];
        else
          out += (t.count == 3 ? std::string() : std::string("星期")) + kChineseNumbers[weekday];
        break;
      case Kind::Hour: {
        long long h = hour;
        if (sec.ampm) h = h % 12 == 0 ? 12 : h % 12;
        out += pad(h, t.count > 2 ? 2 : t.count);
        break;
      }
      case Kind::Second:
        out += pad(second, t.count > 2 ? 2 : t.count);
        break;
      case Kind::SubSecond:
        out += "." +
               pad(sub, subDigits).substr(0, static_cast<size_t>(std::min(t.count, subDigits))) +
               std::string(static_cast<size_t>(std::max(t.count - subDigits, 0)), '0');
        break;
      case Kind::AmPm: {
        const bool pm = hour >= 12;
        if (t.text == "上午/下午") {
          out += pm ? "下午" : "上午";
        } else if (t.text.size() == 3) {  // A/P
          out += pm ? t.text[2] : t.text[0];
        } else if (!sec.english) {
          out += pm ? "下午" : "上午";
        } else {
          const bool lowerCase = t.text[0] == 'a';
          out += pm ? (lowerCase ? "pm" : "PM") : (lowerCase ? "am" : "AM");
        }
        break;
      }
      case Kind::Elapsed: {
        long long n = t.text == "h"   ? totalSeconds / 3600
                      : t.text == "m" ? totalSeconds / 60
                                      : totalSeconds;
        // The units before an elapsed one are already counted in it.
        std::string sign = n < 0 ? "-" : "";
        out += sign + pad(n < 0 ? -n : n, t.count);
        break;
      }
      default:
        break;
    }
  }
  return out;
}

}  // namespace

namespace {
std::string formatSections(const std::vector<Section>& sections, double value, bool date1904,
                           bool* lost) {
  if (!std::isfinite(value)) return "#NUM!";

  // Which section shows the value, and whether its own sign is shown.
  const Section* sec = &sections[0];
  bool showMinus = value < 0;
  const size_t n = sections.size() > 3 ? 3 : sections.size();
  if (sections[0].hasCondition || (n > 1 && sections[1].hasCondition)) {
    if (sections[0].hasCondition && conditionHolds(sections[0], value)) {
      sec = &sections[0];
    } else if (n > 1 && (!sections[1].hasCondition || conditionHolds(sections[1], value))) {
      sec = &sections[1];
    } else if (n > 2) {
      sec = &sections[2];
    } else {
      sec = &sections[0];
    }
    // A section for values below a bound of zero or less shows them without
    // the sign, as its own text gives it.
    if (sec->hasCondition && (sec->op == "<" || sec->op == "<=") && sec->operand <= 0)
      showMinus = false;
    else if (sec != &sections[0] && !sec->hasCondition && value < 0)
      showMinus = false;
  } else if (value < 0 && n >= 2) {
    sec = &sections[1];
    showMinus = false;
  } else if (value == 0 && n >= 3) {
    sec = &sections[2];
  }
  if (sec->empty && sec != &sections[0]) return std::string();

  std::string text;
  if (sec->date && !sec->hasNumber) return formatDate(value, *sec, date1904, lost);
  if (!sec->hasNumber) {
    // Literal text only ("-" for zero in accounting formats).
    for (const Token& t : sec->tokens)
      if (t.kind == Kind::Literal)
        text += t.text;
      else if (t.kind == Kind::Percent)
        text += '%';
    return text;
  }
  text = formatDigits(value, *sec, lost);
  if (showMinus) {
    // No minus for a value that rounds to zero in the shown places.
    bool nonZero = false;
    for (char c : text)
      if (c >= '1' && c <= '9') nonZero = true;
    if (nonZero) text.insert(0, "-");
  }
  return text;
}
}  // namespace

// The parsed code: at least one section.
struct NumberFormat::Parsed {
  std::vector<Section> sections;
};

NumberFormat::NumberFormat(const std::string& code) {
  auto parsed = std::make_shared<Parsed>();
  // No spreadsheet program takes a code longer than 255 characters; a
  // longer one is damage, and shows the number as General.
  parsed->sections =
      parseCode(code.empty() || code.size() > kMaxCodeBytes ? std::string("General") : code);
  // Sections without a code given: General.
  if (parsed->sections.size() == 1 && parsed->sections[0].empty)
    parsed->sections[0] = parseSection("General");
  parsed_ = std::move(parsed);
}

std::string NumberFormat::format(double value, bool date1904, bool* longNumber) const {
  bool lost = false;
  std::string text = formatSections(parsed_->sections, value, date1904, &lost);
  if (longNumber) *longNumber = lost;
  return text;
}

std::string formatNumber(double value, const std::string& code, bool date1904) {
  return NumberFormat(code).format(value, date1904);
}

long long serialDay(int y, int m, int d, bool date1904, bool* ok) {
  using namespace std::chrono;
  *ok = y >= static_cast<int>(year::min()) && y <= static_cast<int>(year::max()) && m >= 1 &&
        m <= 12 && d >= 1 && d <= 31;
  if (!*ok) return 0;
  // A day past the end of its month counts on into the next (02-30 is 03-01
  // of a leap year), as the day number of the first plus the days.
  const sys_days first{year{y} / month{static_cast<unsigned>(m)} / 1};
  return (first - dayZero(date1904)).count() + d - 1;
}

std::string builtinFormatCode(int id) {
  switch (id) {
    case 0:
      return "General";
    case 1:
      return "0";
    case 2:
      return "0.00";
    case 3:
      return "#,##0";
    case 4:
      return "#,##0.00";
    case 5:
      return "\"$\"#,##0_);(\"$\"#,##0)";
    case 6:
      return "\"$\"#,##0_);[Red](\"$\"#,##0)";
    case 7:
      return "\"$\"#,##0.00_);(\"$\"#,##0.00)";
    case 8:
      return "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)";
    case 9:
      return "0%";
    case 10:
      return "0.00%";
    case 11:
      return "0.00E+00";
    case 12:
      return "# ?/?";
    case 13:
      return "# ?\?/??";
    case 14:
      return "yyyy-m-d";
    case 15:
      return "d-mmm-yy";
    case 16:
      return "d-mmm";
    case 17:
      return "mmm-yy";
    case 18:
      return "h:mm AM/PM";
    case 19:
      return "h:mm:ss AM/PM";
    case 20:
      return "h:mm";
    case 21:
      return "h:mm:ss";
    case 22:
      return "yyyy-m-d h:mm";
    case 27:
    case 36:
    case 50:
    case 52:
    case 57:
      return "yyyy\"年\"m\"月\"";
    case 28:
    case 29:
    case 51:
    case 53:
    case 54:
    case 58:
      return "m\"月\"d\"日\"";
    case 30:
      return "m-d-yy";
    case 31:
      return "yyyy\"年\"m\"月\"d\"日\"";
    case 32:
      return "h\"时\"mm\"分\"";
    case 33:
      return "h\"时\"mm\"分\"ss\"秒\"";
    case 34:
    case 55:
      return "上午/下午h\"时\"mm\"分\"";
    case 35:
    case 56:
      return "上午/下午h\"时\"mm\"分\"ss\"秒\"";
    case 37:
      return "#,##0_);(#,##0)";
    case 38:
      return "#,##0_);[Red](#,##0)";
    case 39:
      return "#,##0.00_);(#,##0.00)";
    case 40:
      return "#,##0.00_);[Red](#,##0.00)";
    case 41:
      return "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)";
    case 42:
      return "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)";
    case 43:
      return "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)";
    case 44:
      return "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"??_);_(@_)";
    case 45:
      return "mm:ss";
    case 46:
      return "[h]:mm:ss";
    case 47:
      return "mm:ss.0";
    case 48:
      return "##0.0E+0";
    case 49:
      return "@";
    default:
      return "General";
  }
}

}  // namespace spreadsheet::detail
