// BIFF workbooks (.xls): Excel 5.0/95 (BIFF5) and Excel 97-2003 (BIFF8).
//
// An .xls file is an OLE compound file: a small file system of fixed-size
// sectors chained through an allocation table, with a directory of named
// streams. The workbook is the stream "Workbook" (older files: "Book"; the
// letter case varies between writers) of the root storage, a sequence of
// records: first the workbook globals (code page, date system, number
// formats, cell styles, the sheet list, the shared strings), then one
// substream per sheet.
//
// Both layers are read here, and every offset, length, index and chain is
// checked against the bytes actually present: nothing is allocated from a
// size the file declares, a chain that loops, leaves the file or runs into
// the allocation table or the directory ends where it goes wrong, and a
// damaged cell record reads as an empty cell. A file is refused when its
// workbook cannot be found or holds no sheet; a sheet cut short by such a
// chain keeps the rows before the damage and says how many were read.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/spreadsheet/cell_format.h"
#include "platform/spreadsheet/spreadsheet_source.h"

namespace spreadsheet::detail {

using model::operator""_t;

namespace {

// Larger files are not workbooks a version-3 compound file can hold, and
// their allocation table alone would cost tens of megabytes.
constexpr std::uint64_t kMaxFileBytes = 2ull << 30;
// Bounds on the shared-string table, so that a small hostile file cannot
// exhaust memory (the cell texts of a sheet are bounded by the contract).
constexpr std::size_t kMaxSharedStrings = 2u << 20;
constexpr std::size_t kMaxSharedBytes = 48u << 20;

std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
double leDouble(const std::uint8_t* p) {
  const std::uint64_t bits = le32(p) | static_cast<std::uint64_t>(le32(p + 4)) << 32;
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(const std::u16string& s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    appendUtf8(&out, c);
  }
  return out;
}

// Byte strings of Excel 5.0/95 files are in the workbook's code page (the
// CODEPAGE record; 936 for simplified Chinese). The conversion goes through
// a fixed output buffer, so a hostile length or code page can make text
// wrong but never read or write outside the buffers.
class CodePage {
 public:
  CodePage() = default;
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;
  ~CodePage() { close(); }

  void set(int codePage) {
    close();
    std::string name;
    switch (codePage) {
      case 936:
        name = "GB18030";  // the superset, so that nothing a GBK file holds is lost
        break;
      case 10000:
      case 32768:
        name = "MACINTOSH";
        break;
      case 367:
      case 1200:  // Unicode: byte strings are then Latin-1 in practice
      case 32769:
        name = "CP1252";
        break;
      default:
        name = "CP" + std::to_string(codePage);
        break;
    }
    cd_ = iconv_open("UTF-8", name.c_str());
    if (cd_ == reinterpret_cast<iconv_t>(-1)) cd_ = iconv_open("UTF-8", "CP1252");
  }

  std::string toUtf8(const std::string& bytes) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) set(1252);
    std::string out;
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {  // no converter at all: Latin-1
      for (unsigned char c : bytes) appendUtf8(&out, c);
      return out;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char buf[1024];
    while (inLeft > 0) {
      char* o = buf;
      std::size_t oLeft = sizeof buf;
      const std::size_t rc = iconv(cd_, &in, &inLeft, &o, &oLeft);
      out.append(buf, sizeof buf - oLeft);
      if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
        // An invalid or cut sequence: one byte becomes '?'.
        out.push_back('?');
        ++in;
        --inLeft;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
      }
    }
    char* o = buf;
    std::size_t oLeft = sizeof buf;
    iconv(cd_, nullptr, nullptr, &o, &oLeft);
    out.append(buf, sizeof buf - oLeft);
    return out;
  }

 private:
  void close() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    cd_ = reinterpret_cast<iconv_t>(-1);
  }
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

// --- The compound file ----------------------------------------------------------------

class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return true;
  }
  std::uint64_t size() const { return size_; }
  // Up to n bytes at offset; the count read (short at the end of the file).
  std::size_t read(std::uint64_t offset, std::uint8_t* dst, std::size_t n) const {
    std::size_t got = 0;
    while (got < n && offset + got < size_) {
      const ssize_t r = pread(fd_, dst + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

// Streams shorter than this live in the mini stream (the format fixes it;
// the header's copy of it is not trusted).
constexpr std::uint64_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;

// A stream of the compound file: either a chain of sectors read on demand
// or, for a small stream kept in the mini stream, its bytes.
class Stream {
 public:
  std::uint64_t size() const { return size_; }
  // True when pos lies before the end the directory declares: a reading
  // that ends there was cut short by damage.
  bool endsEarlyAt(std::uint64_t pos) const { return pos < declared_; }

  // Copies n bytes from pos; false when they are not all there.
  bool read(std::uint64_t pos, std::uint8_t* dst, std::size_t n) {
    if (pos > size_ || n > size_ - pos) return false;
    if (n == 0) return true;
    if (!file_) {
      std::memcpy(dst, bytes_.data() + pos, n);
      return true;
    }
    const std::uint64_t sectorSize = std::uint64_t{1} << shift_;
    while (n > 0) {
      const std::uint64_t index = pos >> shift_;
      const std::size_t within = static_cast<std::size_t>(pos & (sectorSize - 1));
      if (index != cachedIndex_) {
        cache_.resize(sectorSize);
        const std::uint64_t offset = (std::uint64_t{sectors_[index]} + 1) << shift_;
        cacheLength_ = file_->read(offset, cache_.data(), cache_.size());
        cachedIndex_ = index;
      }
      const std::size_t chunk =
          std::min<std::size_t>(n, static_cast<std::size_t>(sectorSize) - within);
      if (within + chunk > cacheLength_) return false;  // the file ends inside the sector
      std::memcpy(dst, cache_.data() + within, chunk);
      dst += chunk;
      pos += chunk;
      n -= chunk;
    }
    return true;
  }

 private:
  friend class CompoundFile;
  const File* file_ = nullptr;
  unsigned shift_ = 9;
  std::vector<std::uint32_t> sectors_;
  std::vector<std::uint8_t> bytes_;
  std::uint64_t size_ = 0;
  std::uint64_t declared_ = 0;
  std::vector<std::uint8_t> cache_;
  std::size_t cacheLength_ = 0;
  std::uint64_t cachedIndex_ = UINT64_MAX;
};

class CompoundFile {
 public:
  // Reads the header, the allocation table and the directory, and finds the
  // workbook stream. False with the reason for the operator.
  bool open(const File* file, Stream* workbook, Text* error) {
    file_ = file;
    std::uint8_t h[512];
    if (file->read(0, h, sizeof h) != sizeof h) {
      *error = "文件太短，不是完整的 xls 工作簿"_t;
      return false;
    }
    if (file->size() > kMaxFileBytes) {
      *error = "文件大于 2 GB，超出 xls 工作簿的上限"_t;
      return false;
    }
    shift_ = le16(h + 30);
    const unsigned miniShift = le16(h + 32);
    if ((shift_ != 9 && shift_ != 12) || miniShift != 6) {
      *error = "文件头损坏，不是有效的 xls 工作簿"_t;
      return false;
    }
    const std::uint64_t sectorSize = std::uint64_t{1} << shift_;
    sectorCount_ =
        file->size() > sectorSize
            ? static_cast<std::uint32_t>((file->size() - 1) / sectorSize)  // header sector excluded
            : 0;
    reserved_.assign(sectorCount_, false);
    loadFat(h);

    Stream dir;
    if (!chain(le32(h + 48), &dir, UINT64_MAX) || dir.size() < 128) {
      *error = "文件目录损坏，不是有效的 xls 工作簿"_t;
      return false;
    }
    for (std::uint32_t sector : dir.sectors_) reserved_[sector] = true;
    std::uint8_t root[128];
    dir.read(0, root, sizeof root);
    const std::uint32_t entries = static_cast<std::uint32_t>(dir.size() / 128);
    const std::uint32_t found = findWorkbook(&dir, entries, le32(root + 76));
    if (found == kFreeSector) {
      *error = "文件中没有工作簿数据（Workbook 流）"_t;
      return false;
    }
    std::uint8_t e[128];
    dir.read(std::uint64_t{found} * 128, e, sizeof e);
    std::uint64_t size = le32(e + 120);
    if (shift_ == 12) size |= std::uint64_t{le32(e + 124)} << 32;
    const std::uint32_t start = le32(e + 116);
    bool ok;
    if (size < kMiniStreamCutoff) {
      Stream container;
      std::uint64_t rootSize = le32(root + 120);
      if (shift_ == 12) rootSize |= std::uint64_t{le32(root + 124)} << 32;
      Stream miniFat;
      ok = chain(le32(root + 116), &container, rootSize) &&
           chain(le32(h + 60), &miniFat, UINT64_MAX) &&
           miniChain(start, size, &container, &miniFat, workbook);
    } else {
      ok = chain(start, workbook, size);
    }
    if (!ok || workbook->size() == 0) {
      *error = "工作簿数据损坏（Workbook 流无法读取）"_t;
      return false;
    }
    workbook->declared_ = size;
    return true;
  }

 private:
  std::uint32_t next(std::uint32_t sector) const {
    return sector < fat_.size() ? fat_[sector] : kFreeSector;
  }

  // The allocation table, as far as it describes sectors of this file: the
  // first 109 of its sectors are listed in the header, the rest in a chain
  // of list sectors.
  void loadFat(const std::uint8_t* h) {
    const std::size_t perSector = (std::size_t{1} << shift_) / 4;
    const std::size_t needed = (std::size_t{sectorCount_} + perSector - 1) / perSector;
    const std::size_t declared = le32(h + 44);
    const std::size_t wanted = std::min(needed, declared);
    std::vector<std::uint32_t> fatSectors;
    for (int i = 0; i < 109 && fatSectors.size() < wanted; ++i)
      fatSectors.push_back(le32(h + 76 + 4 * i));
    std::uint32_t list = le32(h + 68);
    std::vector<std::uint8_t> buf(std::size_t{1} << shift_);
    std::vector<bool> seen(sectorCount_);
    while (fatSectors.size() < wanted && list < sectorCount_ && !seen[list]) {
      seen[list] = true;
      reserved_[list] = true;
      if (!readSector(list, buf.data())) break;
      for (std::size_t i = 0; i + 1 < perSector && fatSectors.size() < wanted; ++i)
        fatSectors.push_back(le32(buf.data() + 4 * i));
      list = le32(buf.data() + 4 * (perSector - 1));
    }
    fat_.assign(fatSectors.size() * perSector, kFreeSector);
    for (std::size_t k = 0; k < fatSectors.size(); ++k) {
      if (fatSectors[k] >= sectorCount_ || !readSector(fatSectors[k], buf.data())) continue;
      reserved_[fatSectors[k]] = true;
      for (std::size_t i = 0; i < perSector; ++i)
        fat_[k * perSector + i] = le32(buf.data() + 4 * i);
    }
  }

  bool readSector(std::uint32_t sector, std::uint8_t* dst) const {
    const std::size_t n = std::size_t{1} << shift_;
    return file_->read((std::uint64_t{sector} + 1) << shift_, dst, n) == n;
  }

  // The stream that starts at sector start, at most `size` bytes long: the
  // chain is followed while it stays inside the file, visits no sector twice
  // and keeps out of the allocation table and the directory; a chain shorter
  // than the size gives a shorter stream.
  bool chain(std::uint32_t start, Stream* s, std::uint64_t size) const {
    s->file_ = file_;
    s->shift_ = shift_;
    const std::uint64_t maxSectors = (size >> shift_) + 1;
    std::vector<bool> seen(sectorCount_);
    for (std::uint32_t at = start;
         at < sectorCount_ && !seen[at] && !reserved_[at] && s->sectors_.size() < maxSectors;
         at = next(at)) {
      seen[at] = true;
      s->sectors_.push_back(at);
    }
    s->size_ = std::min<std::uint64_t>(size, std::uint64_t{s->sectors_.size()} << shift_);
    return !s->sectors_.empty() || start == kEndOfChain;
  }

  // A small stream: 64-byte sectors of the root's container stream, chained
  // through the mini allocation table.
  bool miniChain(std::uint32_t start, std::uint64_t size, Stream* container, Stream* miniFat,
                 Stream* s) const {
    s->file_ = nullptr;
    std::uint32_t at = start;
    std::vector<bool> seen(container->size() / 64);
    while (s->bytes_.size() < size && at < seen.size() && !seen[at]) {
      seen[at] = true;
      std::uint8_t block[64];
      if (!container->read(std::uint64_t{at} * 64, block, sizeof block)) break;
      s->bytes_.insert(s->bytes_.end(), block, block + sizeof block);
      std::uint8_t link[4];
      if (!miniFat->read(std::uint64_t{at} * 4, link, sizeof link)) break;
      at = le32(link);
    }
    s->size_ = std::min<std::uint64_t>(size, s->bytes_.size());
    return s->size_ > 0;
  }

  // The workbook stream among the root storage's children (a tree of
  // entries by their left and right links): "Workbook", else "Book", in
  // any letter case. kFreeSector when there is none.
  std::uint32_t findWorkbook(Stream* dir, std::uint32_t entries, std::uint32_t child) const {
    std::uint32_t book = kFreeSector;
    std::vector<bool> seen(entries);
    std::vector<std::uint32_t> todo{child};
    while (!todo.empty()) {
      const std::uint32_t at = todo.back();
      todo.pop_back();
      if (at >= entries || seen[at]) continue;
      seen[at] = true;
      std::uint8_t e[128];
      if (!dir->read(std::uint64_t{at} * 128, e, sizeof e)) continue;
      todo.push_back(le32(e + 68));
      todo.push_back(le32(e + 72));
      if (e[66] != 2) continue;  // not a stream
      std::string name;
      const unsigned chars = std::min<unsigned>(le16(e + 64), 64) / 2;
      for (unsigned i = 0; i < chars; ++i) {
        const std::uint16_t c = le16(e + 2 * i);
        if (c == 0) break;
        name.push_back(c < 0x80 ? static_cast<char>(std::tolower(c)) : '?');
      }
      if (name == "workbook") return at;
      if (name == "book") book = at;
    }
    return book;
  }

  const File* file_ = nullptr;
  unsigned shift_ = 9;
  std::uint32_t sectorCount_ = 0;
  std::vector<std::uint32_t> fat_;
  // Sectors of the allocation table, its list and the directory: no
  // stream's chain may enter them.
  std::vector<bool> reserved_;
};

// --- BIFF records ---------------------------------------------------------------------

enum : std::uint16_t {
  kFormula = 0x0006,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFilePass = 0x002F,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kBoundSheet = 0x0085,
  kMulRk = 0x00BD,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kString = 0x0207,
  kRk = 0x027E,
  kFormat = 0x041E,
  kBof = 0x0809,
};

class RecordReader {
 public:
  RecordReader(Stream* s, std::uint64_t pos) : s_(s), pos_(pos) {}

  // The next record; false at the end of the stream or at a record cut short.
  bool next(std::uint16_t* type, std::vector<std::uint8_t>* data) {
    std::uint8_t h[4];
    if (!s_->read(pos_, h, sizeof h)) return false;
    const std::uint16_t length = le16(h + 2);
    data->resize(length);
    if (!s_->read(pos_ + 4, data->data(), length)) return false;
    *type = le16(h);
    pos_ += 4 + std::uint64_t{length};
    return true;
  }

  // The next record when it is a CONTINUE record; false (and nothing
  // consumed) otherwise.
  std::uint64_t pos() const { return pos_; }

  bool nextContinue(std::vector<std::uint8_t>* data) {
    std::uint8_t h[2];
    if (!s_->read(pos_, h, sizeof h) || le16(h) != kContinue) return false;
    std::uint16_t type;
    return next(&type, data);
  }

 private:
  Stream* s_;
  std::uint64_t pos_;
};

// The data of one record and of the CONTINUE records after it, read as one.
// Every read is checked; a failed read leaves the value unusable.
class RecordData {
 public:
  RecordData(std::vector<std::uint8_t> data, RecordReader* more)
      : seg_(std::move(data)), more_(more) {}

  bool u8(std::uint8_t* v) { return bytes(1, v); }
  bool u16(std::uint16_t* v) {
    std::uint8_t b[2];
    if (!bytes(2, b)) return false;
    *v = le16(b);
    return true;
  }
  bool u32(std::uint32_t* v) {
    std::uint8_t b[4];
    if (!bytes(4, b)) return false;
    *v = le32(b);
    return true;
  }
  bool skip(std::uint64_t n) {
    while (n > 0) {
      if (at_ == seg_.size() && !advance()) return false;
      const std::size_t step =
          static_cast<std::size_t>(std::min<std::uint64_t>(n, seg_.size() - at_));
      at_ += step;
      n -= step;
    }
    return true;
  }
  // Bytes that may run on into a CONTINUE record.
  bool bytes(std::size_t n, std::uint8_t* dst) {
    while (n > 0) {
      if (at_ == seg_.size() && !advance()) return false;
      const std::size_t step = std::min(n, seg_.size() - at_);
      if (step == 0) continue;  // an empty CONTINUE record
      std::memcpy(dst, seg_.data() + at_, step);
      at_ += step;
      dst += step;
      n -= step;
    }
    return true;
  }
  bool text(std::size_t n, std::string* out) {
    out->resize(n);
    return bytes(n, reinterpret_cast<std::uint8_t*>(out->data()));
  }
  // The characters of a BIFF8 string: one byte (Latin-1) or two (UTF-16)
  // each; where they run on into a CONTINUE record, that record starts with
  // a flags byte that says again which.
  bool chars(std::size_t n, bool wide, std::u16string* out) {
    out->clear();
    while (out->size() < n) {
      if (at_ == seg_.size()) {
        if (!advance() || seg_.empty()) return false;
        wide = seg_[at_++] & 1;
        continue;  // the record may hold nothing after its flags
      }
      if (wide) {
        if (seg_.size() - at_ < 2) return false;
        out->push_back(static_cast<char16_t>(le16(seg_.data() + at_)));
        at_ += 2;
      } else {
        out->push_back(seg_[at_]);
        at_ += 1;
      }
    }
    return true;
  }
  // True while data is left, in this record or a CONTINUE record after it.
  bool more() { return at_ < seg_.size() || advance(); }

 private:
  bool advance() {
    std::vector<std::uint8_t> next;
    if (!more_ || !more_->nextContinue(&next)) return false;
    seg_ = std::move(next);
    at_ = 0;
    return true;
  }
  std::vector<std::uint8_t> seg_;
  std::size_t at_ = 0;
  RecordReader* more_;
};

const char* errorText(std::uint8_t code) {
  switch (code) {
    case 0x00:
      return "#NULL!";
    case 0x07:
      return "#DIV/0!";
    case 0x0F:
      return "#VALUE!";
    case 0x17:
      return "#REF!";
    case 0x1D:
      return "#NAME?";
    case 0x24:
      return "#NUM!";
    case 0x2A:
      return "#N/A";
    case 0x2B:
      return "#GETTING_DATA";
    default:
      return "";
  }
}

double rkValue(std::uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, sizeof v);
  }
  return (rk & 1) ? v / 100 : v;
}

// One cell of the sheet being read: its text, or a shared string by index.
struct Cell {
  std::uint32_t shared = UINT32_MAX;
  std::string text;    // UTF-8
  unsigned notes = 0;  // CellNote bits
};

class XlsSource : public SheetSource {
 public:
  bool open(const std::string& path, Text* error) {
    if (!file_.open(path)) {
      *error = "无法读取文件"_t;
      return false;
    }
    CompoundFile container;
    if (!container.open(&file_, &stream_, error)) return false;
    return readGlobals(error);
  }

  int sheetCount() const override { return static_cast<int>(sheets_.size()); }

  bool readSheet(int index, const SheetReading& reading, Text* error) override {
    partial_ = Text();
    if (index < 0 || index >= sheetCount()) {
      *error = "工作簿中没有这个工作表"_t;
      return false;
    }
    std::uint64_t at = sheets_[index];
    if (!isBof(at) && !substreamByOrder(index, &at)) {
      *error = stream_.endsEarlyAt(stream_.size())
                   ? "文件已损坏：xls 文件的数据链断开，工作表无法读取"_t
                   : "工作表的位置损坏，无法读取"_t;
      return false;
    }
    // The cells of columns A to F by row and column, whatever order the
    // records come in; shared strings stay indexes until the rows are known.
    std::map<std::uint64_t, Cell> found;
    bool cut = false;
    if (!collectCells(at, &found, &cut, reading.watch, error)) return false;
    if (cut && !found.empty()) {
      // Cells come row by row: the last row found may have lost its later
      // cells to the damage, and is dropped.
      const std::uint64_t lastRow = found.rbegin()->first >> 16;
      found.erase(found.lower_bound(cellKey(static_cast<int>(lastRow), 0)), found.end());
    }
    SheetRows rows(reading);
    int row = 0;
    for (auto it = found.begin(); it != found.end(); it = found.erase(it)) {
      const int r = static_cast<int>(it->first >> 16);
      if (r != row && !rows.beginRow(row = r)) break;
      if (!rows.cell(static_cast<int>(it->first & 0xFFFF), textOf(it->second), it->second.notes))
        break;
    }
    if (!rows.error().empty()) {
      *error = rows.error();
      return false;
    }
    if (cut) {
      // The rows of data kept: row 2 onwards, without a gap.
      int dataRows = 0;
      for (auto it = reading.cells->lower_bound(cellKey(2, 0)); it != reading.cells->end();
           it = reading.cells->lower_bound(cellKey(static_cast<int>(it->first >> 16) + 1, 0)))
        ++dataRows;
      partial_ =
          "文件已损坏：工作表只读取到 "_t + model::numberToText(static_cast<long long>(dataRows)) +
          " 行数据，其后的内容无法读取。请核对预览中的数据，或用电子表格程序修复文件后重新导入。"_t;
    }
    return true;
  }

  Text partialReason() const override { return partial_; }

 private:
  // Reads the records of the sheet at `at` into found; *cut is set when its
  // records end before the sheet's end, where the stream is cut short.
  bool collectCells(std::uint64_t at, std::map<std::uint64_t, Cell>* found, bool* cut,
                    ReadWatch* watch, Text* error) {
    RecordReader records(&stream_, at);
    std::uint16_t type;
    std::vector<std::uint8_t> d;
    records.next(&type, &d);  // the sheet's BOF
    std::size_t textBytes = 0;
    std::uint64_t pendingString = 0;  // a formula cell whose text follows
    int depth = 0;                    // inside an embedded chart
    auto tooMuch = [&] {
      if (textBytes <= kMaxSheetTextBytes) return false;
      *error = "工作表的文字超过 "_t +
               model::numberToText(static_cast<long long>(kMaxSheetTextBytes >> 20)) +
               " MB 的上限，未读取"_t;
      return true;
    };
    bool ended = false;
    for (unsigned count = 1; records.next(&type, &d); ++count) {
      if (count % 1024 == 0) {
        if (watch->cancelled) {
          *error = cancelledText();
          return false;
        }
        if (watch->progress) watch->progress();
      }
      if (type == kBof) {
        ++depth;
        continue;
      }
      if (type == kEof) {
        if (depth-- == 0) {
          ended = true;
          break;
        }
        continue;
      }
      if (depth > 0) continue;
      if (type == kString) {
        if (pendingString) {
          RecordData data(d, &records);
          std::string t;
          if (readString(&data, &t)) {
            textBytes += t.size();
            (*found)[pendingString].text = std::move(t);
            if (tooMuch()) return false;
          }
          pendingString = 0;
        }
        continue;
      }
      if (!isCell(type)) continue;
      pendingString = 0;
      if (d.size() < 6) continue;  // damaged: no row and column
      const int row = le16(d.data()) + 1;
      const int column = le16(d.data() + 2) + 1;
      if (row > watch->rows) watch->rows = row;
      if (type == kMulRk) {
        // Several RK numbers of one row: (format, value) pairs from column.
        for (std::size_t k = 0;
             4 + 6 * k + 6 <= d.size() && column + static_cast<int>(k) <= kReadColumns; ++k) {
          const std::uint8_t* p = d.data() + 4 + 6 * k;
          Cell& c = (*found)[cellKey(row, column + static_cast<int>(k))];
          c.shared = UINT32_MAX;
          c.notes = 0;
          c.text = numberCell(rkValue(le32(p + 2)), le16(p), &c.notes);
          textBytes += c.text.size();
        }
        if (tooMuch()) return false;
        continue;
      }
      if (column > kReadColumns) continue;
      Cell cell;
      if (!readCell(type, d, &records, &cell, &pendingString)) continue;
      const std::uint64_t key = cellKey(row, column);
      if (pendingString) pendingString = key;
      textBytes += cell.text.size();
      (*found)[key] = std::move(cell);
      if (tooMuch()) return false;
    }
    // A sheet may lack its end record when the stream ends with it; one
    // that ends before the stream's declared end was cut.
    *cut = !ended && stream_.endsEarlyAt(records.pos());
    return true;
  }

  static bool isCell(std::uint16_t type) {
    switch (type) {
      case kFormula:
      case kMulRk:
      case kRString:
      case kLabelSst:
      case kNumber:
      case kLabel:
      case kBoolErr:
      case kRk:
      case 0x0201:  // BLANK
      case 0x00BE:  // MULBLANK
        return true;
      default:
        return false;
    }
  }

  // The value of one cell record (columns A to F). False when the record
  // gives the cell no text (blank, damaged). *stringFollows is set for a
  // formula whose text is in the next STRING record.
  bool readCell(std::uint16_t type, const std::vector<std::uint8_t>& d, RecordReader* records,
                Cell* cell, std::uint64_t* stringFollows) {
    const std::uint8_t* p = d.data();
    const std::uint16_t xf = le16(p + 4);
    switch (type) {
      case kNumber:
        if (d.size() < 14) return false;
        cell->text = numberCell(leDouble(p + 6), xf, &cell->notes);
        return true;
      case kRk:
        if (d.size() < 10) return false;
        cell->text = numberCell(rkValue(le32(p + 6)), xf, &cell->notes);
        return true;
      case kLabelSst:
        if (d.size() < 10) return false;
        cell->shared = le32(p + 6);
        return true;
      case kLabel:
      case kRString: {
        RecordData data(d, records);
        return data.skip(6) && readString(&data, &cell->text);
      }
      case kBoolErr:
        if (d.size() < 8) return false;
        cell->text = p[7] ? errorText(p[6]) : (p[6] ? "TRUE" : "FALSE");
        return true;
      case kFormula: {
        if (d.size() < 14) return false;
        const std::uint8_t* r = p + 6;
        if (le16(r + 6) != 0xFFFF) {
          cell->text = numberCell(leDouble(r), xf, &cell->notes);
          return true;
        }
        switch (r[0]) {
          case 0:  // text, in the STRING record that follows
            *stringFollows = 1;
            return true;
          case 1:
            cell->text = r[2] ? "TRUE" : "FALSE";
            return true;
          case 2:
            cell->text = errorText(r[2]);
            return true;
          default:
            // 3: the empty text, which is also all that a writer that does
            // not calculate stores in place of the result.
            cell->notes = kNoResult;
            return true;
        }
      }
      default:
        return false;
    }
  }

  std::string numberCell(double value, std::uint16_t xf, unsigned* notes) {
    if (!std::isfinite(value)) return "#NUM!";
    const int id = xf < xfFormats_.size() ? xfFormats_[xf] : 0;
    bool longNumber = false;
    std::string text = parsed_
                           .get(id,
                                [&] {
                                  auto it = formats_.find(id);
                                  return it != formats_.end() ? it->second : builtinFormatCode(id);
                                })
                           .format(value, date1904_, &longNumber);
    if (longNumber) *notes |= kLongNumber;
    return text;
  }

  // A string: a 16-bit count, then in BIFF8 flags and the characters
  // (rich-text runs and phonetic data are skipped), in BIFF5 bytes in the
  // workbook's code page.
  bool readString(RecordData* d, std::string* out) {
    std::uint16_t n = 0;
    if (!d->u16(&n)) return false;
    if (!biff8_) {
      std::string bytes;
      if (!d->text(n, &bytes)) return false;
      *out = codePage_.toUtf8(bytes);
      return true;
    }
    std::uint8_t flags;
    std::uint16_t runs = 0;
    std::uint32_t phonetic = 0;
    if (!d->u8(&flags) || ((flags & 0x08) && !d->u16(&runs)) ||
        ((flags & 0x04) && !d->u32(&phonetic)))
      return false;
    std::u16string chars;
    if (!d->chars(n, flags & 1, &chars)) return false;
    *out = utf16ToUtf8(chars);
    return d->skip(std::uint64_t{runs} * 4) && d->skip(phonetic);
  }

  // A cell's text: its own, or its shared string ("" when there is no such string).
  std::string textOf(const Cell& c) const {
    if (c.shared == UINT32_MAX) return c.text;
    if (c.shared >= sharedEnds_.size()) return std::string();
    const std::uint32_t from = c.shared ? sharedEnds_[c.shared - 1] : 0;
    return shared_.substr(from, sharedEnds_[c.shared] - from);
  }

  bool isBof(std::uint64_t at) {
    std::uint8_t h[2];
    return stream_.read(at, h, sizeof h) && le16(h) == kBof;
  }

  // Where the sheet's BOUNDSHEET position is damaged: the index-th
  // substream after the globals.
  bool substreamByOrder(int index, std::uint64_t* at) {
    RecordReader records(&stream_, globalsEnd_);
    std::uint16_t type;
    std::vector<std::uint8_t> d;
    int depth = 0, seen = 0;
    while (true) {
      const std::uint64_t here = records.pos();
      if (!records.next(&type, &d)) return false;
      if (type == kBof) {
        if (depth == 0 && seen++ == index) {
          *at = here;
          return true;
        }
        ++depth;
      } else if (type == kEof && depth > 0) {
        --depth;
      }
    }
  }

  bool readGlobals(Text* error) {
    RecordReader records(&stream_, 0);
    std::uint16_t type;
    std::vector<std::uint8_t> d;
    if (!records.next(&type, &d) || (type & 0xFF) != 0x09) {
      *error = "工作簿数据损坏（缺少开头记录）"_t;
      return false;
    }
    if (type != kBof) {
      *error = "不支持 Excel 5.0 以前的 xls 格式"_t;
      return false;
    }
    const std::uint16_t version = d.size() >= 2 ? le16(d.data()) : 0;
    biff8_ = version == 0x0600 || (version != 0x0500 && d.size() >= 16);
    codePage_.set(biff8_ ? 1200 : 1252);
    std::vector<std::pair<int, std::string>>
        bytesFormats;  // BIFF5: converted once the code page is known
    while (records.next(&type, &d)) {
      const std::uint8_t* p = d.data();
      switch (type) {
        case kEof:
          break;
        case kFilePass:
          *error = "工作簿有密码保护，无法读取"_t;
          return false;
        case kCodePage:
          if (d.size() >= 2) codePage_.set(le16(p));
          continue;
        case kDateMode:
          if (d.size() >= 2) date1904_ = le16(p) != 0;
          continue;
        case kXf:
          xfFormats_.push_back(d.size() >= 4 ? le16(p + 2) : 0);
          continue;
        case kFormat: {
          if (d.size() < 2) continue;
          const int id = le16(p);
          RecordData data(d, &records);
          data.skip(2);
          if (biff8_) {
            std::string code;
            if (readString(&data, &code)) formats_[id] = code;
          } else {
            std::uint8_t n;
            std::string bytes;
            if (data.u8(&n) && data.text(n, &bytes)) bytesFormats.emplace_back(id, bytes);
          }
          continue;
        }
        case kBoundSheet:
          if (d.size() >= 6 && p[5] != 6)
            sheets_.push_back(le32(p));  // 6: a macro module, no sheet
          continue;
        case kSst:
          if (!readSharedStrings(std::move(d), &records, error)) return false;
          continue;
        default:
          continue;
      }
      break;  // EOF
    }
    for (auto& [id, bytes] : bytesFormats) formats_[id] = codePage_.toUtf8(bytes);
    globalsEnd_ = records.pos();
    if (sheets_.empty()) {
      *error = "工作簿中没有工作表"_t;
      return false;
    }
    return true;
  }

  // The shared-string table: strings one after the other, running on
  // through CONTINUE records; the declared counts are not trusted. A string
  // cut short ends the table (cells naming later strings read empty).
  bool readSharedStrings(std::vector<std::uint8_t> d, RecordReader* records, Text* error) {
    RecordData data(std::move(d), records);
    if (!data.skip(8)) return true;
    while (data.more()) {
      std::string t;
      if (!readString(&data, &t)) break;
      shared_ += t;
      if (sharedEnds_.size() >= kMaxSharedStrings || shared_.size() > kMaxSharedBytes) {
        *error = "工作簿的共享字符串超过上限（2097152 个或 48 MB），无法读取"_t;
        return false;
      }
      sharedEnds_.push_back(static_cast<std::uint32_t>(shared_.size()));
    }
    return true;
  }

  File file_;
  Stream stream_;
  bool biff8_ = true;
  bool date1904_ = false;
  CodePage codePage_;
  std::vector<std::uint16_t> xfFormats_;  // the number format of each cell style
  std::map<int, std::string> formats_;    // declared number formats (UTF-8)
  FormatCache parsed_;                    // the formats in use, parsed
  std::vector<std::uint64_t> sheets_;     // where each sheet's records start
  std::uint64_t globalsEnd_ = 0;
  std::string shared_;  // the shared strings (UTF-8), one after the other
  std::vector<std::uint32_t> sharedEnds_;
  Text partial_;  // why the last sheet read was read only in part
};

}  // namespace

std::unique_ptr<SheetSource> openXls(const std::string& path, Text* error) {
  auto source = std::make_unique<XlsSource>();
  if (!source->open(path, error)) return nullptr;
  return source;
}

}  // namespace spreadsheet::detail
