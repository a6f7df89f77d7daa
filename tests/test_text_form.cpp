// The text form: exact bytes of the writer, round trips through the reader,
// texts in other line orders and the fatal cases of broken texts; and the
// renaming between current-state and next-state variables built on it,
// checked against functions built directly over the swapped variables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramStructure.h"
#include "Util.h"
#include "support/output.h"
#include "support/program_model.h"

namespace {

// The token of a handle: its edge as a standard stream prints a pointer.
std::string token(bdd_t *h) {
  std::ostringstream s;
  s << static_cast<void *>(h->node);
  return s.str();
}

std::vector<std::string> splitLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l + "\n");
  return lines;
}

using output_test::onlyLine;

// A seeded random function of the bvars 0..nvars-1 made of AND, OR, XOR and
// negation; leaf variable i is built as mapVar(i).
template <class MapVar>
bdd_t *randomFunction(mdd_manager *mgr, std::mt19937 &rng, int nvars, int depth, MapVar mapVar) {
  if (depth == 0 || rng() % 5 == 0) {
    bdd_t *v = bdd_get_variable(mgr, (bdd_variableId)mapVar((int)(rng() % (unsigned)nvars)));
    if (rng() % 2 == 0) return v;
    bdd_t *n = bdd_not(v);
    bdd_free(v);
    return n;
  }
  bdd_t *a = randomFunction(mgr, rng, nvars, depth - 1, mapVar);
  bdd_t *b = randomFunction(mgr, rng, nvars, depth - 1, mapVar);
  bdd_t *r;
  switch (rng() % 3) {
    case 0: r = bdd_and(a, b, 1, rng() % 2 ? 1 : 0); break;
    case 1: r = bdd_or(a, b, rng() % 2 ? 1 : 0, 1); break;
    default: r = bdd_ite(a, b, b, 1, 0, 1); break;  // a xor b
  }
  bdd_free(a);
  bdd_free(b);
  return r;
}

// The reader as first described: sweep the lines from last to first until
// every token is built. Null when a sweep builds nothing (a cycle).
bdd_t *sweepingReader(mdd_manager *mgr, const std::string &text) {
  if (text[1] == 'T') return bdd_one(mgr);
  if (text[1] == 'F') return bdd_zero(mgr);
  std::vector<std::vector<std::string>> lines;
  for (const std::string &l : splitLines(text)) {
    std::istringstream in(l);
    std::vector<std::string> f;
    for (std::string w; in >> w;) f.push_back(w);
    lines.push_back(f);
  }
  std::set<std::string> pending;
  for (auto &f : lines) pending.insert(f[0]);
  std::map<std::string, bdd_t *> built;
  bdd_t *one = bdd_one(mgr), *zero = bdd_zero(mgr);
  bool progress = true;
  while (!pending.empty() && progress) {
    progress = false;
    for (size_t k = lines.size(); k-- > 0;) {
      auto &f = lines[k];
      bool neg = f[1][0] == '!';
      int v = std::stoi(neg ? f[1].substr(1) : f[1]);
      size_t elseAt = (f[2][0] == 'T' || f[2][0] == 'F') ? 3 : 4;
      bdd_t *child[2];
      bool ready = true;
      for (int side = 0; side < 2; side++) {
        const std::string &c = side == 0 ? f[2] : f[elseAt];
        if (c[0] == 'T') {
          child[side] = one;
        } else if (c[0] == 'F') {
          child[side] = zero;
        } else if (built.count(c)) {
          child[side] = built[c];
        } else {
          ready = false;
        }
      }
      if (!ready || built.count(f[0])) continue;
      bdd_t *var = bdd_get_variable(mgr, (bdd_variableId)v);
      bdd_t *node = bdd_ite(var, child[0], child[1], 1, 1, 1);
      bdd_free(var);
      if (neg) {
        bdd_t *n = bdd_not(node);
        bdd_free(node);
        node = n;
      }
      built[f[0]] = node;
      pending.erase(f[0]);
      progress = true;
    }
  }
  bdd_t *result = pending.empty() ? bdd_dup(built[lines[0][0]]) : nullptr;
  for (auto &kv : built) bdd_free(kv.second);
  bdd_free(one);
  bdd_free(zero);
  return result;
}

class TextFormTest : public ::testing::Test {
 protected:
  model_test::TestModel model;
  ProgramStructure &ps = model.ps;
  mdd_manager *mgr = model.mgr;

  std::string write(bdd_t *f) {
    std::string s;
    Util::MDD2String(mgr, f, &s);
    return s;
  }
  // Reads a text back, checking the reader's one line of output.
  bdd_t *read(const std::string &text) {
    ::testing::internal::CaptureStdout();
    bdd_t *r = Util::String2MDD(mgr, text);
    EXPECT_EQ("Finished calcualting the MDD from the given string!\n",
              ::testing::internal::GetCapturedStdout());
    return r;
  }
  bdd_t *var(int id) { return bdd_get_variable(mgr, (bdd_variableId)id); }
  // Random texts over the tokens tok(0..) read as the sweeping oracle reads them.
  void readsAsTheSweep(unsigned seed, const std::function<std::string(int)> &tok);
};

TEST_F(TextFormTest, ConstantsAreSingleLetters) {
  bdd_t *one = bdd_one(mgr), *zero = bdd_zero(mgr);
  EXPECT_EQ(" T ", write(one));
  EXPECT_EQ(" F ", write(zero));
  ::testing::internal::CaptureStdout();
  bdd_t *t = Util::String2MDD(mgr, " T ");
  bdd_t *f = Util::String2MDD(mgr, " F ");
  EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
  EXPECT_TRUE(bdd_equal(t, one));
  EXPECT_TRUE(bdd_equal(f, zero));
  for (bdd_t *h : {one, zero, t, f}) bdd_free(h);
}

TEST_F(TextFormTest, ConjunctionAndItsNegationByteForByte) {
  bdd_t *p = var(0), *q = var(1);
  bdd_t *f = bdd_and(p, q, 1, 1);
  bdd_t *nf = bdd_not(f);
  EXPECT_EQ(token(f) + " 0 " + token(q) + " 1  F \n" + token(q) + " 1  T  F \n", write(f));
  EXPECT_EQ(token(nf) + " !0 " + token(q) + " 1  F \n" + token(q) + " 1  T  F \n", write(nf));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(f->node) + 1, reinterpret_cast<uintptr_t>(nf->node));
  for (bdd_t *h : {p, q, f, nf}) bdd_free(h);
}

TEST_F(TextFormTest, SingleVariableAndItsNegation) {
  bdd_t *x = var(3);
  bdd_t *nx = bdd_not(x);
  EXPECT_EQ(token(x) + " 3  T  F \n", write(x));
  EXPECT_EQ(token(nx) + " !3  T  F \n", write(nx));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(x->node) + 1, reinterpret_cast<uintptr_t>(nx->node));
  bdd_t *back = read(write(nx));
  EXPECT_TRUE(bdd_equal(back, nx));
  for (bdd_t *h : {x, nx, back}) bdd_free(h);
}

TEST_F(TextFormTest, NodeReachedInBothPolaritiesGetsTwoLines) {
  bdd_t *a = var(0), *b = var(1);
  bdd_t *f = bdd_ite(a, b, b, 1, 0, 1);  // a xor b
  std::vector<std::string> lines = splitLines(write(f));
  ASSERT_EQ(3u, lines.size());
  // Then-edges are stored regular, so f is a complemented node whose own
  // children are b and not b.
  boolean c = 0;
  bdd_get_node(f, &c);
  ASSERT_EQ(1, c);
  bdd_t *nb = bdd_not(b);
  EXPECT_EQ(token(f) + " !0 " + token(b) + " 1 " + token(nb) + " !1\n", lines[0]);
  EXPECT_EQ(token(b) + " 1  T  F \n", lines[1]);
  EXPECT_EQ(token(nb) + " !1  T  F \n", lines[2]);
  bdd_t *back = read(write(f));
  EXPECT_TRUE(bdd_equal(back, f));
  for (bdd_t *h : {a, b, f, nb, back}) bdd_free(h);
}

// Writes every distinct non-constant reference reachable from f once.
void reachable(bdd_t *h, std::set<uintptr_t> *seen) {
  if (bdd_is_tautology(h, 1) || bdd_is_tautology(h, 0)) return;
  if (!seen->insert(reinterpret_cast<uintptr_t>(h->node)).second) return;
  boolean c = 0;
  bdd_get_node(h, &c);
  bdd_t *m = c ? bdd_not(h) : bdd_dup(h);
  bdd_t *t = bdd_then(m), *e = bdd_else(m);
  reachable(t, seen);
  reachable(e, seen);
  for (bdd_t *x : {m, t, e}) bdd_free(x);
}

TEST_F(TextFormTest, RandomDiagramsRoundTripInAnyLineOrder) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 150; round++) {
    bdd_t *f = randomFunction(mgr, rng, 12, 7, [](int i) { return i; });
    std::string text = write(f);
    if (bdd_is_tautology(f, 1) || bdd_is_tautology(f, 0)) {
      bdd_free(f);
      continue;
    }
    std::vector<std::string> lines = splitLines(text);
    std::set<uintptr_t> refs;
    reachable(f, &refs);
    ASSERT_EQ(refs.size(), lines.size());
    ASSERT_EQ(token(f) + " ", lines[0].substr(0, token(f).size() + 1));
    std::set<std::string> tokens;
    for (auto &l : lines) tokens.insert(l.substr(0, l.find(' ')));
    EXPECT_EQ(lines.size(), tokens.size()) << "one line per reference";

    bdd_t *back = read(text);
    EXPECT_TRUE(bdd_equal(back, f)) << text;
    bdd_free(back);

    // Root first, the others shuffled, then reversed (parents after children).
    std::shuffle(lines.begin() + 1, lines.end(), rng);
    std::string shuffled;
    for (auto &l : lines) shuffled += l;
    back = read(shuffled);
    EXPECT_TRUE(bdd_equal(back, f)) << shuffled;
    bdd_free(back);
    std::reverse(lines.begin() + 1, lines.end());
    std::sort(lines.begin() + 1, lines.end(), [](const std::string &a, const std::string &b) {
      return a.size() < b.size();  // the terminal-only lines come early
    });
    std::string reordered;
    for (auto &l : lines) reordered += l;
    back = read(reordered);
    EXPECT_TRUE(bdd_equal(back, f)) << reordered;
    bdd_free(back);
    bdd_free(f);
  }
}

// Long writer texts with some lines spelled otherwise (other blanks, extra
// fields, constant fields longer than a letter, some tokens replaced by
// names everywhere) read back as the function written: lines exactly as the
// writer makes them and lines read field by field mix in one text.
TEST_F(TextFormTest, LinesSpelledOtherwiseReadAlike) {
  std::mt19937 rng(20261209);
  static const char *const kBlanks[] = {" ", "\t", "  ", " \r", "\v"};
  int longTexts = 0;
  for (int round = 0; round < 100; round++) {
    bdd_t *f = randomFunction(mgr, rng, 12, 8, [](int i) { return i; });
    if (write(f).size() < 512) {  // mostly lines the writer's way after all
      bdd_free(f);
      continue;
    }
    longTexts++;
    std::map<std::string, std::string> names;
    std::string text;
    for (const std::string &l : splitLines(write(f))) {
      std::istringstream in(l);
      std::vector<std::string> fields;
      for (std::string w; in >> w;) fields.push_back(w);
      size_t elseAt = fields[2] == "T" || fields[2] == "F" ? 3 : 4;
      bool respelled = false;
      for (size_t i : {(size_t)0, (size_t)2, elseAt}) {
        if (fields[i] == "T" || fields[i] == "F") {
          if (rng() % 4 == 0) fields[i] += "rue", respelled = true;
          continue;
        }
        auto it = names.emplace(fields[i], rng() % 6 ? fields[i] : "n" + std::to_string(names.size())).first;
        respelled |= it->second != fields[i];
        fields[i] = it->second;
      }
      if (!respelled && rng() % 3 != 0) {
        text += l;
        continue;
      }
      if (rng() % 4 == 0) fields.push_back("extra");
      std::string line;
      for (const std::string &w : fields) line += w + kBlanks[rng() % 5];
      text += line + "\n";
    }
    bdd_t *back = read(text);
    EXPECT_TRUE(bdd_equal(back, f)) << text;
    bdd_free(back);
    bdd_free(f);
  }
  EXPECT_GT(longTexts, 30);
}

TEST_F(TextFormTest, ReaderAcceptsAFinalLineWithoutLineFeedAndOtherBlanks) {
  bdd_t *x = var(5);
  std::string t = token(x);
  bdd_t *back = read(t + "\t5 \t T\tF");
  EXPECT_TRUE(bdd_equal(back, x));
  bdd_free(back);
  bdd_free(x);
}

// A random text over tokens tok(0..): token t's lines refer only to larger
// tokens, a token may have several lines, and a line of token 0 comes first.
static std::string randomText(std::mt19937 &rng, const std::function<std::string(int)> &tok) {
  int ntok = 2 + (int)(rng() % 8);
  std::vector<std::string> lines;
  for (int t = 0; t < ntok; t++) {
    int copies = 1 + (int)(rng() % 3);
    for (int c = 0; c < copies; c++) {
      std::string l = tok(t) + " " + (rng() % 2 ? "!" : "") + std::to_string(rng() % 12);
      for (int side = 0; side < 2; side++) {
        unsigned pick = rng() % 4;
        if (t == ntok - 1 || pick == 0) {
          l += side == 0 ? "  T " : "  T \n";
        } else if (pick == 1) {
          l += side == 0 ? "  F " : "  F \n";
        } else {
          int child = t + 1 + (int)(rng() % (unsigned)(ntok - 1 - t));
          l += " " + tok(child) + " 0" + (side == 0 ? " " : "\n");
        }
      }
      lines.push_back(l);
    }
  }
  std::shuffle(lines.begin() + 1, lines.end(), rng);
  std::string text;
  for (auto &l : lines) text += l;
  return text;
}

static std::string hexToken(const char *prefix, int v) {
  std::ostringstream s;
  s << prefix << std::hex << v;
  return s.str();
}

void TextFormTest::readsAsTheSweep(unsigned seed, const std::function<std::string(int)> &tok) {
  std::mt19937 rng(seed);
  for (int round = 0; round < 300; round++) {
    std::string text = randomText(rng, tok);
    bdd_t *expected = sweepingReader(mgr, text);
    ASSERT_NE(nullptr, expected);
    bdd_t *got = read(text);
    EXPECT_TRUE(bdd_equal(expected, got)) << text;
    bdd_free(expected);
    bdd_free(got);
  }
}

// Texts with repeated tokens (never written by the writer): the reader uses
// the line that sweeping from the last line upwards would build first.
TEST_F(TextFormTest, RepeatedTokensResolveAsTheSweepWould) {
  readsAsTheSweep(77, [](int i) { return hexToken("0x", i + 16); });
}

// Tokens are compared as strings: spellings of one number ("0x10", "0x010",
// "0X10") and names that are no number at all are different tokens.
TEST_F(TextFormTest, TokensAreTheirCharactersNotTheirNumbers) {
  auto tok = [](int i) {
    static const char *const prefixes[] = {"0x", "0x0", "0X", "n"};
    return hexToken(prefixes[i % 4], i / 4 + 16);
  };
  readsAsTheSweep(78, tok);
}

// A diagram of about 400k nodes, made step by step: past a few megabytes
// the walk's queue, the builder's arrays, the reader's tables and the text
// itself live in mappings of their own, and it must still come back whole,
// its renaming too.
TEST(TextFormLarge, HundredsOfThousandsOfNodesRoundTrip) {
  const int nvars = 26;
  bdd_manager *big = bdd_start(nvars);
  std::vector<bdd_build_step> steps;
  // Levels from the bottom: all pairs of distinct children first, then
  // 65536 nodes a level whose pairs (j, j+1) stay distinct, then halving.
  std::vector<int> below = {BDD_BUILD_ONE, BDD_BUILD_ZERO};
  int var = nvars - 1;
  auto level = [&](const std::vector<std::pair<int, int>> &pairs) {
    std::vector<int> made;
    for (const auto &p : pairs) {
      made.push_back((int)steps.size());
      steps.push_back(bdd_build_step{(int)steps.size(), {p.first, p.second}, (bdd_variableId)var, 0});
    }
    var--;
    below = made;
  };
  const size_t wide = 65536;
  while (below.size() < wide) {
    std::vector<int> from = below;
    if (from.size() > 2 || from[0] >= 0) from.insert(from.end(), {BDD_BUILD_ONE, BDD_BUILD_ZERO});
    std::vector<std::pair<int, int>> pairs;
    for (size_t a = 0; a < from.size() && pairs.size() < wide; a++)
      for (size_t b = 0; b < from.size() && pairs.size() < wide; b++)
        if (a != b) pairs.push_back({from[a], from[b]});
    level(pairs);
  }
  for (int k = 0; k < 4; k++) {
    std::vector<std::pair<int, int>> pairs;
    for (size_t j = 0; j < below.size(); j++) pairs.push_back({below[j], below[(j + 1) % below.size()]});
    level(pairs);
  }
  while (below.size() > 1) {
    std::vector<std::pair<int, int>> pairs;
    for (size_t j = 0; j + 1 < below.size(); j += 2) pairs.push_back({below[j], below[j + 1]});
    level(pairs);
  }
  ASSERT_GE(var, -1);
  long ran = 0;
  bdd_t *f = bdd_build_nodes(big, steps.data(), nullptr, (long)steps.size(), (long)steps.size(), below[0], &ran);
  ASSERT_EQ(ran, (long)steps.size());
  // Pairs that are each other's complements make one node.
  ASSERT_GT(bdd_size(f), 400000);

  std::string text;
  Util::MDD2String(big, f, &text);
  EXPECT_GE(std::count(text.begin(), text.end(), '\n'), (long)bdd_size(f) - 1);
  ::testing::internal::CaptureStdout();
  bdd_t *back = Util::String2MDD(big, text);
  ProgramStructure ps;
  for (int v = 0; v < nvars; v++) ps.unPrimedToPrimedBvar[v] = v;  // every id its own counterpart
  bdd_t *same = Util::genPrimed(f, big, &ps);
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(bdd_equal(back, f));
  EXPECT_TRUE(bdd_equal(same, f));
  for (bdd_t *g : {f, back, same}) bdd_free(g);
  bdd_end(big);
}

using TextFormDeathTest = TextFormTest;

TEST_F(TextFormDeathTest, MissingChildLinesEndWithTheirMessage) {
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x20 2  F \n")),
              ::testing::ExitedWithCode(1),
              onlyLine("The BDD pointer of the Then child does not exist for the root ID 3"));
  // Another spelling of a defined token's number is another token.
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x020 2  F \n0x20 2  T  F \n")),
              ::testing::ExitedWithCode(1), "The BDD pointer of the Then child does not exist for the root ID 3");
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 !3  T 0x20 2\n")),
              ::testing::ExitedWithCode(1),
              onlyLine("The BDD pointer of the Else child does not exist for the root ID 3"));
  // Reported in sweep order: the last line first.
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 5 0x20 1 0x30 1\n0x20 7 0x40 2  F \n")),
              ::testing::ExitedWithCode(1),
              onlyLine("The BDD pointer of the Then child does not exist for the root ID 7"));
  // ... and the missing child before a bad variable field elsewhere.
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 1 0x20 1  F \n0x30 x  T  F \n")),
              ::testing::ExitedWithCode(1),
              onlyLine("The BDD pointer of the Then child does not exist for the root ID 1"));
}

TEST_F(TextFormDeathTest, MalformedTextsEndWithOneClearLine) {
  const std::string tooShort = "Util::String2MDD: the given string is too short to describe an MDD!";
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "")), ::testing::ExitedWithCode(1),
              onlyLine(tooShort));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "T")), ::testing::ExitedWithCode(1),
              onlyLine(tooShort));
  auto line = [](int n, const char *what) {
    return "Util::String2MDD: line " + std::to_string(n) + " of the given string " + what;
  };
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3\n")), ::testing::ExitedWithCode(1),
              onlyLine(line(1, "has too few fields!")));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x20 1\n0x20 1  T  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(line(1, "has too few fields!")));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x20 1  F \n\n0x20 1  T  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(line(2, "has too few fields!")));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "\n\n")), ::testing::ExitedWithCode(1),
              onlyLine(line(1, "has too few fields!")));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 x3  T  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(line(1, "has an invalid variable field!")));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 1 0x20 1  F \n0x20 -2  T  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(line(2, "has an invalid variable field!")));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 99999999999  T  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(line(1, "has an invalid variable field!")));
}

TEST_F(TextFormDeathTest, CyclesAndUnknownVariablesEndTheProcess) {
  const std::string cycle =
      "Util::String2MDD: the lines of the given string refer to each other in a cycle!";
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x20 2  F \n0x20 2 0x10 3  T \n")),
              ::testing::ExitedWithCode(1), onlyLine(cycle));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x10 3  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(cycle));
  // A token written twice where no line has its children built.
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3 0x20 2  F \n0x20 2 0x10 3  T \n0x10 3 0x20 2  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(cycle));
  // A cycle among lines the root does not reach still never resolves.
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::String2MDD(mgr, "0x10 3  T  F \n0x20 2 0x30 1  F \n0x30 1 0x20 2  F \n")),
              ::testing::ExitedWithCode(1), onlyLine(cycle));
  EXPECT_EXIT(Util::String2MDD(mgr, "0x10 12  T  F \n"), ::testing::ExitedWithCode(1),
              "bdd_get_variable: assumption violated");
}

class RenamingTest : public TextFormTest {
 protected:
  int swap(int b) {
    auto it = ps.primedToUnPrimedBvar.find(b);
    return it != ps.primedToUnPrimedBvar.end() ? it->second : ps.unPrimedToPrimedBvar.at(b);
  }
  bdd_t *primed(bdd_t *f) {
    ::testing::internal::CaptureStdout();
    bdd_t *r = Util::genPrimed(f, mgr, &ps);
    std::string out = ::testing::internal::GetCapturedStdout();
    bool constant = bdd_is_tautology(f, 1) || bdd_is_tautology(f, 0);
    EXPECT_EQ(constant ? "" : "Finished calcualting the MDD from the given string!\n", out);
    return r;
  }
  bdd_t *unprimed(bdd_t *f) {
    ::testing::internal::CaptureStdout();
    bdd_t *r = Util::genUnPrimed(f, mgr, &ps);
    ::testing::internal::GetCapturedStdout();
    return r;
  }
};

TEST_F(RenamingTest, ConstantsComeBackAsNewConstants) {
  bdd_t *one = bdd_one(mgr), *zero = bdd_zero(mgr);
  bdd_t *a = primed(one), *b = primed(zero), *c = unprimed(one);
  EXPECT_TRUE(bdd_is_tautology(a, 1));
  EXPECT_TRUE(bdd_is_tautology(b, 0));
  EXPECT_TRUE(bdd_is_tautology(c, 1));
  for (bdd_t *h : {one, zero, a, b, c}) bdd_free(h);
}

TEST_F(RenamingTest, LiteralsKeepTheirPolarity) {
  for (int b = 0; b < 12; b++) {
    bdd_t *x = bdd_get_variable(mgr, (bdd_variableId)b);
    bdd_t *nx = bdd_not(x);
    bdd_t *y = bdd_get_variable(mgr, (bdd_variableId)swap(b));
    bdd_t *ny = bdd_not(y);
    bdd_t *rx = primed(x), *rnx = primed(nx), *ux = unprimed(x);
    EXPECT_TRUE(bdd_equal(rx, y)) << b;
    EXPECT_TRUE(bdd_equal(rnx, ny)) << b;
    EXPECT_TRUE(bdd_equal(ux, y)) << "the direction follows the maps, bvar " << b;
    for (bdd_t *h : {x, nx, y, ny, rx, rnx, ux}) bdd_free(h);
  }
}

TEST_F(RenamingTest, RandomFunctionsAreSwappedAndTheSwapIsAnInvolution) {
  for (unsigned seed = 1; seed <= 120; seed++) {
    std::mt19937 rng(seed);
    bdd_t *f = randomFunction(mgr, rng, 12, 6, [](int i) { return i; });
    rng.seed(seed);
    bdd_t *expected = randomFunction(mgr, rng, 12, 6, [&](int i) { return swap(i); });
    bdd_t *p = primed(f);
    EXPECT_TRUE(bdd_equal(p, expected)) << seed;
    bdd_t *pp = primed(p);
    bdd_t *up = unprimed(p);
    EXPECT_TRUE(bdd_equal(pp, f)) << seed;
    EXPECT_TRUE(bdd_equal(up, f)) << seed;
    for (bdd_t *h : {f, expected, p, pp, up}) bdd_free(h);
  }
}

TEST_F(RenamingTest, MultiValuedPredicatesMoveToTheOtherCopy) {
  bdd_t *eq = mdd_func2(mgr, 0, 4, eq2);   // x1 = x3
  bdd_t *eqP = mdd_func2(mgr, 1, 5, eq2);  // x1p = x3p
  bdd_t *r = primed(eq);
  EXPECT_TRUE(bdd_equal(r, eqP));
  bdd_t *mixed = mdd_func2(mgr, 0, 1, neq2);  // x1 != x1p is its own swap
  bdd_t *rm = primed(mixed);
  EXPECT_TRUE(bdd_equal(rm, mixed));
  for (bdd_t *h : {eq, eqP, r, mixed, rm}) bdd_free(h);
}

// A bvar in neither map: a manager with one Boolean variable more than the
// model's (bvar 12), renamed with the model's maps.
class RenamingDeathTest : public RenamingTest {
 protected:
  mdd_manager *wide = nullptr;
  void SetUp() override {
    RenamingTest::SetUp();
    array_t *values = array_alloc(int, 0);
    for (int i = 0; i < 6; i++) array_insert_last(int, values, 4);
    array_insert_last(int, values, 2);
    wide = mdd_init(values, nullptr, nullptr);
    array_free(values);
  }
  void TearDown() override {
    mdd_quit(wide);
    RenamingTest::TearDown();
  }
  bdd_t *v(int id) { return bdd_get_variable(wide, (bdd_variableId)id); }
};

TEST_F(RenamingDeathTest, AnIdWithoutCounterpartEndsWithItsPosition) {
  bdd_t *extra = v(12), *x0 = v(0), *x1 = v(1);
  bdd_t *thenSide = bdd_and(x0, extra, 1, 1);  // x0 ? extra : F
  bdd_t *elseSide = bdd_or(x0, extra, 1, 1);   // x0 ? T : extra
  bdd_t *inner = bdd_and(x1, extra, 1, 1);
  bdd_t *deeper = bdd_and(x0, inner, 1, 1);    // met as the Then child of line 2
  bdd_t *negRoot = bdd_not(extra);

  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(extra, wide, &ps)), ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the root node!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(negRoot, wide, &ps)), ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the root node!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(thenSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the Then child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(elseSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the Else child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(deeper, wide, &ps)), ::testing::ExitedWithCode(1),
              onlyLine("Util.genPrimed():  Invalid var_id of the Then child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genUnPrimed(extra, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genUnPrimed():  Invalid var_id of the root node!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genUnPrimed(thenSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genUnPrimed():  Invalid var_id of the Then child!"));
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genUnPrimed(elseSide, wide, &ps)),
              ::testing::ExitedWithCode(1),
              onlyLine("Util.genUnPrimed():  Invalid var_id of the Else child!"));
  for (bdd_t *h : {extra, x0, x1, thenSide, elseSide, inner, deeper, negRoot}) bdd_free(h);
}

// Counterparts the reader of the renamed text rejects: a negative id is an
// invalid variable field of the line it is written on, an id the manager
// does not have is the handle layer's fatal error.
TEST_F(RenamingDeathTest, CounterpartsTheReaderRejects) {
  ProgramStructure odd;
  odd.unPrimedToPrimedBvar = {{0, 1}, {1, -4}, {2, 40}};
  bdd_t *x0 = var(0), *x1 = var(1), *x2 = var(2);
  bdd_t *both = bdd_and(x0, x1, 1, 1);  // line 2 is x1's
  EXPECT_EXIT(STDOUT_TO_STDERR(Util::genPrimed(both, mgr, &odd)), ::testing::ExitedWithCode(1),
              onlyLine("Util::String2MDD: line 2 of the given string has an invalid variable field!"));
  EXPECT_EXIT(Util::genPrimed(x2, mgr, &odd), ::testing::ExitedWithCode(1), "bdd_get_variable: assumption violated");
  for (bdd_t *h : {x0, x1, x2, both}) bdd_free(h);
}

}  // namespace
