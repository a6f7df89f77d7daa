#include "Util.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <queue>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "ProgramStructure.h"

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

inline uintptr_t edgeOf(const bdd_t *h) { return reinterpret_cast<uintptr_t>(h->node); }

inline bool isComplemented(bdd_t *h) {
  boolean c = 0;
  bdd_get_node(h, &c);
  return c != 0;
}

// A node token: the edge printed as an untyped pointer, "0x" + lowercase hex.
void appendToken(std::string *out, uintptr_t edge) {
  char buf[2 + 2 * sizeof(uintptr_t)];
  char *end = buf + sizeof buf;
  char *p = end;
  do {
    *--p = "0123456789abcdef"[edge & 0xf];
    edge >>= 4;
  } while (edge != 0);
  out->append("0x", 2);
  out->append(p, (size_t)(end - p));
}

void appendNumber(std::string *out, long long v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, (size_t)(res.ptr - buf));
}

// Open-addressing set of non-zero edge values.
class EdgeSet {
 public:
  EdgeSet() : slots(64, 0), used(0) {}
  // True when the edge was not yet in the set.
  bool insert(uintptr_t edge) {
    if (2 * (used + 1) > slots.size()) grow();
    size_t mask = slots.size() - 1;
    for (size_t i = hash(edge) & mask;; i = (i + 1) & mask) {
      if (slots[i] == edge) return false;
      if (slots[i] == 0) {
        slots[i] = edge;
        used++;
        return true;
      }
    }
  }

 private:
  std::vector<uintptr_t> slots;
  size_t used;

  static size_t hash(uintptr_t e) { return (size_t)((e >> 3) * 0x9e3779b97f4a7c15ULL >> 17); }
  void grow() {
    std::vector<uintptr_t> old;
    old.swap(slots);
    slots.assign(old.size() * 2, 0);
    size_t mask = slots.size() - 1;
    for (uintptr_t e : old) {
      if (e == 0) continue;
      size_t i = hash(e) & mask;
      while (slots[i] != 0) i = (i + 1) & mask;
      slots[i] = e;
    }
  }
};

enum Position { kNodePos = 0, kThenPos = 1, kElsePos = 2 };

// Writes the text of a non-constant f breadth-first from the root, one line
// per node reference. mapVar(id, position) gives the variable number written
// for the node itself or one of its children; all three numbers of a line are
// computed before anything of it is appended.
template <class MapVar>
void writeNodeLines(bdd_t *f, std::string *out, MapVar mapVar) {
  std::vector<bdd_t *> queue;
  size_t head = 0;
  EdgeSet queued;  // the root's own token is never entered
  queue.push_back(bdd_dup(f));
  while (head < queue.size()) {
    bdd_t *n = queue[head];
    queue[head++] = nullptr;
    if (bdd_is_tautology(n, 1) || bdd_is_tautology(n, 0)) {
      bdd_free(n);
      continue;
    }
    bool c = isComplemented(n);
    bdd_t *m = c ? bdd_not(n) : bdd_dup(n);
    bdd_t *t = bdd_then(m);
    bdd_t *e = bdd_else(m);
    bool tOne = bdd_is_tautology(t, 1), tZero = bdd_is_tautology(t, 0);
    bool eOne = bdd_is_tautology(e, 1), eZero = bdd_is_tautology(e, 0);
    bool tConst = tOne || tZero, eConst = eOne || eZero;

    long long v = mapVar(bdd_top_var_id(n), kNodePos);
    long long vt = tConst ? 0 : mapVar(bdd_top_var_id(t), kThenPos);
    long long ve = eConst ? 0 : mapVar(bdd_top_var_id(e), kElsePos);

    appendToken(out, edgeOf(n));
    out->append(c ? " !" : " ");
    appendNumber(out, v);
    out->push_back(' ');

    if (tConst) {
      out->append(tOne ? " T " : " F ");
    } else {
      appendToken(out, edgeOf(t));
      out->append(isComplemented(t) ? " !" : " ");
      appendNumber(out, vt);
      out->push_back(' ');
      if (queued.insert(edgeOf(t))) {
        queue.push_back(t);
        t = nullptr;
      }
    }
    if (eConst) {
      out->append(eOne ? " T \n" : " F \n");
    } else {
      appendToken(out, edgeOf(e));
      out->append(isComplemented(e) ? " !" : " ");
      appendNumber(out, ve);
      out->push_back('\n');
      if (queued.insert(edgeOf(e))) {
        queue.push_back(e);
        e = nullptr;
      }
    }
    if (t != nullptr) bdd_free(t);
    if (e != nullptr) bdd_free(e);
    bdd_free(m);
    bdd_free(n);
  }
}

// ---- Reader -------------------------------------------------------------------

inline bool isFieldSpace(char ch) {
  return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f';
}

constexpr int kMaxFields = 6;

// Splits [b, e) into whitespace-separated fields, storing the first
// kMaxFields; returns the number of fields.
int splitFields(const char *b, const char *e, std::string_view *fields) {
  int n = 0;
  const char *p = b;
  while (true) {
    while (p < e && isFieldSpace(*p)) p++;
    if (p == e) return n;
    const char *start = p;
    while (p < e && !isFieldSpace(*p)) p++;
    if (n < kMaxFields) fields[n] = std::string_view(start, (size_t)(p - start));
    n++;
  }
}

// "[!]digits" with a value up to INT_MAX.
bool parseVariable(std::string_view s, int *var, bool *neg) {
  *neg = !s.empty() && s[0] == '!';
  if (*neg) s.remove_prefix(1);
  if (s.empty() || s.size() > 10) return false;
  long long v = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + (ch - '0');
  }
  if (v > 2147483647LL) return false;
  *var = (int)v;
  return true;
}

// Token string -> dense token id. Tokens the writer makes ("0x" and lowercase
// hex digits without leading zeros) stand for a number, and two such tokens
// are equal exactly when their numbers are; they are kept by number, so a
// look-up touches one slot instead of a slot, a view and the text. Any other
// token is kept by its characters.
class TokenTable {
 public:
  explicit TokenTable(size_t expected) {
    size_t cap = 16;
    while (cap < 2 * expected + 2) cap <<= 1;
    numbered.assign(cap, NumberSlot{0, -1});
    names.reserve(expected);
  }
  int find(std::string_view key) const {
    uint64_t v;
    if (asNumber(key, &v)) return numbered[numberSlot(v)].id;
    return named.empty() ? -1 : named[nameSlot(key)];
  }
  // The id of key, adding it when new (*added tells which).
  int findOrAdd(std::string_view key, bool *added) {
    uint64_t v;
    int *id;
    if (asNumber(key, &v)) {
      NumberSlot &slot = numbered[numberSlot(v)];
      slot.value = v;
      id = &slot.id;
    } else {
      if (named.empty()) named.assign(numbered.size(), -1);
      id = &named[nameSlot(key)];
    }
    *added = *id < 0;
    if (*added) {
      *id = (int)names.size();
      names.push_back(key);
    }
    return *id;
  }
  int size() const { return (int)names.size(); }

 private:
  struct NumberSlot {
    uint64_t value;
    int id;  // -1: empty
  };
  std::vector<NumberSlot> numbered;
  std::vector<int> named;               // ids of the other tokens; empty until one comes
  std::vector<std::string_view> names;  // every token by id

  // The slot holding v, or the empty slot where it would go.
  size_t numberSlot(uint64_t v) const {
    size_t mask = numbered.size() - 1;
    size_t i = mix(v) & mask;
    while (numbered[i].id >= 0 && numbered[i].value != v) i = (i + 1) & mask;
    return i;
  }
  size_t nameSlot(std::string_view key) const {
    size_t mask = named.size() - 1;
    size_t i = std::hash<std::string_view>{}(key) & mask;
    while (named[i] >= 0 && names[(size_t)named[i]] != key) i = (i + 1) & mask;
    return i;
  }

  static size_t mix(uint64_t v) { return (size_t)((v * 0x9E3779B97F4A7C15ULL) >> 20); }
  // "0x" and 1 to 16 lowercase hex digits, no leading zero unless "0x0".
  static bool asNumber(std::string_view s, uint64_t *v) {
    if (s.size() < 3 || s.size() > 18 || s[0] != '0' || s[1] != 'x') return false;
    if (s[2] == '0' && s.size() != 3) return false;
    uint64_t x = 0;
    for (size_t k = 2; k < s.size(); k++) {
      char ch = s[k];
      int d;
      if (ch >= '0' && ch <= '9')
        d = ch - '0';
      else if (ch >= 'a' && ch <= 'f')
        d = ch - 'a' + 10;
      else
        return false;
      x = (x << 4) | (uint64_t)d;
    }
    *v = x;
    return true;
  }
};

constexpr int kChildTrue = -1;
constexpr int kChildFalse = -2;

struct TextLine {
  size_t begin, end;  // the line's characters within the text
  int token;          // token id of field 0
  int var;
  bool neg;
  int child[2];  // then, else: a token id, kChildTrue or kChildFalse
};

// Rebuilds a diagram from its node lines. Every line is built once, in an
// order where a line comes after the lines of its children. The result is
// that of sweeping the lines from last to first until every token has been
// built: with distinct tokens the order does not matter; when a token has
// several lines, the one that such a sweep would reach first with its
// children built is the one used, which a priority queue on (sweep, rank)
// reproduces.
class TextReader {
 public:
  TextReader(mdd_manager *mgr, const std::string &text) : mgr(mgr), text(text), tokens(0) {}

  bdd_t *run() {
    splitLines();
    tokens = TokenTable(lines.size());
    readTokens();
    readChildren();
    build();
    std::cout << "Finished calcualting the MDD from the given string!" << std::endl;
    return takeResult();
  }

 private:
  mdd_manager *mgr;
  const std::string &text;
  TokenTable tokens;
  std::vector<TextLine> lines;
  bool duplicates = false;
  int root = 0;
  // Per token: its built handle, whether it was ever built (handles may be
  // freed early), and the (sweep, rank) at which it was built.
  std::vector<bdd_t *> entry;
  std::vector<char> built;
  std::vector<long long> builtSweep;
  std::vector<int> builtRank;
  std::vector<int> usesLeft;
  std::vector<bdd_t *> varCache;
  bdd_t *one = nullptr;
  bdd_t *zero = nullptr;

  [[noreturn]] void lineFault(size_t i, const char *what) {
    fatalLine("Util::String2MDD: line " + std::to_string(i + 1) + " of the given string " + what);
  }

  void splitLines() {
    size_t n = 0;
    for (char ch : text) n += (ch == '\n');
    lines.reserve(n + 1);
    size_t b = 0;
    while (b < text.size()) {
      size_t e = text.find('\n', b);
      if (e == std::string::npos) e = text.size();
      lines.push_back(TextLine{b, e, -1, 0, false, {kChildFalse, kChildFalse}});
      b = e + 1;
    }
    // Empty lines stay in place and fail in readTokens.
    kz_debug_assert(!lines.empty(), "a text of two or more characters has a line");
  }

  int fieldsOf(const TextLine &l, std::string_view *f) const {
    return splitFields(text.data() + l.begin, text.data() + l.end, f);
  }

  void readTokens() {
    std::string_view f[kMaxFields];
    for (size_t i = 0; i < lines.size(); i++) {
      if (fieldsOf(lines[i], f) == 0) lineFault(i, "has too few fields!");
      bool added = false;
      lines[i].token = tokens.findOrAdd(f[0], &added);
      if (!added) duplicates = true;
    }
    root = lines[0].token;
  }

  // Parses every line in sweep order (last line first), reporting a child
  // token without a line of its own, then-child before else-child. A bad
  // variable field is reported after that check has passed over every line.
  void readChildren() {
    std::string_view f[kMaxFields];
    long long badVarLine = -1;
    for (size_t k = lines.size(); k-- > 0;) {
      TextLine &l = lines[k];
      int nf = fieldsOf(l, f);
      if (nf < 4) lineFault(k, "has too few fields!");
      bool varOk = parseVariable(f[1], &l.var, &l.neg);
      int elseField = 3;
      std::string_view childField[2];
      childField[0] = f[2];
      if (f[2][0] != 'T' && f[2][0] != 'F') elseField = 4;
      if (nf <= elseField) lineFault(k, "has too few fields!");
      childField[1] = f[elseField];
      for (int side = 0; side < 2; side++) {
        std::string_view cf = childField[side];
        if (cf[0] == 'T') {
          l.child[side] = kChildTrue;
        } else if (cf[0] == 'F') {
          l.child[side] = kChildFalse;
        } else {
          l.child[side] = tokens.find(cf);
          if (l.child[side] < 0) {
            if (!varOk) lineFault(k, "has an invalid variable field!");
            fatalLine(std::string(side == 0 ? "The BDD pointer of the Then child does not exist "
                                              "for the root ID "
                                            : "The BDD pointer of the Else child does not exist "
                                              "for the root ID ") +
                      std::to_string(l.var));
          }
        }
      }
      if (!varOk && badVarLine < 0) badVarLine = (long long)k;
    }
    if (badVarLine >= 0) lineFault((size_t)badVarLine, "has an invalid variable field!");
  }

  bdd_t *variable(int id) {
    if ((size_t)id < varCache.size() && varCache[(size_t)id] != nullptr) return varCache[(size_t)id];
    bdd_t *v = bdd_get_variable(mgr, (bdd_variableId)id);
    if ((size_t)id >= varCache.size()) varCache.resize((size_t)id + 1, nullptr);
    varCache[(size_t)id] = v;
    return v;
  }

  bdd_t *childHandle(int c) {
    if (c == kChildTrue) return one;
    if (c == kChildFalse) return zero;
    return entry[(size_t)c];
  }

  int rankOf(size_t line) const { return (int)(lines.size() - 1 - line); }

  // The first (sweep, rank) at which a sweep finds every child of the line
  // built: same sweep if the child was built at a lower rank, else the next.
  long long readySweep(size_t line) const {
    long long s = 1;
    int r = rankOf(line);
    for (int c : lines[line].child) {
      if (c < 0) continue;
      long long need = builtRank[(size_t)c] < r ? builtSweep[(size_t)c] : builtSweep[(size_t)c] + 1;
      if (need > s) s = need;
    }
    return s;
  }

  void build() {
    int nt = tokens.size();
    size_t nl = lines.size();
    entry.assign((size_t)nt, nullptr);
    built.assign((size_t)nt, 0);
    builtSweep.assign((size_t)nt, 0);
    builtRank.assign((size_t)nt, 0);
    usesLeft.assign((size_t)nt, 0);

    // Lines naming each token as a child, in compressed rows.
    std::vector<int> start((size_t)nt + 1, 0);
    std::vector<unsigned char> pending(nl, 0);
    for (size_t i = 0; i < nl; i++) {
      for (int c : lines[i].child) {
        if (c < 0) continue;
        start[(size_t)c + 1]++;
        pending[i]++;
      }
    }
    for (int t = 0; t < nt; t++) {
      usesLeft[(size_t)t] = start[(size_t)t + 1];
      start[(size_t)t + 1] += start[(size_t)t];
    }
    std::vector<int> parents((size_t)start[(size_t)nt]);
    {
      std::vector<int> fill(start.begin(), start.end() - 1);
      for (size_t i = 0; i < nl; i++) {
        for (int c : lines[i].child) {
          if (c >= 0) parents[(size_t)fill[(size_t)c]++] = (int)i;
        }
      }
    }

    one = bdd_one(mgr);
    zero = bdd_zero(mgr);
    int builtCount = 0;

    typedef std::tuple<long long, int, int> Timed;  // sweep, rank, line
    std::priority_queue<Timed, std::vector<Timed>, std::greater<Timed>> timed;
    std::vector<int> fifo;
    size_t head = 0;
    auto ready = [&](size_t line) {
      if (duplicates) {
        timed.emplace(readySweep(line), rankOf(line), (int)line);
      } else {
        fifo.push_back((int)line);
      }
    };
    for (size_t k = nl; k-- > 0;) {
      if (pending[k] == 0) ready(k);
    }
    if (!duplicates) fifo.reserve(nl);

    while (true) {
      size_t line;
      long long sweep = 0;
      if (duplicates) {
        if (timed.empty()) break;
        sweep = std::get<0>(timed.top());
        line = (size_t)std::get<2>(timed.top());
        timed.pop();
      } else {
        if (head == fifo.size()) break;
        line = (size_t)fifo[head++];
      }
      const TextLine &l = lines[line];
      if (!built[(size_t)l.token]) {
        bdd_t *node = bdd_ite(variable(l.var), childHandle(l.child[0]), childHandle(l.child[1]), 1, 1, 1);
        if (l.neg) {
          bdd_t *neg = bdd_not(node);
          bdd_free(node);
          node = neg;
        }
        kz_debug_assert(entry[(size_t)l.token] == nullptr, "a token is built only once");
        entry[(size_t)l.token] = node;
        built[(size_t)l.token] = 1;
        builtSweep[(size_t)l.token] = sweep;
        builtRank[(size_t)l.token] = rankOf(line);
        builtCount++;
        for (int p = start[(size_t)l.token]; p < start[(size_t)l.token + 1]; p++) {
          size_t parent = (size_t)parents[(size_t)p];
          if (--pending[parent] == 0) ready(parent);
        }
      }
      // The children's handles are kept only while a line still needs them.
      for (int c : l.child) {
        if (c < 0) continue;
        if (--usesLeft[(size_t)c] == 0 && c != root && entry[(size_t)c] != nullptr) {
          bdd_free(entry[(size_t)c]);
          entry[(size_t)c] = nullptr;
        }
      }
    }
    if (builtCount != nt) {
      fatalLine("Util::String2MDD: the lines of the given string refer to each other in a cycle!");
    }
  }

  bdd_t *takeResult() {
    bdd_t *result = entry[(size_t)root];
    entry[(size_t)root] = nullptr;
    for (bdd_t *h : entry) {
      if (h != nullptr) bdd_free(h);
    }
    for (bdd_t *h : varCache) {
      if (h != nullptr) bdd_free(h);
    }
    bdd_free(one);
    bdd_free(zero);
    return result;
  }
};

}  // namespace

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
  writeNodeLines(f, out, [](bdd_variableId id, Position) { return (long long)id; });
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

// Writes f's text with every variable id replaced by its counterpart (the
// primed-to-unprimed map is consulted first) and reads it back.
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
  std::string text;
  writeNodeLines(f, &text, [&](bdd_variableId id, Position pos) -> long long {
    if (id < (bdd_variableId)size && present[id]) return counterpart[id];
    fatalLine(std::string(opName) + kWhere[pos]);
  });
  return Util::String2MDD(mgr, std::move(text));
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
