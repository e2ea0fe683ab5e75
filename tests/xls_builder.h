// Builds .xls files byte by byte for the tests: BIFF5 and BIFF8 workbook
// streams, packed into an OLE compound file. The tests use it for what no
// spreadsheet program here writes (Excel 5.0/95 files, odd stream names,
// split and damaged records), and the kept samples in tests/data/xls were
// made with it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace xlsbuild {

inline void put8(std::string* s, unsigned v) { s->push_back(static_cast<char>(v & 0xff)); }
inline void put16(std::string* s, unsigned v) {
  put8(s, v);
  put8(s, v >> 8);
}
inline void put32(std::string* s, std::uint32_t v) {
  put16(s, v & 0xffff);
  put16(s, v >> 16);
}
inline void putDouble(std::string* s, double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  put32(s, static_cast<std::uint32_t>(bits));
  put32(s, static_cast<std::uint32_t>(bits >> 32));
}

inline std::string record(unsigned type, const std::string& data) {
  std::string s;
  put16(&s, type);
  put16(&s, static_cast<unsigned>(data.size()));
  return s + data;
}

// BIFF8 string: 16-bit count, flags, the characters (one byte each when
// every character is below 256 and wide is false).
inline std::string unicode(const std::u16string& text, bool wide = true) {
  std::string s;
  put16(&s, static_cast<unsigned>(text.size()));
  put8(&s, wide ? 1 : 0);
  for (char16_t c : text) wide ? put16(&s, c) : put8(&s, c);
  return s;
}
// BIFF5 string: 16-bit count and bytes in the workbook's code page.
inline std::string bytes16(const std::string& bytes) {
  std::string s;
  put16(&s, static_cast<unsigned>(bytes.size()));
  return s + bytes;
}

inline std::string cellHead(unsigned row, unsigned col, unsigned xf) {
  std::string d;
  put16(&d, row), put16(&d, col), put16(&d, xf);
  return d;
}

// Cell records; rows and columns 0-based as stored.
inline std::string number(unsigned row, unsigned col, double v, unsigned xf = 15) {
  std::string d = cellHead(row, col, xf);
  putDouble(&d, v);
  return record(0x0203, d);
}
inline std::string rk(unsigned row, unsigned col, std::uint32_t value, unsigned xf = 15) {
  std::string d = cellHead(row, col, xf);
  put32(&d, value);
  return record(0x027E, d);
}
inline std::string mulrk(unsigned row, unsigned col, const std::vector<std::uint32_t>& values,
                         unsigned xf = 15) {
  std::string d;
  put16(&d, row), put16(&d, col);
  for (std::uint32_t v : values) put16(&d, xf), put32(&d, v);
  put16(&d, col + static_cast<unsigned>(values.size()) - 1);
  return record(0x00BD, d);
}
inline std::string labelSst(unsigned row, unsigned col, std::uint32_t index, unsigned xf = 15) {
  std::string d = cellHead(row, col, xf);
  put32(&d, index);
  return record(0x00FD, d);
}
// LABEL: string is unicode(...) in BIFF8, bytes16(...) in BIFF5.
inline std::string label(unsigned row, unsigned col, const std::string& string, unsigned xf = 15) {
  return record(0x0204, cellHead(row, col, xf) + string);
}
inline std::string boolErr(unsigned row, unsigned col, unsigned value, bool error) {
  std::string d = cellHead(row, col, 15);
  put8(&d, value), put8(&d, error ? 1 : 0);
  return record(0x0205, d);
}
inline std::string blank(unsigned row, unsigned col) {
  return record(0x0201, cellHead(row, col, 15));
}

// FORMULA with its cached result (8 bytes), flags, a cache id and the
// expression in tokens; the expression is the constant the result gives.
inline std::string formulaRecord(unsigned row, unsigned col, const std::string& result,
                                 const std::string& tokens, unsigned xf = 15) {
  std::string d = cellHead(row, col, xf) + result;
  put16(&d, 0), put32(&d, 0);
  put16(&d, static_cast<unsigned>(tokens.size()));
  return record(0x0006, d + tokens);
}
inline std::string specialResult(unsigned kind, unsigned value) {
  std::string r;
  put8(&r, kind), put8(&r, 0), put8(&r, value), put8(&r, 0), put8(&r, 0), put8(&r, 0);
  put16(&r, 0xFFFF);
  return r;
}
inline std::string formulaNumber(unsigned row, unsigned col, double v, unsigned xf = 15) {
  std::string r, t;
  putDouble(&r, v);
  put8(&t, 0x1F), putDouble(&t, v);  // tNum
  return formulaRecord(row, col, r, t, xf);
}
inline std::string formulaBool(unsigned row, unsigned col, bool v) {
  std::string t;
  put8(&t, 0x1D), put8(&t, v ? 1 : 0);  // tBool
  return formulaRecord(row, col, specialResult(1, v ? 1 : 0), t);
}
inline std::string formulaError(unsigned row, unsigned col, unsigned code) {
  std::string t;
  put8(&t, 0x1C), put8(&t, code);  // tErr
  return formulaRecord(row, col, specialResult(2, code), t);
}
// A formula giving a text: the FORMULA record, then (unless noString) its
// STRING record, both for a BIFF8 workbook. An empty text has no STRING record.
inline std::string formulaText(unsigned row, unsigned col, const std::u16string& text,
                               bool noString = false) {
  std::string t;
  put8(&t, 0x17), put8(&t, static_cast<unsigned>(text.size())), put8(&t, 1);  // tStr
  for (char16_t c : text) put16(&t, c);
  std::string out = formulaRecord(row, col, specialResult(text.empty() ? 3 : 0, 0), t);
  if (!text.empty() && !noString) out += record(0x0207, unicode(text));
  return out;
}
// The same for a BIFF5 workbook: the text as code-page bytes.
inline std::string formulaText5(unsigned row, unsigned col, const std::string& bytes) {
  std::string t;
  put8(&t, 0x17), put8(&t, static_cast<unsigned>(bytes.size()));
  t += bytes;
  std::string s;
  put16(&s, static_cast<unsigned>(bytes.size()));
  return formulaRecord(row, col, specialResult(0, 0), t) + record(0x0207, s + bytes);
}

// One workbook stream.
struct Book {
  int biff = 8;       // 8 or 5
  int codePage = -1;  // -1: no CODEPAGE record (BIFF8 writes 1200)
  bool date1904 = false;
  std::vector<std::pair<int, std::string>> formats;  // id, code (ASCII or code-page bytes)
  std::vector<int> xfFormats;          // cell styles by format id; 16 General ones when empty
  std::vector<std::u16string> shared;  // the SST (BIFF8)
  std::size_t maxRecord = 8224;        // SST records are split into CONTINUE records at this size
  std::vector<std::string> sheets;     // each sheet's cell records (BOF and EOF are added)
  std::string extraGlobals;            // records written just before the sheet list

  std::string bof(unsigned kind) const {
    std::string d;
    if (biff == 8) {
      put16(&d, 0x0600), put16(&d, kind), put16(&d, 0x0DBB), put16(&d, 0x07CC);
      put32(&d, 0), put32(&d, 6);
    } else {
      put16(&d, 0x0500), put16(&d, kind), put16(&d, 0x0DBB), put16(&d, 0x07CC);
    }
    return record(0x0809, d);
  }

  std::string sst() const {
    // The shared strings, split over CONTINUE records as Excel does: a
    // string's head is never split, its characters may be, and the record
    // that takes over the characters starts with their flags byte.
    std::vector<std::string> recs(1);
    put32(&recs[0], static_cast<std::uint32_t>(shared.size()));
    put32(&recs[0], static_cast<std::uint32_t>(shared.size()));
    for (const auto& t : shared) {
      bool wide = false;
      for (char16_t c : t) wide = wide || c > 0xff;
      if (recs.back().size() + 3 > maxRecord) recs.emplace_back();
      put16(&recs.back(), static_cast<unsigned>(t.size()));
      put8(&recs.back(), wide ? 1 : 0);
      for (char16_t c : t) {
        if (recs.back().size() + (wide ? 2 : 1) > maxRecord) {
          recs.emplace_back();
          put8(&recs.back(), wide ? 1 : 0);
        }
        wide ? put16(&recs.back(), c) : put8(&recs.back(), c);
      }
    }
    std::string s = record(0x00FC, recs[0]);
    for (std::size_t i = 1; i < recs.size(); ++i) s += record(0x003C, recs[i]);
    return s;
  }

  std::string stream() const {
    std::string g = bof(0x0005);
    if (codePage >= 0) {
      std::string d;
      put16(&d, static_cast<unsigned>(codePage));
      g += record(0x0042, d);
    }
    if (date1904) {
      std::string d;
      put16(&d, 1);
      g += record(0x0022, d);
    }
    for (const auto& [id, code] : formats) {
      std::string d;
      put16(&d, static_cast<unsigned>(id));
      if (biff == 8) {
        d += unicode(std::u16string(code.begin(), code.end()), false);
      } else {
        put8(&d, static_cast<unsigned>(code.size()));
        d += code;
      }
      g += record(0x041E, d);
    }
    std::vector<int> xfs = xfFormats;
    if (xfs.empty()) xfs.assign(16, 0);
    for (int f : xfs) {
      std::string d;
      put16(&d, 0), put16(&d, static_cast<unsigned>(f));
      d.append(biff == 8 ? 16 : 12, '\0');
      g += record(0x00E0, d);
    }
    g += extraGlobals;
    std::vector<std::size_t> offsetAt;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      std::string d;
      put32(&d, 0), put8(&d, 0), put8(&d, 0);
      const std::string name = "S" + std::to_string(i + 1);
      put8(&d, static_cast<unsigned>(name.size()));
      if (biff == 8) put8(&d, 0);
      d += name;
      offsetAt.push_back(g.size() + 4);
      g += record(0x0085, d);
    }
    if (biff == 8 && !shared.empty()) g += sst();
    g += record(0x000A, "");
    std::string out = g;
    for (std::size_t i = 0; i < sheets.size(); ++i) {
      const std::uint32_t at = static_cast<std::uint32_t>(out.size());
      for (int k = 0; k < 4; ++k) out[offsetAt[i] + k] = static_cast<char>((at >> (8 * k)) & 0xff);
      // The used range, as programs write it (rows 0..999, columns A..H
      // here); readers do not trust it.
      std::string dimensions;
      if (biff == 8) {
        put32(&dimensions, 0), put32(&dimensions, 1000);
      } else {
        put16(&dimensions, 0), put16(&dimensions, 1000);
      }
      put16(&dimensions, 0), put16(&dimensions, 8), put16(&dimensions, 0);
      out += bof(0x0010) + record(0x0200, dimensions) + sheets[i] + record(0x000A, "");
    }
    return out;
  }
};

// An OLE compound file (version 3, 512-byte sectors) holding the given
// streams in its root storage. Streams under 4096 bytes go to the mini
// stream, as the format requires, unless padded before.
inline std::string compound(const std::vector<std::pair<std::u16string, std::string>>& streams) {
  const std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF;
  auto sectorsFor = [](std::size_t n) { return static_cast<std::uint32_t>((n + 511) / 512); };
  // The mini stream: small streams in 64-byte pieces.
  std::string mini;
  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> start(streams.size());
  std::string big;  // the large streams' sectors, placed after the fixed parts
  std::vector<std::uint32_t> bigSectorOf(streams.size());
  for (std::size_t i = 0; i < streams.size(); ++i) {
    const std::string& data = streams[i].second;
    if (data.size() < 4096) {
      const std::uint32_t first = static_cast<std::uint32_t>(mini.size() / 64);
      const std::uint32_t n = static_cast<std::uint32_t>((data.size() + 63) / 64);
      for (std::uint32_t k = 0; k < n; ++k) miniFat.push_back(k + 1 < n ? first + k + 1 : kEnd);
      start[i] = n ? first : kEnd;
      mini += data;
      mini.resize((mini.size() + 63) / 64 * 64, '\0');
    } else {
      bigSectorOf[i] = sectorsFor(big.size());
      big += data;
      big.resize((big.size() + 511) / 512 * 512, '\0');
    }
  }
  const std::uint32_t dirSectors = sectorsFor((streams.size() + 1) * 128);
  const std::uint32_t miniFatSectors = sectorsFor(miniFat.size() * 4);
  const std::uint32_t miniSectors = sectorsFor(mini.size());
  const std::uint32_t bigSectors = sectorsFor(big.size());
  // The allocation table's own sectors: the header lists 109 of them, list
  // sectors (127 each and a link) the rest.
  std::uint32_t fatSectors = 1, listSectors = 0;
  for (;; ++fatSectors) {
    listSectors = fatSectors > 109 ? (fatSectors - 109 + 126) / 127 : 0;
    if (fatSectors * 128 >=
        fatSectors + listSectors + dirSectors + miniFatSectors + miniSectors + bigSectors)
      break;
  }
  const std::uint32_t dirAt = fatSectors + listSectors, miniFatAt = dirAt + dirSectors,
                      miniAt = miniFatAt + miniFatSectors, bigAt = miniAt + miniSectors;
  std::vector<std::uint32_t> fat;
  for (std::uint32_t i = 0; i < fatSectors; ++i) fat.push_back(0xFFFFFFFD);
  for (std::uint32_t i = 0; i < listSectors; ++i) fat.push_back(0xFFFFFFFC);
  auto chainOf = [&](std::uint32_t n) {
    const std::uint32_t first = static_cast<std::uint32_t>(fat.size());
    for (std::uint32_t k = 0; k < n; ++k) fat.push_back(k + 1 < n ? first + k + 1 : kEnd);
  };
  chainOf(dirSectors);
  chainOf(miniFatSectors);
  chainOf(miniSectors);
  for (std::size_t i = 0; i < streams.size(); ++i) {
    if (streams[i].second.size() < 4096) continue;
    const std::uint32_t n = sectorsFor(streams[i].second.size());
    start[i] = bigAt + bigSectorOf[i];
    for (std::uint32_t k = 0; k < n; ++k) fat.push_back(k + 1 < n ? start[i] + k + 1 : kEnd);
  }
  fat.resize(fatSectors * 128, kFree);

  std::string h("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  h.append(16, '\0');
  put16(&h, 0x003E), put16(&h, 3), put16(&h, 0xFFFE), put16(&h, 9), put16(&h, 6);
  h.append(6, '\0');
  put32(&h, 0), put32(&h, fatSectors), put32(&h, dirAt), put32(&h, 0), put32(&h, 4096);
  put32(&h, miniFatSectors ? miniFatAt : kEnd), put32(&h, miniFatSectors);
  put32(&h, listSectors ? fatSectors : kEnd), put32(&h, listSectors);
  for (std::uint32_t i = 0; i < 109; ++i) put32(&h, i < fatSectors ? i : kFree);
  std::string lists;
  for (std::uint32_t k = 0; k < listSectors; ++k) {
    for (std::uint32_t i = 0; i < 127; ++i) {
      const std::uint32_t n = 109 + k * 127 + i;
      put32(&lists, n < fatSectors ? n : kFree);
    }
    put32(&lists, k + 1 < listSectors ? fatSectors + k + 1 : kEnd);
  }

  auto entry = [](const std::u16string& name, int type, std::uint32_t right, std::uint32_t child,
                  std::uint32_t first, std::uint32_t size) {
    std::string e;
    for (char16_t c : name) put16(&e, c);
    put16(&e, 0);
    e.resize(64, '\0');
    put16(&e, static_cast<unsigned>((name.size() + 1) * 2));
    put8(&e, static_cast<unsigned>(type)), put8(&e, 1);
    put32(&e, kFree), put32(&e, right), put32(&e, child);
    e.append(16 + 4 + 16, '\0');
    put32(&e, first), put32(&e, size), put32(&e, 0);
    return e;
  };
  std::string dir = entry(u"Root Entry", 5, kFree, streams.empty() ? kFree : 1,
                          miniSectors ? miniAt : kEnd, static_cast<std::uint32_t>(mini.size()));
  for (std::size_t i = 0; i < streams.size(); ++i)
    dir += entry(streams[i].first, 2,
                 i + 1 < streams.size() ? static_cast<std::uint32_t>(i + 2) : kFree, kFree,
                 start[i], static_cast<std::uint32_t>(streams[i].second.size()));
  while (dir.size() < dirSectors * 512) dir += entry(u"", 0, kFree, kFree, kFree, 0);

  std::string out = h;
  for (std::uint32_t v : fat) put32(&out, v);
  out += lists + dir;
  std::string mf;
  for (std::uint32_t v : miniFat) put32(&mf, v);
  mf.resize(miniFatSectors * 512, '\xFF');
  out += mf;
  std::string m = mini;
  m.resize(miniSectors * 512, '\0');
  out += m + big;
  return out;
}

// A whole .xls file: the book's stream under the given name, padded to
// 4096 bytes as spreadsheet programs do (so that it is not a mini stream)
// unless small is set.
inline std::string file(const Book& book, const std::u16string& name = u"Workbook",
                        bool small = false) {
  std::string s = book.stream();
  if (!small && s.size() < 4096) s.resize(4096, '\0');
  return compound({{name, s}});
}

// ASCII text as UTF-16.
inline std::u16string ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// A participant list of `rows` rows under a heading row, as a BIFF8 book:
// 编号, 身份证号码, 图片文件 and 备注 as texts of their own, 姓名 from the
// shared strings, 电话号码 a number.
inline Book participantList(int rows) {
  Book b;
  b.shared = {u"编号", u"姓名", u"电话号码", u"身份证号码", u"图片文件", u"备注"};
  std::string s;
  for (unsigned c = 0; c < 6; ++c) s += labelSst(0, c, c);
  for (unsigned r = 1; r <= static_cast<unsigned>(rows); ++r) {
    const std::string n = std::to_string(10000 + r).substr(1);
    b.shared.push_back(u"参加者" + ascii16(n));
    s += label(r, 0, unicode(ascii16(n), false)) +
         labelSst(r, 1, static_cast<std::uint32_t>(b.shared.size() - 1)) +
         number(r, 2, 13800000000.0 + r) + label(r, 3, unicode(ascii16("11010119900101" + n))) +
         label(r, 4, unicode(ascii16(n + ".jpg"))) + label(r, 5, unicode(u"备注" + ascii16(n)));
  }
  b.sheets = {s};
  return b;
}

// In a file that file() wrote with one FAT sector (fewer than 128 sectors
// in all): sets the link of sector `sector` to `next`. The workbook stream
// then starts at sector 2 (after the FAT and the directory), so its byte
// pos lies in sector 2 + pos / 512.
inline void setLink(std::string* file, std::uint32_t sector, std::uint32_t next) {
  std::string v;
  put32(&v, next);
  file->replace(512 + 4 * std::size_t{sector}, 4, v);
}

}  // namespace xlsbuild
