#include "package/package_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define XXH_STATIC_LINKING_ONLY  // the streaming state as a plain object
#include <xxhash.h>
#if defined(__x86_64__)
// The library's entry that picks the widest vector unit the processor has (AVX2 where there is
// one) at run time; the digest is the same on every path.
#define XXH_DISPATCH_DISABLE_REPLACE
#include <xxh_x86dispatch.h>
#endif

#include "base/large_pages.h"
#include "base/stage_error.h"
#include "base/text.h"

namespace ostrel {
namespace {

constexpr std::size_t kFieldCount = 11;  // the keyword and fields 1 to 10

// Upper-cases a keyword into a small buffer; keywords longer than any known one never match.
std::string_view UpperKeyword(std::string_view word, std::array<char, 16>& buf) {
  if (word.size() > buf.size()) return {};
  for (std::size_t i = 0; i < word.size(); ++i) {
    const char c = word[i];
    buf[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return {buf.data(), word.size()};
}

// A record keyword of up to 7 bytes as one number: its bytes, first lowest, with its length in
// the top byte, so that a keyword compares as a whole in one step and "CBP" never equals "CBP"
// followed by a zero byte.
consteval std::uint64_t KeywordCode(std::string_view upper) {
  std::uint64_t code = static_cast<std::uint64_t>(upper.size()) << 56;
  for (std::size_t i = 0; i < upper.size(); ++i) {
    code |= static_cast<std::uint64_t>(static_cast<unsigned char>(upper[i])) << (8 * i);
  }
  return code;
}

// The `size` (at most 8) bytes at `p` as one number, first byte lowest, in at most two loads
// that stay within them; the bytes both loads hold are the same, so or-ing them is exact. (A
// copy of a varying length into a number on the stack would be written piecewise and then read
// whole, and that read waits until the pieces have reached memory.)
std::uint64_t ShortWord(const char* p, std::size_t size) {
  if (size >= 4) {
    std::uint32_t first = 0, last = 0;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + size - 4, 4);
    return first | static_cast<std::uint64_t>(last) << (8 * (size - 4));
  }
  if (size >= 2) {
    std::uint16_t first = 0, last = 0;
    std::memcpy(&first, p, 2);
    std::memcpy(&last, p + size - 2, 2);
    return first | static_cast<std::uint64_t>(last) << (8 * (size - 2));
  }
  return size == 1 ? static_cast<unsigned char>(p[0]) : 0;
}

// KeywordCode of `word` upper-cased; 0 (no keyword's) for a word of more than 7 bytes. The
// letters are upper-cased eight bytes at a time: a byte from 'a' to 'z' loses 0x20, any other
// byte, including those of 0x80 and above, stays.
std::uint64_t UpperKeywordCode(std::string_view word) {
  if (word.size() > 7) return 0;
  const std::uint64_t bytes = ShortWord(word.data(), word.size());
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  const std::uint64_t low = bytes & (0x7F * kOnes);
  const std::uint64_t from_a = low + (0x80 - 'a') * kOnes;       // high bit: byte >= 'a'
  const std::uint64_t above_z = low + (0x80 - 'z' - 1) * kOnes;  // high bit: byte > 'z'
  const std::uint64_t lower = from_a & ~above_z & ~bytes & (0x80 * kOnes);
  return (bytes ^ (lower >> 2)) | static_cast<std::uint64_t>(word.size()) << 56;
}

// The first record of each name in a list of records with a `Name`, found by hashing: open
// addressing over record indices, so the names are not copied and a later record of the same
// name never replaces the first. Records are entered into the table when a look-up needs them,
// all those added since in their order: a file that lists its pads before their fingers and
// wire bonds fills the table once, sized for all of them.
template <typename Records>
class FirstByName {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  explicit FirstByName(const Records& records) : records_(records) {}

  // Index of the first record named `name`, or kNone. Lines that name the records in their
  // own order (fingers and wire bonds listed pad by pad) are found at the record after the
  // one found last, without a look into the table.
  std::size_t Find(std::string_view name) {
    if (entered_ < records_.size()) EnterNew();
    const std::size_t next = last_found_ + 1;
    if (next < first_.size() && first_[next] && records_[next].Name == name) {
      last_found_ = next;
      return next;
    }
    if (slots_.empty()) return kNone;
    const std::uint32_t hash = Hash(name);
    if (!Marked(hash)) return kNone;
    for (std::size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      const Slot& slot = slots_[i];
      if (slot.index_plus_one == 0) return kNone;
      if (slot.hash == hash && records_[slot.index_plus_one - 1].Name == name) {
        last_found_ = slot.index_plus_one - 1;
        return last_found_;
      }
    }
  }

 private:
  struct Slot {
    std::uint32_t hash = 0;
    std::uint32_t index_plus_one = 0;  // 0: empty
  };

  static std::uint32_t Hash(std::string_view name) {
    const std::size_t h = std::hash<std::string_view>{}(name);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
  }
  std::size_t Mask() const { return slots_.size() - 1; }

  // The mark of a hash: one of four bits a slot, so that at most three in sixteen are set (the
  // table is at most three quarters full), and the marks of 100,000 names stay in the cache
  // where their table does not. A name whose mark is clear is in no record: most look-ups that
  // miss (a stacked-die pad's name is looked for among the base die's pads first) never touch
  // the table.
  std::size_t MarkOf(std::uint32_t hash) const { return hash & (4 * slots_.size() - 1); }
  void Mark(std::uint32_t hash) {
    const std::size_t bit = MarkOf(hash);
    marks_[bit / 64] |= std::uint64_t{1} << (bit % 64);
  }
  bool Marked(std::uint32_t hash) const {
    const std::size_t bit = MarkOf(hash);
    return (marks_[bit / 64] >> (bit % 64) & 1) != 0;
  }

  // Enters the records added since the last look-up, in their order. The table stays at most
  // three quarters full: small, so that it stays in the cache. Its slots are met in no order,
  // so the slot of the record some places ahead is fetched while one is entered.
  void EnterNew() {
    const std::size_t count = records_.size();
    std::size_t size = slots_.empty() ? 64 : slots_.size();
    while (size * 3 < 4 * count) size *= 2;
    if (size > slots_.size()) Grow(size);
    first_.resize(count, false);
    constexpr std::size_t kAhead = 16;
    std::array<std::uint32_t, kAhead> hashes{};
    for (std::size_t k = entered_; k < count && k < entered_ + kAhead; ++k) {
      hashes[k % kAhead] = Hash(records_[k].Name);
      __builtin_prefetch(&slots_[hashes[k % kAhead] & Mask()]);
    }
    for (std::size_t k = entered_; k < count; ++k) {
      const std::uint32_t hash = hashes[k % kAhead];
      if (k + kAhead < count) {
        hashes[k % kAhead] = Hash(records_[k + kAhead].Name);
        __builtin_prefetch(&slots_[hashes[k % kAhead] & Mask()]);
      }
      Enter(hash, k);
    }
    entered_ = count;
  }

  // Enters record `index` unless an earlier record has its name.
  void Enter(std::uint32_t hash, std::size_t index) {
    const std::string& name = records_[index].Name;
    for (std::size_t i = hash & Mask();; i = (i + 1) & Mask()) {
      Slot& slot = slots_[i];
      if (slot.index_plus_one == 0) {
        slot = {hash, static_cast<std::uint32_t>(index + 1)};
        Mark(hash);
        first_[index] = true;
        return;
      }
      if (slot.hash == hash && records_[slot.index_plus_one - 1].Name == name) return;
    }
  }

  void Grow(std::size_t size) {
    LargePageVector<Slot> old(size);
    old.swap(slots_);
    marks_.assign(4 * size / 64, 0);
    for (const Slot& slot : old) {
      if (slot.index_plus_one == 0) continue;
      std::size_t i = slot.hash & Mask();
      while (slots_[i].index_plus_one != 0) i = (i + 1) & Mask();
      slots_[i] = slot;
      Mark(slot.hash);
    }
  }

  const Records& records_;
  LargePageVector<Slot> slots_;       // a power of two in size
  std::vector<std::uint64_t> marks_;  // the marks of the names entered, 64 a word
  std::size_t entered_ = 0;           // records entered into the table
  std::vector<bool> first_;           // record i is the first of its name
  std::size_t last_found_ = kNone;    // kNone + 1 wraps round to record 0
};

// Bit i of the result is set when byte i of the `len` bytes at `p` (at most 64) is a blank or
// a tab; the bits from `len` on are set too, as if blanks followed.
std::uint64_t SeparatorBits(const char* p, std::size_t len) {
  std::uint64_t bits = len < 64 ? ~std::uint64_t{0} << len : 0;
#if defined(__SSE2__)
  const __m128i blanks = _mm_set1_epi8(' ');
  const __m128i tabs = _mm_set1_epi8('\t');
  auto mask16 = [&](std::size_t at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i found = _mm_or_si128(_mm_cmpeq_epi8(bytes, blanks), _mm_cmpeq_epi8(bytes, tabs));
    return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(found)));
  };
  if (len >= 16) {
    std::size_t i = 0;
    for (; i + 16 <= len; i += 16) bits |= mask16(i) << i;
    // The last bytes as the last 16 of the piece: those seen already give the same bits.
    if (i < len) bits |= mask16(len - 16) << (len - 16);
    return bits;
  }
#endif
  for (std::size_t i = 0; i < len; ++i) {
    if (p[i] == ' ' || p[i] == '\t') bits |= std::uint64_t{1} << i;
  }
  return bits;
}

// Splits a package line into the keyword and fields 1 to 10 at runs of blanks and tabs;
// fields past the tenth are dropped, missing ones are empty. The line is looked at 64 bytes at
// a time as a mask of its blanks and tabs; field starts and ends alternate along the mask, so
// each field is one start and the end after it.
void SplitPackageLine(std::string_view line, std::array<std::string_view, kFieldCount>& f) {
  std::size_t count = 0;
  const char* const text = line.data();
  const std::size_t size = line.size();
  bool previous_is_separator = true;  // before the line
  std::size_t field_start = 0;        // of a field still open at the end of a block
  for (std::size_t block = 0; block < size && count < kFieldCount; block += 64) {
    const std::size_t len = std::min<std::size_t>(64, size - block);
    const std::uint64_t separators = SeparatorBits(text + block, len);
    const std::uint64_t before = (separators << 1) | (previous_is_separator ? 1 : 0);
    // Field starts: a byte that is none after one that is; field ends: the reverse.
    std::uint64_t starts = ~separators & before;
    std::uint64_t ends = separators & ~before;
    if (len < 64) ends &= (std::uint64_t{2} << len) - 1;  // the line's end closes a field once
    if (!previous_is_separator && ends != 0) {            // the field open from the block before
      f[count++] =
          std::string_view(text + field_start,
                           block + static_cast<std::size_t>(std::countr_zero(ends)) - field_start);
      ends &= ends - 1;
    }
    while (starts != 0 && count < kFieldCount) {
      const std::size_t at = block + static_cast<std::size_t>(std::countr_zero(starts));
      starts &= starts - 1;
      if (ends == 0) {  // runs on into the next block
        field_start = at;
        break;
      }
      const std::size_t end = block + static_cast<std::size_t>(std::countr_zero(ends));
      ends &= ends - 1;
      f[count++] = std::string_view(text + at, end - at);
    }
    previous_is_separator = (separators >> 63) != 0;
  }
  // A field running to the end of a line whose length is a multiple of 64.
  if (count < kFieldCount && !previous_is_separator && size > 0 && size % 64 == 0) {
    f[count++] = std::string_view(text + field_start, size - field_start);
  }
  for (; count < kFieldCount; ++count) f[count] = {};
}

// Where the blanks and tabs, the line feeds and the carriage returns of the 64 bytes at `p`
// stand: bit i for byte i.
struct ByteClasses {
  std::uint64_t separators = 0, line_feeds = 0, returns = 0;
};

ByteClasses ClassifyBlock(const char* p) {
  ByteClasses c;
#if defined(__SSE2__)
  const __m128i blanks = _mm_set1_epi8(' ');
  const __m128i tabs = _mm_set1_epi8('\t');
  const __m128i feeds = _mm_set1_epi8('\n');
  const __m128i returns = _mm_set1_epi8('\r');
  auto bits = [](__m128i found, int at) {
    return static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(found))) << at;
  };
  for (int at = 0; at < 64; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    c.separators |=
        bits(_mm_or_si128(_mm_cmpeq_epi8(bytes, blanks), _mm_cmpeq_epi8(bytes, tabs)), at);
    c.line_feeds |= bits(_mm_cmpeq_epi8(bytes, feeds), at);
    c.returns |= bits(_mm_cmpeq_epi8(bytes, returns), at);
  }
#else
  for (int i = 0; i < 64; ++i) {
    const std::uint64_t bit = std::uint64_t{1} << i;
    if (p[i] == ' ' || p[i] == '\t') c.separators |= bit;
    if (p[i] == '\n') c.line_feeds |= bit;
    if (p[i] == '\r') c.returns |= bit;
  }
#endif
  return c;
}

// SplitPackageLine for a line of `size` (below 64) bytes at `text` whose blanks and tabs are the
// bits of `separators` below `size`: the bytes from `size` on count as blanks.
void SplitShortLine(const char* text, std::size_t size, std::uint64_t separators,
                    std::array<std::string_view, kFieldCount>& f) {
  separators |= ~std::uint64_t{0} << size;
  const std::uint64_t before = (separators << 1) | 1;
  std::uint64_t starts = ~separators & before;  // a byte that is none after one that is
  std::uint64_t ends = separators & ~before;    // the reverse; one after each start
  std::size_t count = 0;
  for (; starts != 0 && count < kFieldCount; ++count) {
    const auto at = static_cast<std::size_t>(std::countr_zero(starts));
    const auto end = static_cast<std::size_t>(std::countr_zero(ends));
    starts &= starts - 1;
    ends &= ends - 1;
    f[count] = std::string_view(text + at, end - at);
  }
  for (; count < kFieldCount; ++count) f[count] = {};
}

// How many records of each kind a package text holds at most (lines are counted by their
// keyword, section or not), so that the lists are sized once instead of growing by copies.
struct RecordCounts {
  std::size_t chip = 0, stack = 0, stitches = 0, left = 0, bottom = 0, right = 0, top = 0;
};

RecordCounts CountRecords(std::string_view text) {
  RecordCounts counts;
  LineReader lines(text);
  std::string_view line;
  std::array<std::string_view, kFieldCount> f;
  while (lines.Next(line)) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i + 3 > line.size()) continue;
    const char c = static_cast<char>(line[i] & ~0x20);  // upper-cased for a letter
    if (c != 'C' && c != 'S') continue;
    std::size_t end = i;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    std::array<char, 16> buf{};
    const std::string_view keyword = UpperKeyword(line.substr(i, end - i), buf);
    if (keyword == "SD_CBP") {
      ++counts.stack;
    } else if (keyword == "STCH") {
      ++counts.stitches;
    } else if (keyword == "CBP") {
      ++counts.chip;
      SplitPackageLine(line, f);  // for the side letter
      if (f[8].size() != 1) continue;
      switch (f[8][0] & ~0x20) {
        case 'L':
          ++counts.left;
          break;
        case 'B':
          ++counts.bottom;
          break;
        case 'R':
          ++counts.right;
          break;
        case 'T':
          ++counts.top;
          break;
        default:
          break;
      }
    }
  }
  return counts;
}

// Room for the records of a file of `file_bytes` whose first piece of lines is `piece`, the
// same for every list, since a line holds at most one record: the piece's lines scaled to the
// whole file, and half as many again. Room beyond what is used costs address space only (it is
// never written); a file whose later lines are shorter than its first grows its lists as it
// goes. At most a quarter gigabyte of pads is asked for ahead.
RecordCounts RoomFor(std::string_view piece, std::size_t file_bytes) {
  const auto lines = static_cast<double>(std::count(piece.begin(), piece.end(), '\n') + 1);
  const double scale =
      piece.empty()
          ? 1.0
          : std::max(1.0, static_cast<double>(file_bytes) / static_cast<double>(piece.size()));
  const double most = static_cast<double>(std::size_t{1} << 28) / sizeof(BondPad);
  const auto n = static_cast<std::size_t>(std::min(most, 1.5 * lines * scale));
  return {n, n, n, n, n, n, n};
}

class PackageParser {
 public:
  PackageParser(Package& package, const std::string& file) : pkg_(package), file_(file) {}

  // Sizes the lists for the records to come (a list with room enough keeps it).
  void Reserve(const RecordCounts& counts) {
    pkg_.ChipPads.reserve(counts.chip);
    pkg_.StackPads.reserve(counts.stack);
    pkg_.Stitches.reserve(counts.stitches);
    pkg_.LeftPads.reserve(counts.left);
    pkg_.BottomPads.reserve(counts.bottom);
    pkg_.RightPads.reserve(counts.right);
    pkg_.TopPads.reserve(counts.top);
  }

  // Reads the lines of `text`, which continue the lines read so far (the text before ends at
  // a line feed), as LineReader hands them out. A line shorter than 64 bytes, ended by a line
  // feed with at most a carriage return just before it, is found and split in one look at its
  // 64 bytes (while 64 bytes of the text are left); any other line goes through LineReader's
  // rules and SplitPackageLine.
  void Run(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    int lines = 0;
    while (p != end) {
      ++lines;
      if (end - p >= 64) {
        const ByteClasses c = ClassifyBlock(p);
        if (c.line_feeds != 0) {
          const auto feed = static_cast<std::size_t>(std::countr_zero(c.line_feeds));
          const std::uint64_t returns = c.returns & ((std::uint64_t{1} << feed) - 1);
          if (returns == 0 || returns == std::uint64_t{1} << (feed - 1)) {
            const std::size_t size = returns == 0 ? feed : feed - 1;
            const char* const line = p;
            p += feed + 1;
            if (size == 0) continue;
            line_ = lines_before_ + lines;
            SplitShortLine(line, size, c.separators, f_);
            Dispatch();
            continue;
          }
        }
      }
      const void* feed = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
      const char* const line_end = feed != nullptr ? static_cast<const char*>(feed) : end;
      std::string_view line;
      LineReader reader(std::string_view(p, static_cast<std::size_t>(line_end - p)));
      p = feed != nullptr ? line_end + 1 : end;
      if (!reader.Next(line) || line.empty()) continue;
      line_ = lines_before_ + lines;
      SplitPackageLine(line, f_);
      Dispatch();
    }
    lines_before_ += lines;
  }

 private:
  // Takes the line split into f_.
  void Dispatch() {
    if (header_) {
      std::array<char, 16> buf{};
      header_ = !Header(UpperKeyword(f_[0], buf));
    } else {
      Record(UpperKeywordCode(f_[0]));
    }
  }

  float Num(std::size_t i) const { return ParseNumber(f_[i]); }
  std::string Str(std::size_t i) const { return std::string(f_[i]); }

  float Strict(std::size_t i, const char* what) const {
    float value = 0;
    if (f_[i].empty()) {
      throw StageError(std::string(what) + " field " + std::to_string(i) + " is missing; " +
                           (std::string(what) == "DAP"
                                ? "a DAP line needs a name and five numbers"
                                : "an SRSEG line needs a ring name, a net and two numbers"),
                       file_, line_);
    }
    if (!ParseStrictNumber(f_[i], value)) {
      throw StageError(std::string(what) + " field " + std::to_string(i) + " ('" + Str(i) +
                           "') is not a number within the single range; write it as digits "
                           "with '.' as the decimal point, e.g. 12.5",
                       file_, line_);
    }
    return value;
  }

  // Returns true when the line ends the header section.
  bool Header(std::string_view k) {
    if (k == "TECHNOLOGY") {
      pkg_.Technology = UpperAscii(f_[1]);
    } else if (k == "SD_TECHNOLOGY") {
      pkg_.SdTechnology = UpperAscii(f_[1]);
    } else if (k == "SD_ROTATION") {
      pkg_.SdRotation = Num(1);
    } else if (k == "SD_XOFFSET") {
      pkg_.SdXOffset = Num(1);
    } else if (k == "SD_YOFFSET") {
      pkg_.SdYOffset = -Num(1);
    } else if (k == "COMPL") {
      pkg_.CompL = Num(1);
    } else if (k == "SD_COMPL") {
      pkg_.SdCompL = Num(1);
    } else if (k == "COMPW") {
      pkg_.CompW = Num(1);
    } else if (k == "SD_COMPW") {
      pkg_.SdCompW = Num(1);
    } else if (k == "SD_COMPZ") {
      pkg_.SdCompZ = Num(1);
    } else if (k == "COMPZ") {
      const float z = Num(1);
      pkg_.CompZ = z == 0.0f ? 1.0f : z;
      return true;
    }
    return false;
  }

  void Record(std::uint64_t k) {
    if (k == KeywordCode("CBP")) {
      BondPad& pad = Pad(pkg_.ChipPads.emplace_back());
      const bool along_x = f_[8] == "T" || f_[8] == "B";
      pad.Width = along_x ? Num(5) : Num(6);
      pad.Length = along_x ? Num(6) : Num(5);
      // The side letter in either case ('l' & ~0x20 is 'L'; no other byte gives a letter).
      const char side = f_[8].size() == 1 ? static_cast<char>(f_[8][0] & ~0x20) : '\0';
      SideList* side_list = side == 'L'   ? &pkg_.LeftPads
                            : side == 'B' ? &pkg_.BottomPads
                            : side == 'R' ? &pkg_.RightPads
                            : side == 'T' ? &pkg_.TopPads
                                          : nullptr;
      if (side_list != nullptr) side_list->push_back(pkg_.ChipPads.size() - 1);
    } else if (k == KeywordCode("SD_CBP")) {
      BondPad& pad = Pad(pkg_.StackPads.emplace_back());
      pad.Width = Num(5);
      pad.Length = Num(6);
    } else if (k == KeywordCode("SBP")) {
      if (BondPad* pad = FindPad(f_[1])) {
        pad->FingerX = Num(2);
        pad->FingerY = Num(3);
        pad->FingerLength = Num(5);
        pad->FingerWidth = Num(6);
        pad->FingerValue = Num(7);
        pad->FingerExtra = Str(8);
        pad->FingerZ = 0;
      }
    } else if (k == KeywordCode("WB")) {
      if (BondPad* pad = FindPad(f_[1])) {
        pad->BondX1 = Num(2);
        pad->BondY1 = Num(3);
        pad->BondX2 = Num(5);
        pad->BondY2 = Num(6);
        pad->BondZ1 = Num(7);
        pad->BondZ2 = Num(8);
        pad->BondLine = line_;
      }
    } else if (k == KeywordCode("STCH")) {
      Stitch s;
      s.Pad1 = Str(1);
      s.X1 = Num(2);
      s.Y1 = Num(3);
      s.Pad2 = Str(4);
      s.X2 = Num(5);
      s.Y2 = Num(6);
      s.Z1 = Num(7);
      s.Z2 = Num(8);
      s.Line = line_;
      pkg_.Stitches.push_back(std::move(s));
    } else if (k == KeywordCode("RING")) {
      Ring r;
      r.Net = Str(2);
      r.X1 = Num(3);
      r.Y1 = Num(4);
      r.X2 = Num(5);
      r.Y2 = Num(6);
      r.Value7 = Num(7);
      r.Value8 = Num(8);
      pkg_.Rings.push_back(std::move(r));
    } else if (k == KeywordCode("SRING")) {
      SegRing r;
      r.Name = Str(1);
      r.Net = Str(2);
      r.X1 = Num(3);
      r.Y1 = Num(4);
      r.X2 = Num(5);
      r.Y2 = Num(6);
      r.Value7 = Num(7);
      r.Value8 = Num(8);
      pkg_.SegRings.push_back(std::move(r));
    } else if (k == KeywordCode("SRSEG")) {
      const std::size_t ring = ring_index_.Find(f_[1]);
      if (ring == FirstByName<std::vector<SegRing>>::kNone) return;
      RingSegment seg;
      seg.Net = Str(2);
      seg.A = Strict(3, "SRSEG");
      seg.B = Strict(4, "SRSEG");
      pkg_.SegRings[ring].Segments.push_back(std::move(seg));
    } else if (k == KeywordCode("DAP")) {
      AttachPad dap;
      dap.Name = Str(1);
      dap.V1 = Strict(2, "DAP");
      dap.V2 = Strict(3, "DAP");
      dap.V3 = Strict(4, "DAP");
      dap.V4 = Strict(5, "DAP");
      dap.V5 = Strict(6, "DAP");
      pkg_.AttachPads.push_back(std::move(dap));
    }
  }

  // Fills the fields shared by CBP and SD_CBP lines into a new pad; sizes are set by the
  // caller.
  BondPad& Pad(BondPad& pad) const {
    pad.Name = f_[1];
    pad.X = Num(2);
    pad.Y = Num(3);
    pad.Z = pkg_.CompZ;
    pad.Side = f_[8];
    pad.Extra = f_[9];
    pad.PadLine = line_;
    return pad;
  }

  BondPad* FindPad(std::string_view name) {
    if (const std::size_t i = chip_index_.Find(name); i != FirstByName<PadList>::kNone) {
      return &pkg_.ChipPads[i];
    }
    if (const std::size_t i = stack_index_.Find(name); i != FirstByName<PadList>::kNone) {
      return &pkg_.StackPads[i];
    }
    return nullptr;
  }

  Package& pkg_;
  const std::string& file_;
  int line_ = 0;
  int lines_before_ = 0;  // lines of the text pieces read before
  bool header_ = true;    // still in the header section
  std::array<std::string_view, kFieldCount> f_{};
  // First record of each name, by index, so that a later record of the same name never wins.
  FirstByName<PadList> chip_index_{pkg_.ChipPads}, stack_index_{pkg_.StackPads};
  FirstByName<std::vector<SegRing>> ring_index_{pkg_.SegRings};
};

// An open package file, closed when it goes.
class OpenFile {
 public:
  explicit OpenFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw StageError("cannot open " + path + ": " + std::strerror(errno));
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() { ::close(fd_); }

  // The length of the file as it is now (0 when it cannot tell, as for a pipe).
  std::size_t Size() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 && info.st_size > 0 ? static_cast<std::size_t>(info.st_size)
                                                        : 0;
  }

  // One read of up to `bytes` into `into`, from offset `at`; 0 at the end of the file.
  std::size_t Read(std::size_t at, char* into, std::size_t bytes) const {
    while (true) {
      const ssize_t n = ::pread(fd_, into, bytes, static_cast<off_t>(at));
      if (n >= 0) return static_cast<std::size_t>(n);
      if (errno != EINTR) throw StageError("cannot read " + path_ + ": " + std::strerror(errno));
    }
  }

 private:
  const std::string& path_;
  int fd_ = -1;
};

// Hands `consume` the bytes of `file` in pieces of whole lines: each piece ends at a line
// feed, the last at the end of the file. The pieces pass through one buffer of 64 KB however
// large the file (it doubles only for a longer line), so the file is never held whole, and the
// buffer stays below the size the heap serves from fresh pages. Returns the digest of all the
// bytes read.
template <typename Consume>
ContentDigest ForEachPieceOfLines(const OpenFile& file, Consume&& consume) {
  std::size_t size = std::size_t{1} << 16;
  std::unique_ptr<char[]> buf(new char[size]);  // written by the reads before it is read
  XXH3_state_t digest;
  XXH3_128bits_reset(&digest);
  std::size_t at = 0;    // bytes of the file read so far
  std::size_t kept = 0;  // start of a line not yet complete, moved to the front
  while (true) {
    if (kept == size) {
      std::unique_ptr<char[]> larger(new char[2 * size]);
      std::memcpy(larger.get(), buf.get(), kept);
      buf = std::move(larger);
      size *= 2;
    }
    const std::size_t got = file.Read(at, buf.get() + kept, size - kept);
#if defined(__x86_64__)
    XXH3_128bits_update_dispatch(&digest, buf.get() + kept, got);
#else
    XXH3_128bits_update(&digest, buf.get() + kept, got);
#endif
    at += got;
    const std::size_t have = kept + got;
    if (got == 0) {
      if (have > 0) consume(std::string_view(buf.get(), have));
      break;
    }
    const void* last_lf = ::memrchr(buf.get() + kept, '\n', got);
    if (last_lf == nullptr) {
      kept = have;
      continue;
    }
    const auto piece = static_cast<std::size_t>(static_cast<const char*>(last_lf) - buf.get()) + 1;
    consume(std::string_view(buf.get(), piece));
    kept = have - piece;
    std::memmove(buf.get(), buf.get() + piece, kept);
  }
  const XXH128_hash_t hash = XXH3_128bits_digest(&digest);
  return {hash.low64, hash.high64};
}

}  // namespace

void ParsePackage(std::string_view text, Package& package, const std::string& file) {
  package.SourceFile = file;
  std::string scratch;
  text = AsLineText(text, scratch);
  PackageParser parser(package, file);
  parser.Reserve(CountRecords(text));
  parser.Run(text);
}

ContentDigest ReadPackageFile(const std::string& path, Package& package) {
  package.SourceFile = path;
  const OpenFile file(path);
  PackageParser parser(package, path);
  // The file is read once. Its first piece sizes the lists (see RoomFor); lists that kept their
  // room from an earlier read are not sized again.
  bool sized = package.ChipPads.capacity() != 0 || package.StackPads.capacity() != 0;
  const std::size_t file_bytes = file.Size();
  bool first = true;
  std::string scratch;
  return ForEachPieceOfLines(file, [&](std::string_view piece) {
    // Every piece but the last ends at a line feed, so a first piece without one is the whole
    // file, and AsLineText sees what it would see of the whole file.
    if (first) piece = AsLineText(piece, scratch);
    first = false;
    if (!sized) {
      parser.Reserve(RoomFor(piece, file_bytes));
      sized = true;
    }
    parser.Run(piece);
  });
}

ContentDigest FileDigest(const std::string& path) {
  const OpenFile file(path);
  return ForEachPieceOfLines(file, [](std::string_view) {});
}

}  // namespace ostrel
