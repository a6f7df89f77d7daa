#include "Util.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <queue>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ProgramStructure.h"
#include "mem/mem.h"

namespace {

int systemClock(struct timeval *tv) { return gettimeofday(tv, nullptr); }

bool optionIs(const char *arg, char lower) {
  return arg[0] == '-' && arg[1] != '\0' &&
         (arg[1] == lower || arg[1] == lower - ('a' - 'A'));
}

void coorUsage() { Util::printCoorUsage(); }
void nodeUsage() { Util::printNodeUsage(); }

// The value of the option at argv[i]; an option with nothing after it ends
// the process with the usage text and status 2.
const char *optionValue(int argc, char **argv, int i, void (*usage)()) {
  if (i + 1 >= argc) {
    usage();
    util_exit(2);
  }
  return argv[i + 1];
}

}  // namespace

void Util::printCoorUsage() {
  std::cout << "Usage:" << std::endl;
  std::cout << "    kelvax -p (port no.) -n (number of synthesis nodes)" << std::endl;
}

void Util::printNodeUsage() {
  std::cout << "Usage:" << std::endl;
  std::cout << "morlet -i (server IP address) -p (server port) -n (process number) -a "
               "(action number)\n\n"
            << std::endl;
}

int (*Util::clockSource)(struct timeval *tv) = systemClock;

Util::Util()
    : mintermsAsMDD(nullptr),
      mintermsAsSet(),
      timerNow{0, 0},
      timerStartSec(0),
      timerStopSec(0),
      timerStartUSec(0),
      timerStopUSec(0),
      synSec(0),
      comSec(0),
      synUSec(0),
      comUSec(0) {}

int Util::parseCoorCmdLine(int argc, char **argv, int *portNumber, int *numberOfNodes) {
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (optionIs(arg, 'p')) {
      *portNumber = atoi(optionValue(argc, argv, i, coorUsage));
    } else if (optionIs(arg, 'n')) {
      *numberOfNodes = atoi(optionValue(argc, argv, i, coorUsage));
    } else if (optionIs(arg, 'h')) {
      coorUsage();
      util_exit(0);
    }
  }
  return 0;
}

int Util::parseNodeCmdLine(int argc, char **argv, char **serverAddress, int *serverPort,
                           int *processNumber, int *actionNumber) {
  for (int i = 1; i < argc; i++) {
    const char *arg = argv[i];
    if (optionIs(arg, 'i')) {
      *serverAddress = const_cast<char *>(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'p')) {
      *serverPort = atoi(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'n')) {
      *processNumber = atoi(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'a')) {
      *actionNumber = atoi(optionValue(argc, argv, i, nodeUsage));
    } else if (optionIs(arg, 'h')) {
      nodeUsage();
      util_exit(0);
    }
  }
  return 0;
}

// A clock that cannot be read ends the process; the status says it failed.
void Util::readClock() {
  if (clockSource(&timerNow) == -1) {
    std::cout << "The operating system does not support getting time zone information!"
              << std::endl;
    util_exit(1);
  }
}

void Util::initTimer() {
  synSec = 0;
  comSec = 0;
  synUSec = 0;
  comUSec = 0;
}

void Util::startTimer() {
  readClock();
  timerStartSec = (int)timerNow.tv_sec;
  timerStartUSec = (int)timerNow.tv_usec;
}

// Reads the clock as the interval's stop and adds stop - start to the
// totals, borrowing a second when the stop's microseconds are smaller than
// the start's.
void Util::pauseInto(int *sec, int *usec) {
  readClock();
  timerStopSec = (int)timerNow.tv_sec;
  timerStopUSec = (int)timerNow.tv_usec;
  if (timerStopUSec < timerStartUSec) {
    *sec += timerStopSec - timerStartSec - 1;
    *usec += timerStopUSec + 1000000 - timerStartUSec;
  } else {
    *sec += timerStopSec - timerStartSec;
    *usec += timerStopUSec - timerStartUSec;
  }
}

void Util::pauseSynTimer() { pauseInto(&synSec, &synUSec); }

void Util::pauseComTimer() { pauseInto(&comSec, &comUSec); }

int Util::getTotalSynTimeInSec() { return synSec; }
int Util::getTotalComTimeInSec() { return comSec; }
int Util::getTotalSynTimeInMSec() { return synUSec; }
int Util::getTotalComTimeInMSec() { return comUSec; }

// ===========================================================================
// Text form
// ===========================================================================

namespace {

// Prints the line, flushes standard output and ends the process with 1.
[[noreturn]] void fatalLine(const std::string &line) {
  std::cout << line << std::endl;
  util_exit(1);
}

constexpr const char kFinished[] = "Finished calcualting the MDD from the given string!";

// ---- Writer ---------------------------------------------------------------------

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr bool kBigEndian = true;
#else
constexpr bool kBigEndian = false;
#endif

// The eight hex digits of x as characters, the most significant first in
// memory: each nibble spread into its own byte, then '0'..'9' or 'a'..'f'.
inline uint64_t hexChars8(uint32_t x) {
  uint64_t v = x;
  v = (v | v << 16) & 0x0000FFFF0000FFFFull;
  v = (v | v << 8) & 0x00FF00FF00FF00FFull;
  v = (v | v << 4) & 0x0F0F0F0F0F0F0F0Full;  // byte i = nibble i
  uint64_t letters = ((v + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
  v += 0x3030303030303030ull + letters * ('a' - '0' - 10);
  return kBigEndian ? v : __builtin_bswap64(v);
}

// w without its first k characters in memory order, zeros after the rest.
inline uint64_t dropLeading(uint64_t w, int k) { return kBigEndian ? w << (8 * k) : w >> (8 * k); }

// A node token: the reference printed as an untyped pointer, "0x" and
// lowercase hex digits without leading zeros. Writes up to 8 bytes past the
// token, which later output overwrites. The digits of the high half, which
// the references of one diagram mostly share, are kept from the last token.
struct TokenWriter {
  uint64_t high = 0;       // the high half last written, or none
  uint64_t highChars = 0;  // its digits, without leading zeros
  int highDigits = -1;

  char *put(char *p, uint64_t ref) {
    p[0] = '0';
    p[1] = 'x';
    uint64_t low = hexChars8((uint32_t)ref);
    if ((ref >> 32) == 0) {
      int n = ref == 0 ? 1 : (67 - __builtin_clzll(ref)) / 4;
      low = dropLeading(low, 8 - n);
      std::memcpy(p + 2, &low, 8);
      return p + 2 + n;
    }
    if ((ref >> 32) != high || highDigits < 0) {
      high = ref >> 32;
      highDigits = (67 - __builtin_clzll(high)) / 4;
      highChars = dropLeading(hexChars8((uint32_t)high), 8 - highDigits);
    }
    std::memcpy(p + 2, &highChars, 8);
    std::memcpy(p + 2 + highDigits, &low, 8);
    return p + 2 + highDigits + 8;
  }
};

inline char *putNumber(char *p, long long v) {
  if (v >= 0 && v < 10) {
    *p = (char)('0' + v);
    return p + 1;
  }
  if (v >= 10 && v < 100) {
    p[0] = (char)('0' + v / 10);
    p[1] = (char)('0' + v % 10);
    return p + 2;
  }
  return std::to_chars(p, p + 24, v).ptr;
}

void appendNumber(std::string *out, long long v) {
  char buf[24];
  out->append(buf, (size_t)(putNumber(buf, v) - buf));
}

inline char *putSpaced(char *p, const char *s) {
  while (*s != 0) *p++ = *s++;
  return p;
}

// The longest line: three tokens of 18 characters, three numbers of up to
// 20 and the separators.
constexpr size_t kMaxLineBytes = 3 * 18 + 3 * 20 + 8;
constexpr long kBatchLines = 256;

// Appends the text of a non-constant f: one line per node reference, breadth
// first from the root, then-child before else-child.
void writeNodeLines(bdd_t *f, std::string *out) {
  bdd_walk *walk = bdd_walk_start(f, 0);
  std::vector<bdd_walk_line> lines((size_t)kBatchLines);
  std::vector<char> buffer((size_t)kBatchLines * kMaxLineBytes + 8);  // tokens write ahead
  TokenWriter tokens;
  long n;
  while ((n = bdd_walk_next(walk, lines.data(), kBatchLines)) > 0) {
    char *p = buffer.data();
    for (long i = 0; i < n; i++) {
      const bdd_walk_line &l = lines[(size_t)i];
      p = tokens.put(p, l.ref);
      p = putSpaced(p, (l.ref & 1) != 0 ? " !" : " ");
      p = putNumber(p, l.var);
      *p++ = ' ';
      for (int side = 0; side < 2; side++) {
        if (l.child_kind[side] >= 0) {
          static const char *const kConst[2][2] = {{" F ", " T "}, {" F \n", " T \n"}};
          p = putSpaced(p, kConst[side][l.child_kind[side]]);
          continue;
        }
        p = tokens.put(p, l.child[side]);
        p = putSpaced(p, (l.child[side] & 1) != 0 ? " !" : " ");
        p = putNumber(p, l.child_var[side]);
        *p++ = side == 0 ? ' ' : '\n';
      }
    }
    size_t bytes = (size_t)(p - buffer.data());
    // Growing four times over copies and first-touches less of the text;
    // a large text takes huge pages where the system offers them.
    if (out->capacity() < out->size() + bytes) {
      // Past 512 KB it goes straight on to a block of huge pages, advised
      // before the text so far is copied into it.
      size_t want = std::max(4 * out->capacity(), out->size() + bytes);
      if (want >= MEM_HUGE_FROM / 4 && want < MEM_HUGE_FROM) want *= 4;
      std::string bigger;
      Util::reserveText(&bigger, want);
      bigger.append(*out);
      out->swap(bigger);
    }
    out->append(buffer.data(), bytes);
  }
  bdd_walk_free(walk);
}

// ---- Scratch arrays -------------------------------------------------------------

// The large arrays of one text: memory comes zeroed (large blocks are fresh
// mappings, marked for huge pages, so a first touch costs a fault per 2 MB
// rather than per page) and elements made without arguments are left as
// they are, so an array costs only the pieces it touches.
template <class T>
struct ScratchAllocator {
  typedef T value_type;

  ScratchAllocator() = default;
  template <class U>
  ScratchAllocator(const ScratchAllocator<U> &) {}

  T *allocate(size_t n) {
    void *p = mem_zeroed((n > 0 ? n : 1) * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return (T *)p;
  }
  void deallocate(T *p, size_t n) { mem_free_zeroed(p, (n > 0 ? n : 1) * sizeof(T)); }
  template <class U>
  void construct(U *p) {
    ::new ((void *)p) U;
  }
  template <class U, class... Args>
  void construct(U *p, Args &&...args) {
    ::new ((void *)p) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const ScratchAllocator<U> &) const { return true; }
  template <class U>
  bool operator!=(const ScratchAllocator<U> &) const { return false; }
};

template <class T>
using Scratch = std::vector<T, ScratchAllocator<T>>;

// ---- Reader ---------------------------------------------------------------------

// Character classes of the reader: the value of a lowercase hex digit, or one
// of the classes below. Blanks separate fields; a NUL is the end of the text
// only where the text ends (std::string keeps one there).
enum : uint8_t { kOtherChar = 16, kFieldSpace, kLineEnd, kNulChar };

struct CharClasses {
  uint8_t of[256];
  constexpr CharClasses() : of() {
    for (int c = 0; c < 256; c++) of[c] = kOtherChar;
    for (int c = '0'; c <= '9'; c++) of[c] = (uint8_t)(c - '0');
    for (int c = 'a'; c <= 'f'; c++) of[c] = (uint8_t)(c - 'a' + 10);
    for (char c : {' ', '\t', '\r', '\v', '\f'}) of[(uint8_t)c] = kFieldSpace;
    of[(uint8_t)'\n'] = kLineEnd;
    of[0] = kNulChar;
  }
};
constexpr CharClasses kChars;

inline uint8_t charClass(const char *q) { return kChars.of[(uint8_t)*q]; }

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Hex digits eight at a time: one byte per character, the first character
// in the lowest byte.
constexpr uint64_t kBytes01 = 0x0101010101010101ull;

// The high bit of every byte b with lo < b < hi (lo, hi < 128).
inline uint64_t bytesBetween(uint64_t x, unsigned lo, unsigned hi) {
  uint64_t low7 = x & (kBytes01 * 0x7f);
  return ((kBytes01 * (127 + hi) - low7) & ~x & (low7 + kBytes01 * (127 - lo))) & (kBytes01 * 0x80);
}

// How many of the eight characters in w, from the first, are lowercase hex
// digits.
inline int hexRun(uint64_t w) {
  uint64_t digit = bytesBetween(w, '0' - 1, '9' + 1) | bytesBetween(w, 'a' - 1, 'f' + 1);
  uint64_t other = ~digit & (kBytes01 * 0x80);
  return other == 0 ? 8 : __builtin_ctzll(other) / 8;
}

// The number written by the first k (1..8) characters of w, all hex digits.
inline uint64_t hexValue(uint64_t w, int k) {
  uint64_t x = (w & (kBytes01 * 0x0f)) + 9 * ((w >> 6) & kBytes01);  // digit values
  x <<= 8 * (8 - k);  // the k digits last, zeros before them
  x = ((x & 0x000F000F000F000Full) << 4) | ((x >> 8) & 0x000F000F000F000Full);
  x = ((x & 0x000000FF000000FFull) << 8) | ((x >> 16) & 0x000000FF000000FFull);
  return ((x & 0xFFFFull) << 16) | ((x >> 32) & 0xFFFFull);
}

inline uint64_t load8(const char *p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
#endif

// A token as a key. Tokens the writer makes ("0x" and 1 to 16 lowercase hex
// digits without leading zeros) stand for a number, and two such tokens are
// equal exactly when their numbers are; they are kept by number. Any other
// token is kept by its characters, as the index of its first spelling.
struct TokenKey {
  uint64_t value;
  bool named;
  bool operator==(const TokenKey &o) const { return value == o.value && named == o.named; }
};

// Token key -> the first line of the token, by open addressing.
class TokenTable {
 public:
  // Room for `expected` tokens before the table grows (at three quarters
  // full: linear probing still finds most keys in the first cache line).
  explicit TokenTable(size_t expected) {
    size_t cap = 16;
    while (3 * cap < 4 * expected + 4) cap <<= 1;
    slots.resize(cap);  // all empty
  }
  const void *slotAddress(const TokenKey &k) const { return &slots[mix(k) & (slots.size() - 1)]; }
  // The first line of k, -1 when k is no token.
  int find(const TokenKey &k) const { return slots[slotOf(k)].lineAfter - 1; }
  // The first line of k, entering `line` when k is new.
  int findOrAdd(const TokenKey &k, int line) {
    Slot *s = &slots[slotOf(k)];
    if (s->lineAfter != 0) return s->lineAfter - 1;
    if (4 * (used + 1) > 3 * slots.size()) {
      grow();
      s = &slots[slotOf(k)];
    }
    *s = Slot{k.value, line + 1, k.named ? 1 : 0};
    used++;
    return line;
  }

 private:
  struct Slot {
    uint64_t value;
    int lineAfter;  // the first line + 1; 0: empty
    int named;
  };
  Scratch<Slot> slots;
  size_t used = 0;

  void grow() {
    Scratch<Slot> old(slots.size() * 2);
    old.swap(slots);
    for (const Slot &s : old)
      if (s.lineAfter != 0) slots[slotOf(TokenKey{s.value, s.named != 0})] = s;
  }
  static size_t mix(const TokenKey &k) {
    return (size_t)(((k.value ^ (k.named ? 0x5bd1e995ull : 0)) * 0x9E3779B97F4A7C15ULL) >> 20);
  }
  size_t slotOf(const TokenKey &k) const {
    size_t mask = slots.size() - 1;
    size_t i = mix(k) & mask;
    while (slots[i].lineAfter != 0 && !(slots[i].value == k.value && (slots[i].named != 0) == k.named))
      i = (i + 1) & mask;
    return i;
  }
};

constexpr int kChildNode = -1;

// What a line says, before its tokens are resolved: 32 bytes.
struct ParsedLine {
  uint64_t token;     // key values of its token and of node children
  uint64_t child[2];
  int var;            // valid when kVarOk
  uint8_t fields;     // whitespace-separated fields on the line, up to 255
  uint8_t flags;
  int8_t kind[2];     // then, else: 1 constant true, 0 constant false, kChildNode
  TokenKey tokenKey() const { return TokenKey{token, (flags & kNamedToken) != 0}; }
  TokenKey childKey(int side) const { return TokenKey{child[side], (flags & (kNamedThen << side)) != 0}; }
  enum : uint8_t { kNeg = 1, kVarOk = 2, kNamedToken = 4, kNamedThen = 8 };  // kNamedThen << 1: else
};

// How many lines ahead the token table's slots are fetched.
constexpr size_t kTokenAhead = 16;

// The parsed lines. While the lines read so far are at least as long as their
// records (the writer's lines are twice as long), each record goes into the
// text itself, over characters already read: the text is the reader's own,
// and its records then cost no memory not already touched. A shorter line,
// or a named token (whose characters the token names keep), moves the
// records to an array of their own.
class LineRecords {
 public:
  void start(std::string *text, size_t expected) {
    base = text->data();
    room = expected;
    inText = (uintptr_t)base % alignof(ParsedLine) == 0;
    if (!inText) own.reserve(room);
  }
  // Adds the record of the line that ends just before `lineEnd`.
  void add(const ParsedLine &l, const char *lineEnd, bool textKept) {
    if (inText && (textKept || (count + 1) * sizeof(ParsedLine) > (size_t)(lineEnd - base))) moveOut();
    if (inText) {
      ::new ((void *)(base + count * sizeof(ParsedLine))) ParsedLine(l);
    } else {
      own.push_back(l);
    }
    count++;
  }
  size_t size() const { return count; }
  // Where the records lie: room for at least as many build steps.
  char *storage() { return inText ? base : (char *)own.data(); }
  const ParsedLine &operator[](size_t i) const {
    return inText ? *reinterpret_cast<const ParsedLine *>(base + i * sizeof(ParsedLine)) : own[i];
  }
  void release() {
    Scratch<ParsedLine>().swap(own);
    count = 0;
  }

 private:
  char *base = nullptr;
  size_t count = 0, room = 0;
  bool inText = false;
  Scratch<ParsedLine> own;

  void moveOut() {
    own.reserve(std::max(room, 2 * count + 16));
    for (size_t i = 0; i < count; i++) own.push_back((*this)[i]);
    inText = false;
  }
};

// Rebuilds a diagram from its node lines. The result is that of sweeping the
// lines from last to first until every token has been built: with distinct
// tokens any order in which children come first gives it; when a token has
// several lines, the one that such a sweep would reach first with its
// children built is the one used, which a priority queue on (sweep, rank)
// reproduces.
class TextReader {
 public:
  TextReader(mdd_manager *mgr, std::string &text) : mgr(mgr), text(text), tokens(0) {}

  bdd_t *run() {
    parseLines();
    resolveChildren();
    // The tokens are done with: their memory goes back before the builder
    // asks for its own.
    tokens = TokenTable(0);
    Scratch<int> order;
    if (duplicates) order = sweepOrder();
    long ran = 0;
    // With duplicate tokens the order is the sweep's; an empty one (no line
    // has its children built) builds nothing and is reported as a cycle.
    bdd_t *result = duplicates ? bdd_build_nodes(mgr, steps.data(), order.data(), (long)order.size(),
                                                 (long)steps.size(), 0, &ran)
                               : bdd_build_nodes(mgr, steps.data(), nullptr, (long)steps.size(),
                                                 (long)steps.size(), 0, &ran);
    if (!allBuilt(ran)) {
      if (result != nullptr) bdd_free(result);
      fatalLine("Util::String2MDD: the lines of the given string refer to each other in a cycle!");
    }
    lines.release();
    std::string().swap(text);
    std::cout << kFinished << std::endl;
    return result;
  }

 private:
  mdd_manager *mgr;
  std::string &text;  // the reader's own: the line records overwrite it
  TokenTable tokens;
  LineRecords lines;
  // The build steps, one per line (slot: the first line of its token). They
  // take the place of the line records, each written once its record and
  // those before it have been read.
  struct Steps {
    bdd_build_step *first = nullptr;
    size_t count = 0;
    bdd_build_step *data() const { return first; }
    size_t size() const { return count; }
    bdd_build_step &operator[](size_t i) const { return first[i]; }
  } steps;
  std::vector<std::pair<int, int>> repeated;  // (line, first line of its token), in line order
  std::unordered_map<std::string_view, uint64_t> names;
  bool duplicates = false;

  [[noreturn]] void lineFault(size_t i, const char *what) {
    fatalLine("Util::String2MDD: line " + std::to_string(i + 1) + " of the given string " + what);
  }

  const char *end = nullptr;  // of the text

  // Whether q ends a field: a blank, a line feed or the end of the text.
  bool atFieldEnd(const char *q) const {
    uint8_t c = charClass(q);
    return c == kFieldSpace || c == kLineEnd || (c == kNulChar && q == end);
  }
  const char *skipField(const char *q) const {
    while (!atFieldEnd(q)) q++;
    return q;
  }

  // The hex digits after "0x" at q: their number and how many there are,
  // stopping after 17.
  int readHex(const char *q, uint64_t *value) const {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (end - q >= 19) {  // q + 2 .. q + 18 lie within the text and its NUL
      uint64_t w1 = load8(q + 2);
      int k1 = hexRun(w1);
      if (k1 < 8) {
        *value = k1 > 0 ? hexValue(w1, k1) : 0;
        return k1;
      }
      uint64_t w2 = load8(q + 10);
      int k2 = hexRun(w2);
      *value = k2 == 0 ? hexValue(w1, 8) : hexValue(w1, 8) << (4 * k2) | hexValue(w2, k2);
      return k2 < 8 || charClass(q + 18) >= 16 ? 8 + k2 : 17;
    }
#endif
    const char *d = q + 2;
    uint64_t v = 0;
    unsigned c;
    while ((c = charClass(d)) < 16 && d - q < 19) {
      v = v << 4 | c;
      d++;
    }
    *value = v;
    return (int)(d - q - 2);
  }

  // Reads the token field at q into *value, setting `namedFlag` in *flags
  // for a named token; returns the end of the field.
  const char *readToken(const char *q, uint64_t *value, uint8_t *flags, uint8_t namedFlag) {
    if (q[0] == '0' && q[1] == 'x') {
      uint64_t v;
      int digits = readHex(q, &v);
      const char *d = q + 2 + digits;
      if (digits >= 1 && digits <= 16 && (q[2] != '0' || digits == 1) && atFieldEnd(d)) {
        *value = v;
        return d;
      }
    }
    const char *e = skipField(q);
    auto named = names.emplace(std::string_view(q, (size_t)(e - q)), (uint64_t)names.size()).first;
    *value = named->second;
    *flags |= namedFlag;
    return e;
  }

  // "[!]digits" with a value up to INT_MAX; returns the end of the field.
  const char *readVariable(const char *q, ParsedLine *l) {
    bool neg = *q == '!';
    const char *d = neg ? q + 1 : q;
    const char *digits = d;
    long long v = 0;
    while (*d >= '0' && *d <= '9' && d - digits < 11) v = v * 10 + (*d++ - '0');
    bool ok = d > digits && d - digits <= 10 && v <= 2147483647LL && atFieldEnd(d);
    l->flags |= (neg ? ParsedLine::kNeg : 0) | (ok ? ParsedLine::kVarOk : 0);
    l->var = (int)v;
    return skipField(d);
  }

  // A then- or else-field: a constant by its first character, else a token.
  const char *readChild(const char *q, ParsedLine *l, int side) {
    if (*q == 'T' || *q == 'F') {
      l->kind[side] = *q == 'T' ? 1 : 0;
      return skipField(q);
    }
    l->kind[side] = kChildNode;
    return readToken(q, &l->child[side], &l->flags, (uint8_t)(ParsedLine::kNamedThen << side));
  }

  // A writer token at q and the blank after it; null when there is none.
  const char *writerToken(const char *q, uint64_t *value) const {
    if (q[0] != '0' || q[1] != 'x') return nullptr;
    int digits = readHex(q, value);
    if (digits < 1 || digits > 16 || (q[2] == '0' && digits != 1) || q[2 + digits] != ' ') return nullptr;
    return q + 3 + digits;
  }
  // "[!]digits" and the character after it, which must be `after`; null
  // otherwise. *var gets the value, *neg the mark.
  static const char *writerVariable(const char *q, char after, int *var, bool *neg) {
    *neg = *q == '!';
    const char *d = *neg ? q + 1 : q;
    unsigned d0 = (unsigned)(d[0] - '0'), d1 = (unsigned)(d[1] - '0');
    if (d0 < 10 && d[1] == after) {  // one digit or two, as almost every id is
      *var = (int)d0;
      return d + 2;
    }
    if (d0 < 10 && d1 < 10 && d[2] == after) {
      *var = (int)(10 * d0 + d1);
      return d + 3;
    }
    const char *digits = d;
    long long v = 0;
    while ((unsigned)(*d - '0') < 10 && d - digits < 10) v = v * 10 + (*d++ - '0');
    if (d == digits || *d != after || v > 2147483647LL) return nullptr;
    *var = (int)v;
    return d + 1;
  }
  // A then-part (side 0) or an else-part (side 1) as the writer makes it.
  const char *writerChild(const char *q, ParsedLine *l, int side) const {
    char after = side == 0 ? ' ' : '\n';
    if (q[0] == ' ') {  // " T " or " F "
      if ((q[1] != 'T' && q[1] != 'F') || q[2] != ' ' || (side == 1 && q[3] != '\n')) return nullptr;
      l->kind[side] = q[1] == 'T' ? 1 : 0;
      return q + 3 + side;
    }
    q = writerToken(q, &l->child[side]);
    int var;
    bool neg;
    if (q == nullptr || (q = writerVariable(q, after, &var, &neg)) == nullptr) return nullptr;
    l->kind[side] = kChildNode;
    l->fields++;
    return q;
  }
  // A line exactly as the writer makes it, read without the field-by-field
  // scan: the position after its line feed, or null when the line is any
  // other (the general scan then reads it). q must have 128 characters after
  // it, more than the longest such line.
  const char *readWriterLine(const char *q, ParsedLine *l) const {
    int var;
    bool neg;
    q = writerToken(q, &l->token);
    if (q == nullptr || (q = writerVariable(q, ' ', &var, &neg)) == nullptr) return nullptr;
    l->var = var;
    l->flags = (uint8_t)(ParsedLine::kVarOk | (neg ? ParsedLine::kNeg : 0));
    l->fields = 4;
    if ((q = writerChild(q, l, 0)) == nullptr) return nullptr;
    return writerChild(q, l, 1);
  }

  // The number of lines, from those in the first 64 KB and an eighth more
  // (arrays grow when it falls short; pages they leave unused cost
  // nothing), else as if lines took 40 bytes, as the writer's take at least.
  size_t expectedLines() const {
    size_t sample = std::min(text.size(), (size_t)1 << 16);
    size_t breaks = (size_t)std::count(text.data(), text.data() + sample, '\n');
    if (sample < text.size() && breaks >= 64) {
      size_t lines = (size_t)((double)text.size() * (double)breaks / (double)sample);
      return lines + lines / 8 + 16;
    }
    return text.size() / 40 + 16;
  }

  // One pass over the text: every line's fields, its own token and its
  // children; each line's token is entered in the token table a few lines
  // later, once its slot has been fetched. A line without fields is
  // reported here, the first one first.
  void parseLines() {
    const char *q = text.c_str();
    end = q + text.size();
    size_t expected = expectedLines();
    lines.start(&text, expected);
    tokens = TokenTable(expected);
    size_t entered = 0;
    while (q < end) {
      ParsedLine l{};
      const char *after = end - q >= 128 ? readWriterLine(q, &l) : nullptr;
      if (after != nullptr) {
        q = after;
      } else {
        l = ParsedLine{};
        int n = 0, elseField = 3;
        while (true) {
          while (charClass(q) == kFieldSpace) q++;
          if (!(q < end) || *q == '\n') break;
          if (n == 0) {
            q = readToken(q, &l.token, &l.flags, ParsedLine::kNamedToken);
          } else if (n == 1) {
            q = readVariable(q, &l);
          } else if (n == 2) {
            q = readChild(q, &l, 0);
            if (l.kind[0] == kChildNode) elseField = 4;
          } else if (n == elseField) {
            q = readChild(q, &l, 1);
          } else {
            q = skipField(q);
          }
          n++;
        }
        if (n == 0) lineFault(lines.size(), "has too few fields!");
        l.fields = (uint8_t)std::min(n, 255);
        q++;
      }
      __builtin_prefetch(tokens.slotAddress(l.tokenKey()));
      lines.add(l, std::min(q, end), !names.empty());
      if (lines.size() > kTokenAhead) enterToken(entered++);
    }
    while (entered < lines.size()) enterToken(entered++);
  }

  // Enters line i's token; a token's id is its first line.
  void enterToken(size_t i) {
    int first = tokens.findOrAdd(lines[i].tokenKey(), (int)i);
    if (first != (int)i) {
      duplicates = true;
      repeated.emplace_back((int)i, first);
    }
  }

  // The children's tokens, and the checks the sweep makes from the last line
  // up: too few fields, then a child token without a line (then-child
  // before else-child), on the last line that has either; a bad variable
  // field only when no line has those, on the last line that has one.
  void resolveChildren() {
    size_t n = lines.size();
    // Step i (20 bytes at 20 i) overwrites only records before i once record
    // i has been copied out: records from i on are intact.
    static_assert(sizeof(bdd_build_step) <= sizeof(ParsedLine), "steps in place of the records");
    steps.first = reinterpret_cast<bdd_build_step *>(lines.storage());
    steps.count = n;
    // In a breadth-first text each new child token is the token of the next
    // line not yet met (past the current one, whose record is intact), which
    // a comparison finds; the others are looked up, their slots fetched a
    // few lines ahead.
    size_t next = 1, repeat = 0;
    long lastBad = -1, lastBadVar = -1;
    ParsedLine badLine{};
    bdd_build_step badStep{};
    for (size_t i = 0; i < n; i++) {
      if (i + kTokenAhead < n) {
        const ParsedLine &a = lines[i + kTokenAhead];
        for (int side = 0; side < 2; side++)
          if (a.kind[side] == kChildNode) __builtin_prefetch(tokens.slotAddress(a.childKey(side)));
      }
      const ParsedLine l = lines[i];
      bdd_build_step s;
      s.slot = (int)i;
      if (repeat < repeated.size() && repeated[repeat].first == (int)i) s.slot = repeated[repeat++].second;
      if (next <= i) next = i + 1;
      bool bad = false;
      for (int side = 0; side < 2; side++) {
        if (l.kind[side] != kChildNode) {
          s.child[side] = l.kind[side] == 1 ? BDD_BUILD_ONE : BDD_BUILD_ZERO;
        } else if (!duplicates && next < n && l.childKey(side) == lines[next].tokenKey()) {
          s.child[side] = (int)next++;
        } else {
          s.child[side] = tokens.find(l.childKey(side));
          bad |= s.child[side] < 0;
        }
      }
      bad |= l.fields < 4 || l.fields <= (l.kind[0] == kChildNode ? 4 : 3);
      if (!(l.flags & ParsedLine::kVarOk)) lastBadVar = (long)i;
      s.var = (bdd_variableId)l.var;
      s.negate = (l.flags & ParsedLine::kNeg) != 0;
      if (bad) {
        lastBad = (long)i;
        badLine = l;
        badStep = s;
      }
      steps[i] = s;
    }
    if (lastBad >= 0) {
      size_t k = (size_t)lastBad;
      const ParsedLine &l = badLine;
      if (l.fields < 4 || l.fields <= (l.kind[0] == kChildNode ? 4 : 3)) lineFault(k, "has too few fields!");
      if (!(l.flags & ParsedLine::kVarOk)) lineFault(k, "has an invalid variable field!");
      fatalLine(std::string(badStep.child[0] < 0 && l.kind[0] == kChildNode
                                ? "The BDD pointer of the Then child does not exist for the root ID "
                                : "The BDD pointer of the Else child does not exist for the root ID ") +
                std::to_string(l.var));
    }
    if (lastBadVar >= 0) lineFault((size_t)lastBadVar, "has an invalid variable field!");
  }

  // Lines in the order the sweep builds their tokens (each token once).
  Scratch<int> sweepOrder() {
    size_t nl = steps.size();
    int rankBase = (int)nl - 1;
    auto rankOf = [&](size_t line) { return rankBase - (int)line; };
    std::vector<char> built(nl, 0);
    std::vector<long long> builtSweep(nl, 0);
    std::vector<int> builtRank(nl, 0);

    // Lines naming each token as a child, in compressed rows.
    std::vector<int> start(nl + 1, 0);
    std::vector<unsigned char> pending(nl, 0);
    for (size_t i = 0; i < nl; i++) {
      for (int c : steps[i].child) {
        if (c < 0) continue;
        start[(size_t)c + 1]++;
        pending[i]++;
      }
    }
    for (size_t t = 0; t < nl; t++) start[t + 1] += start[t];
    std::vector<int> parents((size_t)start[nl]);
    {
      std::vector<int> fill(start.begin(), start.end() - 1);
      for (size_t i = 0; i < nl; i++)
        for (int c : steps[i].child)
          if (c >= 0) parents[(size_t)fill[(size_t)c]++] = (int)i;
    }
    // The first (sweep, rank) at which a sweep finds every child of the line
    // built: same sweep if the child was built at a lower rank, else the next.
    auto readySweep = [&](size_t line) {
      long long s = 1;
      int r = rankOf(line);
      for (int c : steps[line].child) {
        if (c < 0) continue;
        long long need = builtRank[(size_t)c] < r ? builtSweep[(size_t)c] : builtSweep[(size_t)c] + 1;
        if (need > s) s = need;
      }
      return s;
    };
    typedef std::tuple<long long, int, int> Timed;  // sweep, rank, line
    std::priority_queue<Timed, std::vector<Timed>, std::greater<Timed>> timed;
    for (size_t k = nl; k-- > 0;)
      if (pending[k] == 0) timed.emplace(readySweep(k), rankOf(k), (int)k);
    Scratch<int> order;
    while (!timed.empty()) {
      long long sweep = std::get<0>(timed.top());
      size_t line = (size_t)std::get<2>(timed.top());
      timed.pop();
      size_t token = (size_t)steps[line].slot;
      if (built[token]) continue;
      built[token] = 1;
      builtSweep[token] = sweep;
      builtRank[token] = rankOf(line);
      order.push_back((int)line);
      for (int p = start[token]; p < start[token + 1]; p++) {
        size_t parent = (size_t)parents[(size_t)p];
        if (--pending[parent] == 0) timed.emplace(readySweep(parent), rankOf(parent), (int)parent);
      }
    }
    return order;
  }

  // Whether every token has been built.
  bool allBuilt(long ran) const {
    long tokenCount = 0;
    for (size_t i = 0; i < steps.size(); i++) tokenCount += steps[i].slot == (int)i;
    return ran == tokenCount;
  }
};

}  // namespace

void Util::reserveText(std::string *text, size_t bytes) {
  // The string's block holds its capacity and a terminating NUL.
  text->reserve(mem_block_size_huge(bytes + 1) - 1);
  mem_advise_block_huge(&(*text)[0], text->capacity() + 1);
}

void Util::MDD2String(void *mgr, bdd_t *f, std::string *out) {
  (void)mgr;
  if (bdd_is_tautology(f, 1)) {
    out->append(" T ");
    return;
  }
  if (bdd_is_tautology(f, 0)) {
    out->append(" F ");
    return;
  }
  writeNodeLines(f, out);
}

bdd_t *Util::String2MDD(void *mgr, std::string text) {
  mdd_manager *manager = static_cast<mdd_manager *>(mgr);
  if (text.size() < 2) fatalLine("Util::String2MDD: the given string is too short to describe an MDD!");
  if (text[1] == 'T') return bdd_one(manager);
  if (text[1] == 'F') return bdd_zero(manager);
  TextReader reader(manager, text);
  return reader.run();
}

// ===========================================================================
// Renaming
// ===========================================================================

namespace {

// f with every variable id replaced by its counterpart (the primed-to-
// unprimed map is consulted first): the diagram the reader would build from
// f's text with the ids swapped, built from the same lines without the text.
// The ids are looked up line by line in the text's order (node, then-child,
// else-child), so an id without counterpart is reported where the text
// would meet it.
bdd_t *swapVariables(bdd_t *f, void *mgr, ProgramStructure *ps, const char *opName) {
  mdd_manager *manager = static_cast<mdd_manager *>(mgr);
  if (bdd_is_tautology(f, 1)) return bdd_one(manager);
  if (bdd_is_tautology(f, 0)) return bdd_zero(manager);

  int size = 0;
  for (const auto &kv : ps->unPrimedToPrimedBvar) size = std::max(size, kv.first + 1);
  for (const auto &kv : ps->primedToUnPrimedBvar) size = std::max(size, kv.first + 1);
  std::vector<int> counterpart((size_t)size, 0);
  std::vector<char> present((size_t)size, 0);
  auto enter = [&](const std::map<int, int> &m) {
    for (const auto &kv : m) {
      if (kv.first < 0) continue;
      counterpart[(size_t)kv.first] = kv.second;
      present[(size_t)kv.first] = 1;
    }
  };
  enter(ps->unPrimedToPrimedBvar);
  enter(ps->primedToUnPrimedBvar);  // entered last: looked up first

  static const char *const kWhere[] = {"Invalid var_id of the root node!",
                                       "Invalid var_id of the Then child!",
                                       "Invalid var_id of the Else child!"};
  auto swapped = [&](bdd_variableId id, int position) {
    if (id < (bdd_variableId)size && present[id]) return counterpart[id];
    fatalLine(std::string(opName) + kWhere[position]);
  };

  Scratch<bdd_build_step> steps;
  long badVarLine = -1;  // the reader rejects a negative variable field
  bdd_walk *walk = bdd_walk_start(f, 1);
  std::vector<bdd_walk_line> batch((size_t)kBatchLines);
  long n;
  while ((n = bdd_walk_next(walk, batch.data(), kBatchLines)) > 0) {
    for (long i = 0; i < n; i++) {
      const bdd_walk_line &l = batch[(size_t)i];
      bdd_build_step s;
      s.slot = (int)steps.size();
      int v = swapped(l.var, 0);
      for (int side = 0; side < 2; side++) {
        if (l.child_kind[side] >= 0) {
          s.child[side] = l.child_kind[side] == 1 ? BDD_BUILD_ONE : BDD_BUILD_ZERO;
        } else {
          swapped(l.child_var[side], 1 + side);
          s.child[side] = (int)l.child_line[side];
        }
      }
      if (v < 0) badVarLine = s.slot;
      s.var = (bdd_variableId)v;
      s.negate = (l.ref & 1) != 0;
      steps.push_back(s);
    }
  }
  bdd_walk_free(walk);
  if (badVarLine >= 0) {
    fatalLine("Util::String2MDD: line " + std::to_string(badVarLine + 1) +
              " of the given string has an invalid variable field!");
  }
  bdd_t *result = bdd_build_nodes(manager, steps.data(), nullptr, (long)steps.size(), (long)steps.size(), 0, nullptr);
  std::cout << kFinished << std::endl;
  return result;
}

}  // namespace

bdd_t *Util::genPrimed(bdd_t *f, void *mgr, ProgramStructure *ps) {
  return swapVariables(f, mgr, ps, "Util.genPrimed():  ");
}

bdd_t *Util::genUnPrimed(bdd_t *f, void *mgr, ProgramStructure *ps) {
  return swapVariables(f, mgr, ps, "Util.genUnPrimed():  ");
}

// ===========================================================================
// Folding
// ===========================================================================

bdd_t *Util::andInto(bdd_t *acc, bdd_t *g) {
  bdd_t *r = bdd_and(acc, g, 1, 1);
  bdd_free(acc);
  bdd_free(g);
  return r;
}

bdd_t *Util::orInto(bdd_t *acc, bdd_t *g) {
  bdd_t *r = bdd_or(acc, g, 1, 1);
  bdd_free(acc);
  bdd_free(g);
  return r;
}

// ===========================================================================
// Minterms and guards
// ===========================================================================

namespace {

// What a minterm position contributes: a label and the variable of its
// literal, or no label to skip the position.
struct Pick {
  const std::string *label;
  int var;
};

// Enumerates f over vars. For every minterm, each picked position adds
// "label value " to the minterm's text and the literal var = value to its
// cube; the result is the disjunction of the cubes with distinct texts, whose
// texts go into *texts.
template <class PickFn>
bdd_t *collectMinterms(bdd_t *f, mdd_manager *mgr, mdd_gen *&gen, array_t *&minterm, array_t *vars,
                       PickFn pick, std::set<std::string> *texts) {
  bdd_t *result = bdd_zero(mgr);
  std::string text;
  minterm = nullptr;
  gen = mdd_first_minterm(f, &minterm, vars);
  while (gen->status != bdd_EMPTY) {
    text.clear();
    int n = array_n(minterm);
    for (int i = 0; i < n; i++) {
      Pick p = pick(i);
      if (p.label == nullptr) continue;
      text += *p.label;
      appendNumber(&text, array_fetch(int, minterm, i));
      text += ' ';
    }
    if (texts->insert(text).second) {
      bdd_t *cube = bdd_one(mgr);
      for (int i = 0; i < n; i++) {
        Pick p = pick(i);
        if (p.label == nullptr) continue;
        cube = Util::andInto(cube, mdd_func1c(mgr, p.var, array_fetch(int, minterm, i), eq2));
      }
      result = Util::orInto(result, cube);
    }
    array_free(minterm);
    minterm = nullptr;
    mdd_next_minterm(gen, &minterm);
  }
  mdd_gen_free(gen);
  gen = nullptr;
  return result;
}

// Minterms of f over the variables of labels, in ascending id order.
bdd_t *mintermsOverLabels(bdd_t *f, void *mgr, mdd_gen *&gen, array_t *&minterm,
                          const std::map<int, std::string> &labels, std::set<std::string> *texts) {
  std::vector<std::pair<int, const std::string *>> picks;
  array_t *vars = array_alloc(int, (int)labels.size());
  for (const auto &kv : labels) {
    array_insert_last(int, vars, kv.first);
    picks.emplace_back(kv.first, &kv.second);
  }
  bdd_t *r = collectMinterms(f, static_cast<mdd_manager *>(mgr), gen, minterm, vars,
                             [&](int i) { return Pick{picks[(size_t)i].second, picks[(size_t)i].first}; },
                             texts);
  array_free(vars);
  return r;
}

// Keeps position i when labels has the id i - offset; the literal is on i.
bdd_t *extractShifted(bdd_t *f, void *mgr, mdd_gen *&gen, array_t *&minterm, array_t *vars,
                      const std::map<int, std::string> &labels, int offset) {
  std::set<std::string> texts;
  return collectMinterms(f, static_cast<mdd_manager *>(mgr), gen, minterm, vars,
                         [&](int i) {
                           auto it = labels.find(i - offset);
                           return Pick{it == labels.end() ? nullptr : &it->second, i};
                         },
                         &texts);
}

}  // namespace

bool Util::isSat(bdd_t *f, mdd_gen *gen, array_t *minterm, array_t *vars) {
  minterm = nullptr;
  gen = mdd_first_minterm(f, &minterm, vars);
  bool sat = gen->status != bdd_EMPTY;
  if (minterm != nullptr) array_free(minterm);
  mdd_gen_free(gen);
  return sat;
}

void Util::calMinterms(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm,
                       std::map<int, std::string> labels) {
  std::set<std::string> texts;
  bdd_t *result = mintermsOverLabels(f, mgr, gen, minterm, labels, &texts);
  if (mintermsAsMDD != nullptr) bdd_free(mintermsAsMDD);
  mintermsAsMDD = result;
  mintermsAsSet.swap(texts);
}

bdd_t *Util::getMintermsAsMDD() { return mintermsAsMDD; }

std::set<std::string> Util::getMintermsAsSet() { return mintermsAsSet; }

void Util::releaseMinterms() {
  if (mintermsAsMDD != nullptr) bdd_free(mintermsAsMDD);
  mintermsAsMDD = nullptr;
  mintermsAsSet.clear();
}

bdd_t *Util::getGuard(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm,
                      std::map<int, std::string> labels) {
  std::set<std::string> texts;
  return mintermsOverLabels(f, mgr, gen, minterm, labels, &texts);
}

bdd_t *Util::extractPrimed(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm, array_t *vars,
                           std::map<int, std::string> labels) {
  return extractShifted(f, mgr, gen, minterm, vars, labels, 1);
}

bdd_t *Util::extractUnPrimed(bdd_t *f, void *mgr, mdd_gen *gen, array_t *minterm, array_t *vars,
                             std::map<int, std::string> labels) {
  return extractShifted(f, mgr, gen, minterm, vars, labels, -1);
}

// ===========================================================================
// Integer-array form
// ===========================================================================

int Util::SerializeMDD(bdd_t *f, mdd_gen *gen, array_t *minterm, array_t *vars, int *out) {
  int k = 0;
  minterm = nullptr;
  gen = mdd_first_minterm(f, &minterm, vars);
  while (gen->status != bdd_EMPTY) {
    for (int j = 0; j < array_n(minterm); j++) {
      out[k] = j;  // the position in vars, which readers take as the id
      out[k + 1] = array_fetch(int, minterm, j);
      k += 2;
    }
    array_free(minterm);
    minterm = nullptr;
    mdd_next_minterm(gen, &minterm);
  }
  mdd_gen_free(gen);
  return k;
}

namespace {

bdd_t *readIntArray(void *mgr, const int *array, int count, int n, int shift, const char *opName) {
  mdd_manager *manager = static_cast<mdd_manager *>(mgr);
  long long mvars = array_n(mdd_ret_mvar_list(manager));
  bdd_t *cube = bdd_one(manager);
  bdd_t *result = bdd_zero(manager);
  int i = 0;
  for (long long j = 0; j < count; j += 2) {
    i++;
    long long id = (long long)array[j] + shift;
    if (id < 0 || id >= mvars) {
      fatalLine(std::string(opName) + ": Observed an illegal varID! " + std::to_string(id));
    }
    // A lone trailing integer belongs to an incomplete record.
    if (j + 1 >= count) break;
    cube = Util::andInto(cube, mdd_func1c(manager, (int)id, array[j + 1], eq2));
    if (i == n) {
      result = Util::orInto(result, cube);
      cube = bdd_one(manager);
      i = 0;
    }
  }
  bdd_free(cube);
  return result;
}

}  // namespace

bdd_t *Util::UnSerializeMDD(void *mgr, int *array, int count, int n) {
  return readIntArray(mgr, array, count, n, 0, "Util::UnSerializeMDD");
}

bdd_t *Util::getPrimedUnSerializedMDD(void *mgr, int *array, int count, int n) {
  return readIntArray(mgr, array, count, n, 1, "Util::getPrimedUnSerializedMDD");
}
