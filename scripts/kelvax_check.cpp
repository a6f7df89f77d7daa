// Independent check of a synthesized program by explicit enumeration of the
// 64 states of x1, x2, x3 (values 0..3), without the decision-diagram
// library.
//
// Input: files (node logs) holding guarded commands, one per line,
//   x1 = 0 x2 = 1 -> x1 := 1
// and the remaining states, one per line,
//   remaining: x1 = 0 x2 = 1 x3 = 1
// Every file that lists remaining states must list the same set; with
// --all-states every state counts as remaining. Other lines are ignored.
//
// The invariant is (x1 = x2) or (x2 = x3); process j reads x_{j-1}, x_j,
// x_{j+1}. The program passes when, among the remaining states:
//  - every state outside the invariant has an enabled command (no deadlock)
//    and every command enabled there leads to a remaining state;
//  - the commands allow no cycle through states outside the invariant;
//  - every command enabled in a state of the invariant leads to a remaining
//    state of the invariant.
// Exit status: 0 when the program passes, 1 when it fails, 2 for bad input.
#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int kVars = 3;
const int kValues = 4;
const int kStates = 64;
const size_t kShownViolations = 10;

typedef std::array<int, kVars> State;  // values of x1, x2, x3

State decode(int index) { return State{index / 16, (index / 4) % 4, index % 4}; }

int encode(const State &s) { return s[0] * 16 + s[1] * 4 + s[2]; }

std::string stateText(int index) {
  State s = decode(index);
  std::ostringstream out;
  out << "(x1 = " << s[0] << ", x2 = " << s[1] << ", x3 = " << s[2] << ")";
  return out.str();
}

bool inInvariant(int index) {
  State s = decode(index);
  return s[0] == s[1] || s[1] == s[2];
}

struct Command {
  std::vector<std::pair<int, int>> guard;  // (variable 0..2, value)
  int process;                             // 1..3
  int value;
  std::string text;

  bool enabled(const State &s) const {
    for (const auto &g : guard)
      if (s[g.first] != g.second) return false;
    return true;
  }
  int apply(int index) const {
    State s = decode(index);
    s[process - 1] = value;
    return encode(s);
  }
};

// "x<d>" with d in 1..3; returns the variable index 0..2 or -1.
int parseVar(const std::string &token) {
  if (token.size() != 2 || token[0] != 'x' || token[1] < '1' || token[1] > '3') return -1;
  return token[1] - '1';
}

int parseValue(const std::string &token) {
  if (token.size() != 1 || token[0] < '0' || token[0] >= '0' + kValues) return -1;
  return token[0] - '0';
}

// Reads "x1 = 0 x2 = 1 " style assignments from `in` until `stop` (or the
// end); false on anything else.
bool parseAssignments(std::istringstream &in, const std::string &stop,
                      std::vector<std::pair<int, int>> *out, bool *sawStop) {
  std::string token;
  *sawStop = false;
  while (in >> token) {
    if (!stop.empty() && token == stop) {
      *sawStop = true;
      return true;
    }
    std::string eq, value;
    int var = parseVar(token);
    if (var < 0 || !(in >> eq) || eq != "=" || !(in >> value) || parseValue(value) < 0)
      return false;
    out->push_back({var, parseValue(value)});
  }
  return true;
}

bool parseCommand(const std::string &line, Command *cmd, std::string *error) {
  std::istringstream in(line);
  bool sawArrow = false;
  if (!parseAssignments(in, "->", &cmd->guard, &sawArrow) || !sawArrow) {
    *error = "cannot read the guard";
    return false;
  }
  std::string var, assign, value, rest;
  if (!(in >> var >> assign >> value) || parseVar(var) < 0 || assign != ":=" ||
      parseValue(value) < 0 || (in >> rest)) {
    *error = "cannot read the assignment";
    return false;
  }
  cmd->process = parseVar(var) + 1;
  cmd->value = parseValue(value);
  std::set<int> seen;
  for (const auto &g : cmd->guard) {
    if (!seen.insert(g.first).second) {
      *error = "names x" + std::to_string(g.first + 1) + " twice";
      return false;
    }
    int distance = g.first + 1 - cmd->process;
    if (distance < -1 || distance > 1) {
      *error = "reads x" + std::to_string(g.first + 1) + ", which process " +
               std::to_string(cmd->process) + " cannot read";
      return false;
    }
  }
  cmd->text = line;
  return true;
}

bool parseState(const std::string &text, int *index) {
  std::istringstream in(text);
  std::vector<std::pair<int, int>> values;
  bool sawStop = false;
  if (!parseAssignments(in, "", &values, &sawStop) || values.size() != kVars) return false;
  State s{-1, -1, -1};
  for (const auto &v : values) {
    if (s[v.first] >= 0) return false;
    s[v.first] = v.second;
  }
  *index = encode(s);
  return true;
}

struct Input {
  std::vector<Command> commands;
  bool haveStates = false;
  std::set<int> remaining;
  std::string statesFrom;
};

// 0 on success, else prints the reason and returns 2.
int readFile(const std::string &path, Input *input) {
  std::ifstream file(path);
  if (!file) {
    std::cout << "kelvax_check: cannot read " << path << std::endl;
    return 2;
  }
  std::set<int> states;
  bool haveStates = false;
  std::string line;
  int number = 0;
  while (std::getline(file, line)) {
    number++;
    const std::string prefix = "remaining: ";
    if (line.compare(0, prefix.size(), prefix) == 0) {
      int index = 0;
      if (!parseState(line.substr(prefix.size()), &index)) {
        std::cout << "kelvax_check: " << path << ":" << number << ": cannot read the state \""
                  << line << "\"" << std::endl;
        return 2;
      }
      states.insert(index);
      haveStates = true;
    } else if (line.find(" -> ") != std::string::npos) {
      Command cmd;
      std::string error;
      if (!parseCommand(line, &cmd, &error)) {
        std::cout << "kelvax_check: " << path << ":" << number << ": \"" << line << "\" "
                  << error << std::endl;
        return 2;
      }
      input->commands.push_back(cmd);
    }
  }
  if (haveStates) {
    if (input->haveStates && states != input->remaining) {
      std::cout << "kelvax_check: " << path << " and " << input->statesFrom
                << " list different remaining states" << std::endl;
      return 2;
    }
    input->haveStates = true;
    input->remaining = states;
    input->statesFrom = path;
  }
  return 0;
}

void report(const std::string &what, const std::vector<std::string> &violations) {
  std::cout << "kelvax_check: " << violations.size() << " " << what << std::endl;
  for (size_t i = 0; i < violations.size() && i < kShownViolations; i++)
    std::cout << "  " << violations[i] << std::endl;
  if (violations.size() > kShownViolations)
    std::cout << "  ... and " << violations.size() - kShownViolations << " more" << std::endl;
}

}  // namespace

int main(int argc, char **argv) {
  Input input;
  bool allStates = false;
  std::vector<std::string> files;
  for (int i = 1; i < argc; i++) {
    std::string arg = argv[i];
    if (arg == "--all-states")
      allStates = true;
    else if (arg == "-h" || arg == "--help") {
      std::cout << "Usage: kelvax_check [--all-states] FILE..." << std::endl;
      return 0;
    } else
      files.push_back(arg);
  }
  if (files.empty()) {
    std::cout << "Usage: kelvax_check [--all-states] FILE..." << std::endl;
    return 2;
  }
  for (const std::string &f : files)
    if (int rc = readFile(f, &input)) return rc;
  if (allStates) {
    input.remaining.clear();
    for (int s = 0; s < kStates; s++) input.remaining.insert(s);
  } else if (!input.haveStates) {
    std::cout << "kelvax_check: no remaining states given (use --all-states to check all 64)"
              << std::endl;
    return 2;
  }

  std::array<bool, kStates> remaining{};
  int inside = 0;
  for (int s : input.remaining) {
    remaining[s] = true;
    if (inInvariant(s)) inside++;
  }
  std::cout << "kelvax_check: " << input.commands.size() << " guarded commands, "
            << input.remaining.size() << " remaining states (" << inside
            << " in the invariant, " << input.remaining.size() - inside << " outside)"
            << std::endl;

  std::vector<std::string> deadlocks, escapes, closure;
  std::array<std::vector<int>, kStates> successors;  // outside the invariant only
  for (int s = 0; s < kStates; s++) {
    if (!remaining[s]) continue;
    State st = decode(s);
    bool any = false;
    for (const Command &c : input.commands) {
      if (!c.enabled(st)) continue;
      any = true;
      int t = c.apply(s);
      if (inInvariant(s)) {
        if (!inInvariant(t) || !remaining[t])
          closure.push_back(stateText(s) + " --[" + c.text + "]--> " + stateText(t) +
                            (inInvariant(t) ? ", not a remaining state" : ", outside"));
      } else if (!remaining[t]) {
        escapes.push_back(stateText(s) + " --[" + c.text + "]--> " + stateText(t));
      } else if (!inInvariant(t)) {
        successors[s].push_back(t);
      }
    }
    if (!inInvariant(s) && !any) deadlocks.push_back(stateText(s));
  }

  // Cycles among the states outside the invariant: depth-first search with
  // colours; the depth of the acyclic graph is the longest recovery path.
  std::vector<std::string> cycles;
  std::array<int, kStates> colour{};  // 0 new, 1 on the stack, 2 done
  std::array<int, kStates> depth{};
  std::vector<int> path;
  struct Frame {
    int state;
    size_t next;
  };
  for (int root = 0; root < kStates; root++) {
    if (!remaining[root] || inInvariant(root) || colour[root] != 0) continue;
    std::vector<Frame> stack{{root, 0}};
    colour[root] = 1;
    depth[root] = 1;
    while (!stack.empty()) {
      Frame &f = stack.back();
      if (f.next < successors[f.state].size()) {
        int t = successors[f.state][f.next++];
        if (colour[t] == 1) {
          std::string cycle;
          bool on = false;
          for (const Frame &g : stack) {
            if (g.state == t) on = true;
            if (on) cycle += stateText(g.state) + " -> ";
          }
          cycles.push_back(cycle + stateText(t));
        } else if (colour[t] == 0) {
          colour[t] = 1;
          depth[t] = 1;
          stack.push_back({t, 0});
        }
        continue;
      }
      int s = f.state;
      for (int t : successors[s])
        if (colour[t] == 2 && depth[t] + 1 > depth[s]) depth[s] = depth[t] + 1;
      colour[s] = 2;
      stack.pop_back();
    }
  }
  int longest = 0;
  for (int s = 0; s < kStates; s++)
    if (remaining[s] && !inInvariant(s) && depth[s] > longest) longest = depth[s];

  bool ok = deadlocks.empty() && escapes.empty() && cycles.empty() && closure.empty();
  if (deadlocks.empty())
    std::cout << "kelvax_check: no deadlock outside the invariant" << std::endl;
  else
    report("deadlocked states outside the invariant:", deadlocks);
  if (!escapes.empty()) report("steps that leave the remaining states:", escapes);
  if (cycles.empty())
    std::cout << "kelvax_check: no cycle outside the invariant (longest recovery: " << longest
              << (longest == 1 ? " step" : " steps") << ")" << std::endl;
  else
    report("cycles outside the invariant:", cycles);
  if (closure.empty())
    std::cout << "kelvax_check: every action enabled inside the invariant keeps it there"
              << std::endl;
  else
    report("steps that break the invariant's closure:", closure);
  std::cout << (ok ? "kelvax_check: the program is correct" : "kelvax_check: the program is NOT correct")
            << std::endl;
  return ok ? 0 : 1;
}
