// Office Open XML workbooks: read as streams with libzip and expat, written
// with libxlsxwriter.
//
// Every part is inflated in small chunks straight into an expat parser:
// nothing is sized by what the archive declares, and the sheet's cells are
// read only down to the end of the participant list (see
// spreadsheet_source.h). Every part read is inflated to its end, so that its
// CRC is checked: a damaged part, or one the workbook names but the package
// lacks, refuses the file and names the part. The markup is bounded too (how
// deep it nests, how long one token runs, how many attributes an element
// has, how much memory the parser takes), so that no part can make expat
// take gigabytes or time in the square of its size.
#include <expat.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spreadsheet/spreadsheet_source.h"

namespace spreadsheet::detail {

using model::operator""_t;

namespace {

// Bytes inflated from one part at most. A participant list comes nowhere
// near; an archive that inflates further is hostile. The sheet is read only
// down to the end of the list, and may take a base plus so much per row
// read (a row of a few columns takes a few hundred bytes, even with every
// attribute a writer adds), up to a ceiling: a bomb of rows padded with
// empty cells is refused after its first megabytes, not after minutes.
constexpr std::size_t kMaxPartBytes = 64u * 1024 * 1024;
constexpr std::size_t kSheetBaseBytes = 32u * 1024 * 1024;
constexpr std::size_t kSheetBytesPerRow = 4u * 1024;
constexpr std::size_t kMaxSheetPartBytes = 256u * 1024 * 1024;
// Shared strings kept at most (items and UTF-8 bytes).
constexpr std::size_t kMaxSharedStrings = 1000000;
constexpr std::size_t kMaxSharedStringBytes = 32u * 1024 * 1024;
// Text gathered for one value at most; a spreadsheet cell holds at most
// 32767 characters. Longer values are damage and read as "".
constexpr std::size_t kMaxValueBytes = 256u * 1024;
// Parts of a package at most; a workbook has a few dozen.
constexpr zip_int64_t kMaxEntries = 100000;
constexpr std::size_t kChunk = 64 * 1024;
// The markup of the parts read nests a dozen levels at most and gives an
// element a dozen attributes at most; no tag, attribute or run of text
// comes near a megabyte (a cell holds at most 32767 characters). Past these
// bounds a part is hostile. They also keep expat linear: it scans an
// unfinished token again with every chunk fed, so one token without bound
// costs time in the square of its length.
constexpr int kMaxDepth = 64;
constexpr int kMaxAttributes = 64;
constexpr std::size_t kMaxTokenBytes = 1024 * 1024;
// Memory one parser may take: its buffer, its open elements, and every
// distinct name it has met.
constexpr std::size_t kMaxParserBytes = 32u * 1024 * 1024;

Text mb(std::size_t bytes) {
  return model::numberToText(static_cast<long long>(bytes / (1024 * 1024)));
}

// Element or attribute name without its namespace prefix ("x:c" is "c").
std::string_view localName(const char* name) {
  std::string_view n = name;
  const size_t colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

const char* attribute(const char** attrs, std::string_view name) {
  for (int i = 0; attrs[i]; i += 2)
    if (localName(attrs[i]) == name) return attrs[i + 1];
  return nullptr;
}

std::string lowerCase(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Strings in the files escape characters XML cannot carry as _xHHHH_.
std::string unescapeOoxml(const std::string& s) {
  if (s.find("_x") == std::string::npos) return s;
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 2, "_x") == 0 && i + 7 <= s.size() && s[i + 6] == '_') {
      char32_t cp = 0;
      bool hex = true;
      for (size_t k = i + 2; k < i + 6; ++k) {
        const char c = s[k];
        cp <<= 4;
        if (c >= '0' && c <= '9')
          cp |= static_cast<char32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
          cp |= static_cast<char32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
          cp |= static_cast<char32_t>(c - 'A' + 10);
        else
          hex = false;
      }
      if (hex) {
        appendUtf8(&out, cp);
        i += 7;
        continue;
      }
    }
    out.push_back(s[i++]);
  }
  return out;
}

// A whole decimal number in [1, max]; false for anything else (signs,
// spaces, overflow), never wrapping.
bool parseIndex(std::string_view s, long long max, long long* out) {
  if (s.empty() || s.size() > 18) return false;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < 1 || v > max) return false;
  *out = v;
  return true;
}

// A number as the file writes it ("1.5", "-7", "1E-3"); false when it is not one.
bool parseDouble(const std::string& text, double* out) {
  // Spaces around it are allowed, as XML writers may indent.
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return false;
  const std::string s = text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size()) return false;
  *out = v;
  return true;
}

// An ISO date and time ("2024-01-15T18:30:00") as a serial day number.
bool parseIsoDate(const std::string& s, bool date1904, double* out) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0;
  double ss = 0;
  const int n = std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%lf", &y, &m, &d, &hh, &mm, &ss);
  bool ok = false;
  const long long day = n < 3 ? 0 : serialDay(y, m, d, date1904, &ok);
  if (!ok) return false;
  *out = static_cast<double>(day) + (hh * 3600.0 + mm * 60.0 + ss) / 86400.0;
  return true;
}

// Joins a relationship target to the folder of the part that names it.
std::string resolveTarget(const std::string& baseDir, const std::string& target) {
  std::vector<std::string> parts;
  auto push = [&parts](const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
      size_t slash = path.find_first_of("/\\", start);
      if (slash == std::string::npos) slash = path.size();
      const std::string seg = path.substr(start, slash - start);
      if (seg == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!seg.empty() && seg != ".") {
        parts.push_back(seg);
      }
      start = slash + 1;
    }
  };
  if (target.empty() || (target[0] != '/' && target[0] != '\\')) push(baseDir);
  push(target);
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : "/") + p;
  return out;
}

std::string folderOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  return slash == std::string::npos ? std::string() : part.substr(0, slash);
}

std::string relsOf(const std::string& part) {
  const size_t slash = part.rfind('/');
  if (slash == std::string::npos) return "_rels/" + part + ".rels";
  return part.substr(0, slash) + "/_rels/" + part.substr(slash + 1) + ".rels";
}

bool endsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

// --- Streaming XML ------------------------------------------------------------------------

// What a part's parser does with its elements. A handler ends the reading
// early with stop() (done: the rest is not needed) or fail() (damage).
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void start(std::string_view name, const char** attrs) = 0;
  virtual void end(std::string_view name) = 0;
  virtual void text(const char*, int) {}
  // Bytes of the part that may be inflated by now.
  virtual std::size_t byteLimit() const { return kMaxPartBytes; }
  // How the limit grows, for the message ("" when it does not).
  virtual Text limitNote() const { return Text(); }

  void stop() {
    stopped_ = true;
    XML_StopParser(parser_, XML_FALSE);
  }
  void fail(const Text& why) {
    if (failure_.empty()) failure_ = why;
    XML_StopParser(parser_, XML_FALSE);
  }
  bool stopped() const { return stopped_; }
  // Stopped or failed: expat may still deliver what it holds; it is ignored.
  bool done() const { return stopped_ || !failure_.empty(); }
  const Text& failure() const { return failure_; }
  void attach(XML_Parser p) { parser_ = p; }

 private:
  XML_Parser parser_ = nullptr;
  bool stopped_ = false;
  Text failure_;
};

// No exception may cross expat's C frames: one ends the reading with a reason.
template <typename F>
void guarded(XmlHandler* h, F&& f) {
  if (h->done()) return;
  try {
    f();
  } catch (const std::bad_alloc&) {
    h->fail("内存不足，无法读取工作簿"_t);
  } catch (const std::exception&) {
    h->fail("工作簿内容无法读取"_t);
  }
}

// expat's memory, counted for the parser in use on this thread (a part is
// parsed to its end before the next starts): past kMaxParserBytes an
// allocation fails, and expat reports that it is out of memory.
struct ParserMemory {
  std::size_t used = 0;
  bool exhausted = false;
};
thread_local ParserMemory* tParserMemory = nullptr;

struct alignas(std::max_align_t) BlockHeader {
  std::size_t size;
  ParserMemory* owner;
};

// Counts n more bytes for m; false (and nothing counted) past the bound.
bool take(ParserMemory* m, std::size_t n) {
  if (!m) return true;
  if (n > kMaxParserBytes - m->used) {
    m->exhausted = true;
    return false;
  }
  m->used += n;
  return true;
}

void* XMLCALL countedMalloc(std::size_t n) {
  ParserMemory* m = tParserMemory;
  if (!take(m, n)) return nullptr;
  auto* h = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + n));
  if (!h) {
    if (m) m->used -= n;
    return nullptr;
  }
  h->size = n;
  h->owner = m;
  return h + 1;
}

void XMLCALL countedFree(void* p) {
  if (!p) return;
  BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
  if (h->owner) h->owner->used -= h->size;
  std::free(h);
}

void* XMLCALL countedRealloc(void* p, std::size_t n) {
  if (!p) return countedMalloc(n);
  BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
  ParserMemory* m = h->owner;
  const std::size_t old = h->size;
  if (n > old && !take(m, n - old)) return nullptr;
  auto* moved = static_cast<BlockHeader*>(std::realloc(h, sizeof(BlockHeader) + n));
  if (!moved) {
    if (m && n > old) m->used -= n - old;
    return nullptr;
  }
  if (m && n < old) m->used -= old - n;
  moved->size = n;
  return moved + 1;
}

// One part being parsed: its handler, and what bounds its markup.
struct PartParse {
  XmlHandler* handler = nullptr;
  XML_Parser parser = nullptr;
  const Text* part = nullptr;
  int depth = 0;
  std::size_t textRun = 0;  // bytes of text since the last tag
  XML_Index lastEvent = 0;  // where the last element or text began
  void refuse(const Text& why) { handler->fail(why + "："_t + *part); }
};

void XMLCALL onStart(void* data, const char* name, const char** attrs) {
  auto* p = static_cast<PartParse*>(data);
  if (p->handler->done()) return;
  p->lastEvent = XML_GetCurrentByteIndex(p->parser);
  p->textRun = 0;
  if (++p->depth > kMaxDepth)
    return p->refuse("工作簿部件的元素嵌套超过 "_t +
                     model::numberToText(static_cast<long long>(kMaxDepth)) + " 层的上限"_t);
  int n = 0;
  while (attrs[n]) n += 2;
  if (n / 2 > kMaxAttributes)
    return p->refuse("工作簿部件中有元素的属性超过 "_t +
                     model::numberToText(static_cast<long long>(kMaxAttributes)) + " 个的上限"_t);
  guarded(p->handler, [&] { p->handler->start(localName(name), attrs); });
}
void XMLCALL onEnd(void* data, const char* name) {
  auto* p = static_cast<PartParse*>(data);
  if (p->handler->done()) return;
  p->lastEvent = XML_GetCurrentByteIndex(p->parser);
  p->textRun = 0;
  --p->depth;
  guarded(p->handler, [&] { p->handler->end(localName(name)); });
}
void XMLCALL onText(void* data, const char* s, int len) {
  auto* p = static_cast<PartParse*>(data);
  if (p->handler->done()) return;
  p->lastEvent = XML_GetCurrentByteIndex(p->parser);
  p->textRun += static_cast<std::size_t>(len);
  if (p->textRun > kMaxTokenBytes)
    return p->refuse("工作簿部件中有一段文字超过 "_t + mb(kMaxTokenBytes) + " MB 的上限"_t);
  guarded(p->handler, [&] { p->handler->text(s, len); });
}
// The parts of a workbook never declare a document type; one that does may
// be trying entity expansion, and is refused.
void XMLCALL onDoctype(void* data, const char*, const char*, const char*, int) {
  static_cast<PartParse*>(data)->handler->fail("工作簿部件含有不允许的文档类型声明"_t);
}

// Text gathered for one value, bounded.
class ValueText {
 public:
  void clear() {
    text_.clear();
    overflow_ = false;
  }
  void append(const char* s, int len) {
    if (overflow_) return;
    if (text_.size() + static_cast<size_t>(len) > kMaxValueBytes) {
      overflow_ = true;
      text_.clear();
      return;
    }
    text_.append(s, static_cast<size_t>(len));
  }
  bool overflow() const { return overflow_; }
  const std::string& str() const { return text_; }

 private:
  std::string text_;
  bool overflow_ = false;
};

// --- The parts ------------------------------------------------------------------------------

struct Relationship {
  std::string id, type, target;
};

class RelsHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char** attrs) override {
    if (name != "Relationship") return;
    const char* id = attribute(attrs, "Id");
    const char* type = attribute(attrs, "Type");
    const char* target = attribute(attrs, "Target");
    const char* mode = attribute(attrs, "TargetMode");
    if (!target || (mode && std::string_view(mode) == "External")) return;
    if (rels.size() >= 100000) return fail("工作簿的关系过多"_t);
    rels.push_back({id ? id : "", type ? type : "", target});
  }
  void end(std::string_view) override {}
  std::vector<Relationship> rels;
};

class WorkbookHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char** attrs) override {
    if (name == "workbookPr") {
      date1904 = isTrue(attribute(attrs, "date1904"));
    } else if (name == "calcPr") {
      calcOnLoad = isTrue(attribute(attrs, "fullCalcOnLoad"));
    } else if (name == "sheet") {
      if (sheets.size() >= 100000) return fail("工作簿中的工作表过多"_t);
      const char* id = attribute(attrs, "id");
      sheets.push_back(id ? id : "");
    }
  }
  void end(std::string_view) override {}
  bool date1904 = false;
  // The writer asks for every formula to be calculated when the workbook is
  // opened: the results it stored are placeholders.
  bool calcOnLoad = false;
  std::vector<std::string> sheets;  // relationship ids, in tab order

 private:
  static bool isTrue(const char* v) {
    return v && (std::string_view(v) == "1" || std::string_view(v) == "true");
  }
};

// A number format id; 0 (General) for anything that is not one.
int formatId(const char* s) {
  long long v = 0;
  if (std::string_view(s) == "0" || !parseIndex(s, 1 << 20, &v)) return 0;
  return static_cast<int>(v);
}

// Number format codes by cell style: numFmts and cellXfs of styles.xml.
class StylesHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char** attrs) override {
    if (name == "numFmt") {
      const char* id = attribute(attrs, "numFmtId");
      const char* code = attribute(attrs, "formatCode");
      if (id && code && codes.size() < 100000) codes[formatId(id)] = code;
    } else if (name == "cellXfs") {
      inCellXfs_ = true;
    } else if (name == "xf" && inCellXfs_) {
      const char* id = attribute(attrs, "numFmtId");
      if (xfs.size() < 1000000) xfs.push_back(id ? formatId(id) : 0);
    }
  }
  void end(std::string_view name) override {
    if (name == "cellXfs") inCellXfs_ = false;
  }
  std::map<int, std::string> codes;
  std::vector<int> xfs;

 private:
  bool inCellXfs_ = false;
};

// The text of a string item (<si> of the shared strings, <is> of an inline
// string): its <t>, or the <t> of each rich-text run; phonetic hints (<rPh>)
// are not part of the text.
class StringItemText {
 public:
  void startItem() {
    value_.clear();
    inT_ = false;
    phonetic_ = 0;
  }
  void start(std::string_view name) {
    if (name == "rPh") ++phonetic_;
    if (name == "t" && phonetic_ == 0) inT_ = true;
  }
  void end(std::string_view name) {
    if (name == "rPh" && phonetic_ > 0) --phonetic_;
    if (name == "t") inT_ = false;
  }
  void text(const char* s, int len) {
    if (inT_) value_.append(s, len);
  }
  // "" when the item was too long to be a cell's text.
  std::string result() const {
    return value_.overflow() ? std::string() : unescapeOoxml(value_.str());
  }

 private:
  ValueText value_;
  bool inT_ = false;
  int phonetic_ = 0;
};

// The shared strings, packed into one buffer.
class SharedStringsHandler : public XmlHandler {
 public:
  void start(std::string_view name, const char**) override {
    if (name == "si") {
      inItem_ = true;
      item_.startItem();
    } else if (inItem_) {
      item_.start(name);
    }
  }
  void end(std::string_view name) override {
    if (name != "si") {
      if (inItem_) item_.end(name);
      return;
    }
    inItem_ = false;
    const std::string s = item_.result();
    if (starts.size() >= kMaxSharedStrings || pool.size() + s.size() > kMaxSharedStringBytes)
      return fail("工作簿的共享字符串超过上限（"_t +
                  model::numberToText(static_cast<long long>(kMaxSharedStrings)) + " 个，"_t +
                  mb(kMaxSharedStringBytes) + " MB），未读取"_t);
    starts.push_back(static_cast<std::uint32_t>(pool.size()));
    pool += s;
  }
  void text(const char* s, int len) override {
    if (inItem_) item_.text(s, len);
  }
  std::string pool;
  std::vector<std::uint32_t> starts;

 private:
  bool inItem_ = false;
  StringItemText item_;
};

struct WorkbookInfo {
  bool date1904 = false;
  bool calcOnLoad = false;
  const std::string* pool = nullptr;
  const std::vector<std::uint32_t>* starts = nullptr;
  const std::map<int, std::string>* codes = nullptr;
  const std::vector<int>* xfs = nullptr;
};

// One sheet, down to the end of the participant list.
class SheetHandler : public XmlHandler {
 public:
  SheetHandler(const WorkbookInfo& info, const SheetReading& reading)
      : info_(info), rows_(reading) {}

  void start(std::string_view name, const char** attrs) override {
    if (name == "sheetData") {
      inData_ = true;
    } else if (!inData_) {
      return;
    } else if (name == "row") {
      startRow(attrs);
    } else if (name == "c") {
      startCell(attrs);
    } else if (inCell_) {
      if (name == "v") {
        inV_ = hasValue_ = true;
      } else if (name == "f") {
        formula_ = true;
      } else if (name == "is") {
        inInline_ = true;
        inlineText_.startItem();
      } else if (inInline_) {
        inlineText_.start(name);
      }
    }
  }

  void end(std::string_view name) override {
    if (!inData_) return;
    if (name == "sheetData") {
      inData_ = false;
      stop();  // nothing after the cells is needed
    } else if (name == "c") {
      if (inCell_) endCell();
      inCell_ = false;
    } else if (name == "v") {
      inV_ = false;
    } else if (name == "is") {
      inInline_ = false;
    } else if (inInline_) {
      inlineText_.end(name);
    }
  }

  void text(const char* s, int len) override {
    if (!inCell_ || !wanted_) return;
    if (inV_) value_.append(s, len);
    if (inInline_) inlineText_.text(s, len);
  }

  Text limitNote() const override {
    return "（工作表每行至多 "_t +
           model::numberToText(static_cast<long long>(kSheetBytesPerRow / 1024)) + " KB）"_t;
  }
  std::size_t byteLimit() const override {
    const std::size_t limit = kSheetBaseBytes + kSheetBytesPerRow * static_cast<std::size_t>(row_);
    return limit < kMaxSheetPartBytes ? limit : kMaxSheetPartBytes;
  }

 private:
  void damage(const char* what) {
    fail("工作表内容损坏（"_t + Text::fromUtf8(what) + "），第 "_t +
         model::numberToText(static_cast<long long>(row_)) + " 行附近"_t);
  }

  void startRow(const char** attrs) {
    int row = row_ + 1;
    if (const char* r = attribute(attrs, "r")) {
      long long v = 0;
      if (!parseIndex(r, kMaxRows, &v)) return damage("行号无效");
      row = static_cast<int>(v);
    }
    if (row <= row_ || row > kMaxRows) return damage("行号无效");
    row_ = row;
    column_ = 0;
    cellsInRow_ = 0;
    if (!rows_.beginRow(row)) {
      if (!rows_.error().empty()) return fail(rows_.error());
      return stop();  // a blank row ended the list
    }
  }

  void startCell(const char** attrs) {
    if (row_ == 0) return damage("单元格不在行内");
    if (++cellsInRow_ > kMaxColumns) return damage("一行的单元格过多");
    int column = column_ + 1;
    if (const char* r = attribute(attrs, "r")) {
      int row = 0;
      if (!parseAddress(r, &row, &column) || row != row_) return damage("单元格地址无效");
    }
    if (column > kMaxColumns) return damage("列号无效");
    column_ = column;
    inCell_ = true;
    wanted_ = column <= kReadColumns;
    inV_ = inInline_ = hasValue_ = formula_ = false;
    value_.clear();
    inlineText_.startItem();
    const char* t = attribute(attrs, "t");
    type_ = t ? t : "n";
    style_ = 0;
    if (const char* s = attribute(attrs, "s")) {
      long long v = 0;
      style_ = parseIndex(s, 1 << 30, &v) ? static_cast<int>(v) : 0;
    }
  }

  void endCell() {
    if (!wanted_) return;
    unsigned notes = 0;
    const std::string text = noResult() ? (notes = kNoResult, std::string()) : cellText(&notes);
    if (!rows_.cell(column_, text, notes)) fail(rows_.error());
  }

  // A formula whose file holds no result: no value, or no number where the
  // cell holds one, or the 0 that a writer which does not calculate puts in
  // place of every result.
  bool noResult() const {
    if (!formula_) return false;
    if (!hasValue_) return true;
    const bool number = type_ == "n";
    return number && (value_.str().empty() || (info_.calcOnLoad && value_.str() == "0"));
  }

  // The text a spreadsheet program shows for the cell just read; "" for
  // one whose value cannot be read. Notes of a number go to *notes.
  std::string cellText(unsigned* notes) {
    if (value_.overflow()) return std::string();
    const std::string& v = value_.str();
    if (type_ == "inlineStr") return inlineText_.result();
    if (type_ == "s") {
      // An index counted from 0; an empty value, a sign, anything but
      // digits or an index past the strings reads as "".
      size_t k = 0;
      if (v.empty() || v.size() > 10) return std::string();
      for (char c : v) {
        if (c < '0' || c > '9') return std::string();
        k = k * 10 + static_cast<size_t>(c - '0');
      }
      if (k >= info_.starts->size()) return std::string();
      const size_t from = (*info_.starts)[k];
      const size_t to = k + 1 < info_.starts->size() ? (*info_.starts)[k + 1] : info_.pool->size();
      return info_.pool->substr(from, to - from);
    }
    if (type_ == "b") return v.empty() ? std::string() : (v == "0" ? "FALSE" : "TRUE");
    if (type_ == "str") return unescapeOoxml(v);
    if (type_ == "e") return v;
    double number = 0;
    if (type_ == "d") {
      if (!parseIsoDate(v, info_.date1904, &number)) return v;
    } else if (!parseDouble(v, &number)) {
      return std::string();
    }
    bool longNumber = false;
    std::string text = formats_.get(style_, [this] { return formatCode(); })
                           .format(number, info_.date1904, &longNumber);
    if (longNumber) *notes |= kLongNumber;
    return text;
  }

  std::string formatCode() const {
    if (style_ < 0 || static_cast<size_t>(style_) >= info_.xfs->size()) return "General";
    const int id = (*info_.xfs)[static_cast<size_t>(style_)];
    auto it = info_.codes->find(id);
    return it != info_.codes->end() ? it->second : builtinFormatCode(id);
  }

  const WorkbookInfo& info_;
  SheetRows rows_;
  FormatCache formats_;  // by cell style
  bool inData_ = false, inCell_ = false, inV_ = false, inInline_ = false, wanted_ = false;
  bool hasValue_ = false, formula_ = false;
  int row_ = 0, column_ = 0, cellsInRow_ = 0, style_ = 0;
  std::string type_;
  ValueText value_;
  StringItemText inlineText_;
};

// --- The package ----------------------------------------------------------------------------

class XlsxSource : public SheetSource {
 public:
  ~XlsxSource() override {
    if (zip_) zip_discard(zip_);
  }

  bool open(const std::string& path, Text* error) {
    int code = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip_) {
      *error = "文件不是完整的 xlsx 压缩包"_t;
      return false;
    }
    // Part names ignore case, as the spreadsheet programs treat them.
    const zip_int64_t entries = zip_get_num_entries(zip_, 0);
    if (entries > kMaxEntries) {
      *error = "压缩包中的部件超过 "_t + model::numberToText(static_cast<long long>(kMaxEntries)) +
               " 个，不是工作簿"_t;
      return false;
    }
    for (zip_int64_t i = 0; i < entries; ++i) {
      const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), 0);
      if (!name) continue;
      std::string key = lowerCase(name);
      if (!key.empty() && key[0] == '/') key.erase(0, 1);
      parts_.emplace(key, static_cast<zip_uint64_t>(i));
    }

    // The workbook part named by the package relationships; without them,
    // at its conventional name.
    std::string workbook = "xl/workbook.xml";
    if (hasPart("_rels/.rels")) {
      RelsHandler rels;
      if (!readPart("_rels/.rels", &rels, error)) return false;
      for (const auto& r : rels.rels)
        if (endsWith(r.type, "/officeDocument")) workbook = resolveTarget("", r.target);
    }
    WorkbookHandler book;
    if (!readPart(workbook, &book, error)) return false;
    date1904_ = book.date1904;
    calcOnLoad_ = book.calcOnLoad;

    std::map<std::string, std::string> targets;
    std::string sharedStrings, styles;
    const std::string bookRels = relsOf(workbook);
    if (hasPart(bookRels)) {
      RelsHandler rels;
      if (!readPart(bookRels, &rels, error)) return false;
      for (const auto& r : rels.rels) {
        const std::string part = resolveTarget(folderOf(workbook), r.target);
        targets[r.id] = part;
        if (endsWith(r.type, "/sharedStrings")) sharedStrings = part;
        if (endsWith(r.type, "/styles")) styles = part;
      }
    } else if (std::any_of(book.sheets.begin(), book.sheets.end(),
                           [](const std::string& id) { return !id.empty(); })) {
      // The sheets are named by relationships that are not there: their
      // conventional names may be other sheets.
      *error = "工作簿缺少部件："_t + Text::fromUtf8(bookRels);
      return false;
    }
    int n = 0;
    for (const auto& id : book.sheets) {
      ++n;
      auto it = targets.find(id);
      // Without relationships the sheets sit at their conventional names.
      sheetParts_.push_back(
          it != targets.end() ? it->second : "xl/worksheets/sheet" + std::to_string(n) + ".xml");
    }
    if (sheetParts_.empty()) {
      *error = "工作簿中没有工作表"_t;
      return false;
    }
    if (sharedStrings.empty() && hasPart("xl/sharedStrings.xml"))
      sharedStrings = "xl/sharedStrings.xml";
    if (styles.empty() && hasPart("xl/styles.xml")) styles = "xl/styles.xml";
    // A part the workbook names must be there and sound: without the shared
    // strings every text cell would read empty, without the styles every
    // date as a number.
    if (!sharedStrings.empty() && !readPart(sharedStrings, &strings_, error)) return false;
    if (!styles.empty() && !readPart(styles, &styles_, error)) return false;
    return true;
  }

  int sheetCount() const override { return static_cast<int>(sheetParts_.size()); }

  bool readSheet(int index, const SheetReading& reading, Text* error) override {
    WorkbookInfo info;
    info.date1904 = date1904_;
    info.calcOnLoad = calcOnLoad_;
    info.pool = &strings_.pool;
    info.starts = &strings_.starts;
    info.codes = &styles_.codes;
    info.xfs = &styles_.xfs;
    SheetHandler sheet(info, reading);
    return readPart(sheetParts_[static_cast<size_t>(index)], &sheet, error);
  }

 private:
  bool hasPart(const std::string& name) const { return parts_.count(lowerCase(name)) > 0; }

  // Streams one part through its handler and reads it to its end, so that
  // libzip checks its CRC: true when the part was read whole and sound
  // (what follows a handler's stop() is inflated, not parsed); false with a
  // message naming the part.
  bool readPart(const std::string& name, XmlHandler* handler, Text* error) {
    const Text part = Text::fromUtf8(name);
    auto found = parts_.find(lowerCase(name));
    if (found == parts_.end()) {
      *error = "工作簿缺少部件："_t + part;
      return false;
    }
    zip_file_t* f = zip_fopen_index(zip_, found->second, 0);
    if (!f) {
      *error = "无法读取工作簿部件："_t + part;
      return false;
    }
    // Every allocation of this parser is counted, from its creation to its end.
    ParserMemory memory;
    ParserMemory* const outer = tParserMemory;
    tParserMemory = &memory;
    const XML_Memory_Handling_Suite suite = {countedMalloc, countedRealloc, countedFree};
    XML_Parser parser = XML_ParserCreate_MM(nullptr, &suite, nullptr);
    if (!parser) {
      tParserMemory = outer;
      zip_fclose(f);
      *error = "内存不足，无法读取工作簿"_t;
      return false;
    }
    PartParse parse;
    parse.handler = handler;
    parse.parser = parser;
    parse.part = &part;
    handler->attach(parser);
    XML_SetUserData(parser, &parse);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetStartDoctypeDeclHandler(parser, onDoctype);

    std::vector<char> buf(kChunk);
    std::size_t total = 0;
    bool ok = true, atEnd = false, parsing = true;
    Text why;
    // Markup that is not XML is told as damage when the part fails its CRC:
    // the rest is inflated for the check.
    Text notXml;
    while (ok && !atEnd) {
      const zip_int64_t n = zip_fread(f, buf.data(), buf.size());
      if (n < 0) {
        why = "工作簿部件已损坏（解压或校验失败）："_t + part;
        ok = false;
        break;
      }
      total += static_cast<std::size_t>(n);
      atEnd = n == 0;
      if (!parsing) {
        // Past the handler's stop or a syntax error only the checksum is
        // wanted, within the part's limit.
        const std::size_t limit = notXml.empty() ? kMaxSheetPartBytes : handler->byteLimit();
        if (total > limit) {
          why = notXml.empty() ? "工作簿部件解压后超过 "_t + mb(limit) + " MB 的上限："_t + part
                               : notXml;
          ok = false;
        }
        continue;
      }
      const std::size_t limit = handler->byteLimit();
      if (total > limit) {
        why = "工作簿部件解压后超过 "_t + mb(limit) + " MB 的上限"_t + handler->limitNote() +
              "："_t + part;
        ok = false;
        break;
      }
      if (XML_Parse(parser, buf.data(), static_cast<int>(n), atEnd) == XML_STATUS_ERROR) {
        if (!handler->failure().empty()) {
          why = handler->failure();
          ok = false;
        } else if (handler->stopped()) {
          parsing = false;
        } else if (XML_GetErrorCode(parser) == XML_ERROR_NO_MEMORY) {
          why = memory.exhausted ? "工作簿部件过于复杂，读取所需内存超过 "_t + mb(kMaxParserBytes) +
                                       " MB 的上限："_t + part
                                 : "内存不足，无法读取工作簿"_t;
          ok = false;
        } else {
          notXml = "工作簿部件不是有效的 XML："_t + part + "（第 "_t +
                   model::numberToText(static_cast<long long>(XML_GetCurrentLineNumber(parser))) +
                   " 行："_t + Text::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser))) + "）"_t;
          parsing = false;
        }
      } else if (total - static_cast<std::size_t>(parse.lastEvent) > kMaxTokenBytes) {
        // expat holds an unfinished token that long: a tag, an attribute,
        // a comment.
        why = "工作簿部件中有一个标记（标签、属性或注释）超过 "_t + mb(kMaxTokenBytes) +
              " MB 的上限："_t + part;
        ok = false;
      }
    }
    if (ok && !notXml.empty()) {
      why = notXml;
      ok = false;
    }
    XML_ParserFree(parser);
    tParserMemory = outer;
    // Closing reports a damaged member once it has been read to its end.
    const int closed = zip_fclose(f);
    if (ok && closed != 0) {
      why = "工作簿部件已损坏（校验失败）："_t + part;
      ok = false;
    }
    if (!ok) *error = why;
    return ok;
  }

  zip_t* zip_ = nullptr;
  std::map<std::string, zip_uint64_t> parts_;  // lower-case name to index
  std::vector<std::string> sheetParts_;
  bool date1904_ = false;
  bool calcOnLoad_ = false;
  SharedStringsHandler strings_;
  StylesHandler styles_;
};

}  // namespace

std::unique_ptr<SheetSource> openXlsx(const std::string& path, Text* error) {
  auto source = std::make_unique<XlsxSource>();
  if (!source->open(path, error)) return nullptr;
  return source;
}

// The library's own (English) texts never reach the operator: a failure to
// write the file leaves *error empty, and the caller tells it from errno
// (a full disk, no permission); a cell the format cannot hold is named.
bool writeXlsx(const std::string& path, const CellMap& cells, const CellMap& formats, Text* error) {
  // The library's scratch files go beside the workbook, on the disk that
  // must hold it anyway.
  std::string folder = std::filesystem::path(path).parent_path().string();
  if (folder.empty()) folder = ".";
  lxw_workbook_options options = {};
  options.tmpdir = folder.data();
  lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
  if (!book) return false;
  lxw_worksheet* sheet = workbook_add_worksheet(book, nullptr);
  std::map<std::string, lxw_format*> byFormat;
  auto formatFor = [&](std::uint64_t key) -> lxw_format* {
    auto it = formats.find(key);
    if (it == formats.end() || it->second.empty()) return nullptr;
    const std::string f = it->second.toUtf8();
    auto found = byFormat.find(f);
    if (found != byFormat.end()) return found->second;
    lxw_format* fmt = workbook_add_format(book);
    format_set_num_format(fmt, f.c_str());
    byFormat[f] = fmt;
    return fmt;
  };
  lxw_error err = LXW_NO_ERROR;
  // Every cell that has a value or a format, in row order.
  std::map<std::uint64_t, bool> keys;
  for (const auto& [k, v] : cells) keys[k] = true;
  for (const auto& [k, v] : formats) keys[k] = true;
  for (const auto& [key, unused] : keys) {
    const lxw_row_t row = static_cast<lxw_row_t>((key >> 16) - 1);
    const lxw_col_t col = static_cast<lxw_col_t>((key & 0xFFFF) - 1);
    auto v = cells.find(key);
    const std::string text = v == cells.end() ? std::string() : v->second.toUtf8();
    lxw_format* fmt = formatFor(key);
    if (text.empty())
      err = fmt ? worksheet_write_blank(sheet, row, col, fmt) : LXW_NO_ERROR;
    else
      err = worksheet_write_string(sheet, row, col, text.c_str(), fmt);
    if (err != LXW_NO_ERROR) {
      const Text cell = Text::fromUtf8(columnLetters(col + 1) + std::to_string(row + 1));
      if (err == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED)
        *error = "单元格 "_t + cell + " 的文字超过 32767 个字符，无法写入工作簿。请缩短后重试。"_t;
      else if (err == LXW_ERROR_MEMORY_MALLOC_FAILED)
        *error = "内存不足，无法写入工作簿。请关闭其他程序后重试。"_t;
      else
        *error = "无法写入单元格 "_t + cell + "，请检查其中的文字后重试。"_t;
      workbook_close(book);
      return false;
    }
  }
  err = workbook_close(book);
  if (err == LXW_ERROR_MEMORY_MALLOC_FAILED)
    *error = "内存不足，无法写入工作簿。请关闭其他程序后重试。"_t;
  return err == LXW_NO_ERROR;
}

}  // namespace spreadsheet::detail
