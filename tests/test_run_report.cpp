// The files a run writes besides its logs, read back: the picture of
// recovery against the program it shows, the summary field by field, and
// the report helper on a log.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "run_logs.h"
#include "run_report.h"
#include "support/fake_node.h"
#include "support/program_model.h"

using model_test::decode;
using model_test::inInvariant;
using model_test::State;

namespace {

typedef std::map<std::string, std::string> Attributes;

// The attributes of every element of an XML document, in order; false when
// the tags do not nest, an attribute is not quoted, or text holds '<' or '&'.
bool readXml(const std::string &text, std::vector<Attributes> *elements,
             std::string *characters) {
  const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  const char *const letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ-";
  if (text.compare(0, declaration.size(), declaration) != 0) return false;
  std::vector<std::string> open;
  for (size_t at = declaration.size(), lt; at < text.size(); at++) {
    lt = std::min(text.find('<', at), text.size());
    std::string between = text.substr(at, lt - at);
    if (between.find('&') != std::string::npos ||
        (open.empty() && between.find_first_not_of(" \n") != std::string::npos))
      return false;
    *characters += between;
    if (lt == text.size()) break;
    size_t i = lt + 1 + (text[lt + 1] == '/');
    size_t nameEnd = std::min(text.find_first_not_of(letters, i), text.size());
    std::string name = text.substr(i, nameEnd - i);
    if (name.empty()) return false;
    if (text[lt + 1] == '/') {
      if (text[nameEnd] != '>' || open.empty() || open.back() != name) return false;
      open.pop_back();
      at = nameEnd;
      continue;
    }
    if (open.empty() && !elements->empty()) return false;  // a second root
    elements->emplace_back();
    for (i = nameEnd;;) {
      size_t key = text.find_first_not_of(" \n", i);
      if (key == std::string::npos) return false;
      if (text[key] == '>' || text.compare(key, 2, "/>") == 0) {
        i = key;
        break;
      }
      size_t eq = text.find("=\"", key);
      size_t close = eq == std::string::npos ? eq : text.find('"', eq + 2);
      if (key == i || close == std::string::npos) return false;  // blanks between attributes
      std::string name = text.substr(key, eq - key), value = text.substr(eq + 2, close - eq - 2);
      if (name.find_first_not_of(letters) != std::string::npos ||
          value.find_first_of("<&") != std::string::npos ||
          !elements->back().insert({name, value}).second)
        return false;
      i = close + 1;
    }
    if (text[i] == '>') open.push_back(name);
    at = text[i] == '>' ? i : i + 1;
  }
  return open.empty() && !elements->empty();
}

// One JSON value at s[at]; every member's value is recorded under its path
// ("nodes.1.process"), in document order, scalars as their text (strings
// unescaped). False when malformed.
bool readJson(const std::string &s, size_t &at, const std::string &path,
              std::vector<std::pair<std::string, std::string>> *members) {
  auto blanks = [&] { at = std::min(s.size(), s.find_first_not_of(" \n", at)); };
  auto string = [&](std::string *out) {
    if (s[at] != '"') return false;
    for (at++; at < s.size() && s[at] != '"'; at++) {
      char c = s[at];
      if (c == '\\') {
        c = s[++at];
        if (c == 'n') c = '\n';
        else if (c != '"' && c != '\\') return false;
      }
      *out += c;
    }
    return at < s.size() && s[at++] == '"';
  };
  blanks();
  char open = s[at], close = open == '{' ? '}' : ']';
  std::string text;
  if (open == '{' || open == '[') {
    at++;
    blanks();
    for (int i = 0; s[at] != close; i++) {
      std::string name = open == '[' ? std::to_string(i) : "";
      if (i > 0 && s[at++] != ',') return false;
      blanks();
      if (open == '{' && (!string(&name) || (blanks(), s[at++] != ':'))) return false;
      std::string sub = path.empty() ? name : path + "." + name;
      members->push_back({sub, ""});
      if (!readJson(s, at, sub, members)) return false;
      blanks();
    }
    at++;
    return true;
  }
  if (open == '"') {
    if (!string(&text)) return false;
  } else {
    // null, true, false or -?(0|[1-9][0-9]*)(.[0-9]+)?
    text = s.substr(at, std::min(s.find_first_of(",]} \n", at), s.size()) - at);
    at += text.size();
    std::string digits = text.substr(text[0] == '-');
    size_t point = std::min(digits.find('.'), digits.size());
    bool number = point > 0 && (digits[0] != '0' || point == 1) && point + 1 != digits.size() &&
                  digits.substr(0, point).find_first_not_of("0123456789") == std::string::npos &&
                  digits.find_first_not_of("0123456789", point + 1) == std::string::npos;
    if (!number && text != "null" && text != "true" && text != "false") return false;
  }
  if (!members->empty()) members->back().second = text;
  return true;
}

std::string values(const State &v) {
  return std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]);
}

// The moves of the reference program by its rule: x1 and x3 copy x2, and
// outside the invariant x2 copies either neighbour.
std::set<std::string> referenceMoves() {
  std::set<std::string> moves;
  for (int s = 0; s < 64; s++) {
    State v = decode(s);
    std::vector<State> next;
    if (v[0] != v[1]) next.push_back({{v[1], v[1], v[2]}});
    if (v[2] != v[1]) next.push_back({{v[0], v[1], v[1]}});
    if (!inInvariant(s)) {
      next.push_back({{v[0], v[0], v[2]}});
      next.push_back({{v[0], v[2], v[2]}});
    }
    for (const State &w : next) moves.insert(values(v) + " -> " + values(w));
  }
  return moves;
}

TEST(RecoveryPicture, ShowsEveryStateOnceAndOneArrowPerMove) {
  std::vector<runlog::Command> commands;
  for (const std::string &line : model_test::referenceProgram()) {
    std::string error;
    commands.emplace_back();
    ASSERT_TRUE(runlog::parseCommand(line, &commands.back(), &error)) << line;
  }
  // Rank 0 in the invariant, 1, 2 and 7 by x3 outside; three states gone,
  // the states outside with x3 = 3 unranked.
  std::set<int> remaining;
  std::map<int, int> rank = {{9, 1}};  // not shown: state 9 is gone
  for (int s = 0; s < 64; s++) {
    if (s == 6 || s == 9 || s == 40) continue;
    remaining.insert(s);
    int x3 = decode(s)[2];
    if (inInvariant(s) || x3 < 3) rank[s] = inInvariant(s) ? 0 : x3 == 2 ? 7 : x3 + 1;
  }
  std::ostringstream svg;
  int drawn = runreport::writeRecoverySvg(svg, commands, remaining, rank);

  std::vector<Attributes> elements;
  std::string texts;
  ASSERT_TRUE(readXml(svg.str(), &elements, &texts)) << svg.str();
  EXPECT_EQ("http://www.w3.org/2000/svg", elements[0]["xmlns"]);
  std::vector<Attributes> ignored;
  std::string broken = svg.str(), unquoted = svg.str(), t;
  EXPECT_FALSE(readXml(broken.replace(broken.find("</g>"), 4, "</a>"), &ignored, &t));
  EXPECT_FALSE(readXml(unquoted.replace(unquoted.find("\"0 0 0\""), 7, "0"), &ignored, &t));
  EXPECT_FALSE(readXml(svg.str() + "<svg/>", &ignored, &t));
  std::set<std::string> states, moves;
  size_t moveElements = 0;
  for (Attributes &e : elements) {
    if (e.count("data-move")) moveElements++, moves.insert(e["data-move"]);
    if (!e.count("data-state")) continue;
    int s = -1;
    for (int i = 0; i < 64; i++)
      if (values(decode(i)) == e["data-state"]) s = i;
    ASSERT_GE(s, 0) << e["data-state"];
    EXPECT_TRUE(states.insert(e["data-state"]).second);
    bool shown = remaining.count(s) && rank.count(s);
    EXPECT_EQ(shown ? std::to_string(rank[s]) : "none", e["data-rank"]) << s;
    EXPECT_EQ(inInvariant(s) ? "1" : "0", e["data-invariant"]) << s;
  }
  EXPECT_EQ(64u, states.size());
  EXPECT_EQ(referenceMoves(), moves);
  EXPECT_EQ(moves.size(), moveElements);
  EXPECT_EQ((int)moves.size(), drawn);
  for (const char *label : {"rank 0", "rank 2", "rank 5+", "not ranked", "not remaining",
                            "in the invariant", "process 3 (x3 := a)",
                            "x1 = 0, x2 = 0, x3 = 3: rank 0, in the invariant",
                            "x1 = 0, x2 = 2, x3 = 1: not remaining, outside the invariant"})
    EXPECT_NE(std::string::npos, texts.find(label)) << label;
}

TEST(Summary, WritesEveryFieldInOrderAndEscapesTheOutcome) {
  runreport::RunSummary s;
  s.outcome = "Said \"done\" \\ twice\n";
  s.addcoorIterations = 3;
  s.guardedCommands = 84;
  s.compactCommands = 32;
  s.remainingStates = 61;
  s.checkPassed = true;
  s.wallMs = 1234;
  s.nodes.resize(2);
  s.nodes[0] = {2, 0, 15, true, 1.25, 1000.5};
  std::ostringstream out;
  runreport::writeSummaryJson(out, s);
  std::vector<std::pair<std::string, std::string>> members;
  size_t at = 0;
  ASSERT_TRUE(readJson(out.str(), at, "", &members)) << out.str();
  EXPECT_EQ(std::string::npos, out.str().find_first_not_of(" \n", at));
  std::vector<std::pair<std::string, std::string>> expected = {
      {"outcome", s.outcome}, {"addcoor_iterations", "3"}, {"guarded_commands", "84"},
      {"compact_commands", "32"}, {"states", "64"}, {"remaining_states", "61"},
      {"check", "pass"}, {"wall_ms", "1234"}, {"nodes", ""},
      {"nodes.0", ""}, {"nodes.0.process", "2"}, {"nodes.0.action", "0"},
      {"nodes.0.guarded_commands", "15"}, {"nodes.0.synthesis_ms", "1.250"},
      {"nodes.0.communication_ms", "1000.500"},
      {"nodes.1", ""}, {"nodes.1.process", "null"}, {"nodes.1.action", "null"},
      {"nodes.1.guarded_commands", "0"}, {"nodes.1.synthesis_ms", "null"},
      {"nodes.1.communication_ms", "null"}};
  EXPECT_EQ(expected, members);

  s.nodes.clear();
  s.checkPassed = false;
  std::ostringstream empty;
  runreport::writeSummaryJson(empty, s);
  members.clear();
  at = 0;
  ASSERT_TRUE(readJson(empty.str(), at, "", &members)) << empty.str();
  EXPECT_EQ(9u, members.size());
  EXPECT_EQ("fail", members[6].second);
}

TEST(ReportHelper, SumsTheNodesTimesAndRefusesBadInput) {
  std::string dir = run_test::makeTempDir("report");
  std::string log = dir + "/node.log", out;
  std::ofstream(log) << "morlet: process 3, action x3 := 1\nx2 = 1 x3 = 0 -> x3 := 1\n"
                     << "morlet: synthesis time 2.500 ms, communication time 40.125 ms\n";
  auto report = [&](std::vector<std::string> args) {
    args.insert(args.begin(), KELVAX_REPORT_BIN);
    run_test::Child child(args, dir + "/report.out");
    EXPECT_TRUE(child.waitFor(30000));
    out = child.output();
    return child.exitCode();
  };
  ASSERT_EQ(0, report({"--json", dir + "/s.json", log, log})) << out;
  EXPECT_NE(std::string::npos,
            out.find("Nodes' time in total (2 nodes): synthesis 5.000 ms, communication 80.250 ms"))
      << out;
  std::ifstream json(dir + "/s.json");
  std::string summary((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, summary.find("{\"process\": 3, \"action\": 1, \"guarded_commands\": 1, "
                                            "\"synthesis_ms\": 2.500, \"communication_ms\": 40.125}"))
      << summary;
  EXPECT_EQ(2, report({"--check", "maybe", log}));
  EXPECT_EQ(2, report({"--svg"}));
  EXPECT_EQ(2, report({"--json", dir + "/x.json"}));  // no log
  EXPECT_EQ(2, report({dir + "/missing.log"}));
  EXPECT_NE(std::string::npos, out.find("cannot read")) << out;
  EXPECT_EQ(1, report({"--json", dir + "/no/such/dir/s.json", log}));
}

}  // namespace
