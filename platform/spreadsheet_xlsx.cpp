// Office Open XML workbooks: read with libzip and pugixml, written with
// libxlsxwriter.
#include <xlsxwriter.h>
#include <zip.h>

#include <pugixml.hpp>

#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spreadsheet_source.h"

namespace spreadsheet::detail {

using model::operator""_t;

namespace {

// No part of a participant list comes near this; a larger entry is a damaged
// or hostile archive, and reading it would only exhaust memory.
constexpr zip_uint64_t kMaxPartBytes = 512ull * 1024 * 1024;

// Element name without its namespace prefix ("x:c" is "c").
std::string_view localName(const pugi::xml_node& n) {
  std::string_view name = n.name();
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& parent, std::string_view name) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && localName(c) == name) return c;
  return pugi::xml_node();
}

// Attribute by local name ("r:id" matches "id" only when asked with prefix
// stripped; relationship ids are asked for as "id" in any namespace).
const char* attribute(const pugi::xml_node& n, std::string_view name) {
  for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
    std::string_view an = a.name();
    const size_t colon = an.find(':');
    if (colon != std::string_view::npos) an = an.substr(colon + 1);
    if (an == name) return a.value();
  }
  return nullptr;
}

void appendUtf8(std::string* out, unsigned cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Strings in the files escape characters XML cannot carry as _xHHHH_.
std::string unescapeOoxml(const std::string& s) {
  if (s.find("_x") == std::string::npos) return s;
  std::string out;
  for (size_t i = 0; i < s.size();) {
    if (s.compare(i, 2, "_x") == 0 && i + 7 <= s.size() && s[i + 6] == '_') {
      unsigned cp = 0;
      bool hex = true;
      for (size_t k = i + 2; k < i + 6; ++k) {
        const char c = s[k];
        cp <<= 4;
        if (c >= '0' && c <= '9')
          cp |= c - '0';
        else if (c >= 'a' && c <= 'f')
          cp |= c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
          cp |= c - 'A' + 10;
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

// The text of a string item (<si> or <is>): its own <t>, or the <t> of each
// rich-text run; phonetic hints (<rPh>) are not part of the text.
std::string stringItemText(const pugi::xml_node& item) {
  std::string text;
  for (pugi::xml_node c = item.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    if (localName(c) == "t") {
      text += c.text().get();
    } else if (localName(c) == "r") {
      if (pugi::xml_node t = child(c, "t")) text += t.text().get();
    }
  }
  return unescapeOoxml(text);
}

// "B12" into row 12, column 2; false when it is not a cell reference.
bool splitReference(const char* ref, int* row, int* column) {
  return ref && parseAddress(ref, row, column);
}

// Joins a relationship target to the folder of the part that names it.
std::string resolveTarget(const std::string& baseDir, const std::string& target) {
  if (!target.empty() && target[0] == '/') return target.substr(1);
  std::vector<std::string> parts;
  auto push = [&parts](const std::string& path) {
    size_t start = 0;
    while (start <= path.size()) {
      size_t slash = path.find('/', start);
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
  push(baseDir);
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
    // The workbook part named by the package relationships.
    std::string workbook = "xl/workbook.xml";
    pugi::xml_document rels;
    if (readXml("_rels/.rels", &rels, nullptr)) {
      for (pugi::xml_node r : child(rels, "Relationships").children()) {
        const char* type = attribute(r, "Type");
        const char* target = attribute(r, "Target");
        if (type && target && endsWith(type, "/officeDocument"))
          workbook = resolveTarget("", target);
      }
    }
    pugi::xml_document book;
    if (!readXml(workbook, &book, error)) return false;
    // Relationship id to part, from the workbook's relationships.
    std::map<std::string, std::string> targets;
    std::string sharedStrings;
    pugi::xml_document bookRels;
    if (readXml(relsOf(workbook), &bookRels, nullptr)) {
      for (pugi::xml_node r : child(bookRels, "Relationships").children()) {
        const char* id = attribute(r, "Id");
        const char* type = attribute(r, "Type");
        const char* target = attribute(r, "Target");
        if (!id || !target) continue;
        const std::string part = resolveTarget(folderOf(workbook), target);
        targets[id] = part;
        if (type && endsWith(type, "/sharedStrings")) sharedStrings = part;
      }
    }
    pugi::xml_node sheets = child(child(book, "workbook"), "sheets");
    int n = 0;
    for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling()) {
      if (s.type() != pugi::node_element || localName(s) != "sheet") continue;
      ++n;
      const char* id = attribute(s, "id");
      auto it = id ? targets.find(id) : targets.end();
      // Without relationships the sheets sit at their conventional names.
      sheetParts_.push_back(
          it != targets.end() ? it->second : "xl/worksheets/sheet" + std::to_string(n) + ".xml");
    }
    if (sheetParts_.empty()) {
      *error = "工作簿中没有工作表"_t;
      return false;
    }
    if (sharedStrings.empty() && zip_name_locate(zip_, "xl/sharedStrings.xml", 0) >= 0)
      sharedStrings = "xl/sharedStrings.xml";
    if (!sharedStrings.empty()) {
      pugi::xml_document sst;
      if (!readXml(sharedStrings, &sst, error)) return false;
      for (pugi::xml_node si : child(sst, "sst").children())
        if (si.type() == pugi::node_element && localName(si) == "si")
          strings_.push_back(stringItemText(si));
    }
    return true;
  }

  int sheetCount() const override { return static_cast<int>(sheetParts_.size()); }

  bool readSheet(int index, CellMap* cells, Text* error) override {
    pugi::xml_document doc;
    if (!readXml(sheetParts_[index], &doc, error)) return false;
    pugi::xml_node data = child(child(doc, "worksheet"), "sheetData");
    int rowNumber = 0;
    for (pugi::xml_node row = data.first_child(); row; row = row.next_sibling()) {
      if (row.type() != pugi::node_element || localName(row) != "row") continue;
      // Row and cell references may be left out: they then follow the last.
      const char* r = attribute(row, "r");
      rowNumber = r ? std::atoi(r) : rowNumber + 1;
      if (rowNumber < 1 || rowNumber > 1048576) {
        *error = "工作表内容损坏（行号无效）"_t;
        return false;
      }
      int columnNumber = 0;
      for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element || localName(c) != "c") continue;
        int cr = rowNumber, cc = columnNumber + 1;
        if (const char* ref = attribute(c, "r")) {
          if (!splitReference(ref, &cr, &cc)) {
            *error = "工作表内容损坏（单元格地址无效）"_t;
            return false;
          }
        }
        columnNumber = cc;
        if (cc > 16384) {
          *error = "工作表内容损坏（列号无效）"_t;
          return false;
        }
        std::string text;
        if (!cellValue(c, &text, error)) return false;
        if (!text.empty()) (*cells)[cellKey(cr, cc)] = Text::fromUtf8(text);
      }
    }
    return true;
  }

 private:
  bool cellValue(const pugi::xml_node& c, std::string* text, Text* error) const {
    const char* t = attribute(c, "t");
    const std::string type = t ? t : "n";
    const pugi::xml_node v = child(c, "v");
    if (type == "inlineStr") {
      *text = stringItemText(child(c, "is"));
    } else if (type == "s") {
      const std::string raw = v.text().get();
      char* end = nullptr;
      const long i = std::strtol(raw.c_str(), &end, 10);
      if (raw.empty() || *end != '\0' || i < 0 || i >= static_cast<long>(strings_.size())) {
        *error = "工作表内容损坏（共享字符串编号无效）"_t;
        return false;
      }
      *text = strings_[static_cast<size_t>(i)];
    } else if (type == "b") {
      const std::string raw = v.text().get();
      *text = raw.empty() ? std::string() : (raw == "0" ? "FALSE" : "TRUE");
    } else if (type == "str") {
      *text = unescapeOoxml(v.text().get());
    } else {
      // Numbers, errors (#N/A) and ISO dates: the text the file holds.
      *text = v.text().get();
    }
    return true;
  }

  // Reads and parses one part; false with a message (when error is given).
  bool readXml(const std::string& name, pugi::xml_document* doc, Text* error) {
    auto fail = [&](const Text& why) {
      if (error) *error = why + Text::fromUtf8(name);
      return false;
    };
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(zip_, name.c_str(), 0, &st) != 0) return fail("工作簿缺少部件："_t);
    if (!(st.valid & ZIP_STAT_SIZE) || st.size > kMaxPartBytes) return fail("工作簿部件过大："_t);
    zip_file_t* f = zip_fopen(zip_, name.c_str(), 0);
    if (!f) return fail("无法读取工作簿部件："_t);
    std::string data(static_cast<size_t>(st.size), '\0');
    zip_int64_t got = 0;
    while (got < static_cast<zip_int64_t>(data.size())) {
      const zip_int64_t n = zip_fread(f, data.data() + got, data.size() - got);
      if (n <= 0) break;
      got += n;
    }
    zip_fclose(f);
    if (got != static_cast<zip_int64_t>(data.size())) return fail("工作簿部件已损坏："_t);
    if (!doc->load_buffer(data.data(), data.size(), pugi::parse_default | pugi::parse_ws_pcdata))
      return fail("工作簿部件不是有效的 XML："_t);
    return true;
  }

  zip_t* zip_ = nullptr;
  std::vector<std::string> sheetParts_;
  std::vector<std::string> strings_;
};

}  // namespace

std::unique_ptr<SheetSource> openXlsx(const std::string& path, Text* error) {
  auto source = std::make_unique<XlsxSource>();
  if (!source->open(path, error)) return nullptr;
  return source;
}

bool writeXlsx(const std::string& path, const CellMap& cells, const CellMap& formats, Text* error) {
  lxw_workbook* book = workbook_new(path.c_str());
  if (!book) {
    *error = "无法创建工作簿"_t;
    return false;
  }
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
      *error = "无法写入单元格 "_t +
               Text::fromUtf8(columnLetters(col + 1) + std::to_string(row + 1)) + "："_t +
               Text::fromUtf8(lxw_strerror(err));
      workbook_close(book);
      return false;
    }
  }
  err = workbook_close(book);
  if (err != LXW_NO_ERROR) {
    *error = "无法保存工作簿："_t + Text::fromUtf8(lxw_strerror(err));
    return false;
  }
  return true;
}

}  // namespace spreadsheet::detail
