// Independent check of a synthesized program by explicit enumeration of the
// 64 states of x1, x2, x3 (values 0..3), without the decision-diagram
// library.
//
// Input: files (node logs) holding guarded commands, one per line,
//   x1 = 0 x2 = 1 -> x1 := 1
//   x1 != 0 & x2 in {1,3} -> x1 := 1
// and the remaining states, one per line,
//   remaining: x1 = 0 x2 = 1 x3 = 1
// Every file that lists remaining states must list the same set; with
// --all-states every state counts as remaining. Lines "compact: COMMAND"
// give the compact form of the same program: it must allow exactly the
// moves the other commands allow, in every state. Other lines are ignored.
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
#include <iostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "run_logs.h"

namespace {

using runlog::Command;
using runlog::decode;
using runlog::inInvariant;
using runlog::kStates;
using runlog::State;
using runlog::stateText;

const size_t kShownViolations = 10;

struct Input {
  std::vector<Command> commands;
  std::vector<Command> compact;
  bool haveStates = false;
  std::set<int> remaining;
  std::string statesFrom;
};

// 0 on success, else prints the reason and returns 2.
int readFile(const std::string &path, Input *input) {
  runlog::NodeLog log;
  std::string error;
  if (!runlog::readLog(path, &log, &error)) {
    std::cout << "kelvax_check: " << error << std::endl;
    return 2;
  }
  input->commands.insert(input->commands.end(), log.commands.begin(), log.commands.end());
  input->compact.insert(input->compact.end(), log.compact.begin(), log.compact.end());
  if (log.haveStates) {
    if (input->haveStates && log.remaining != input->remaining) {
      std::cout << "kelvax_check: " << path << " and " << input->statesFrom
                << " list different remaining states" << std::endl;
      return 2;
    }
    input->haveStates = true;
    input->remaining = log.remaining;
    input->statesFrom = path;
  }
  return 0;
}

// Every (state, process, value) some command allows, over all 64 states.
std::set<std::tuple<int, int, int>> movesOf(const std::vector<Command> &commands) {
  std::set<std::tuple<int, int, int>> moves;
  for (int s = 0; s < kStates; s++)
    for (const Command &c : commands)
      if (c.enabled(decode(s))) moves.insert(std::make_tuple(s, c.process, c.value));
  return moves;
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

  // The compact form against the commands, state by state.
  std::vector<std::string> differences;
  if (!input.compact.empty()) {
    std::set<std::tuple<int, int, int>> plain = movesOf(input.commands),
                                        compact = movesOf(input.compact);
    for (int side = 0; side < 2; side++)
      for (const auto &m : side == 0 ? plain : compact)
        if (!(side == 0 ? compact : plain).count(m))
          differences.push_back("x" + std::to_string(std::get<1>(m)) + " := " +
                                std::to_string(std::get<2>(m)) + " in " +
                                stateText(std::get<0>(m)) +
                                (side == 0 ? ": not in the compact form" : ": only in the compact form"));
  }

  bool ok = deadlocks.empty() && escapes.empty() && cycles.empty() && closure.empty() &&
            differences.empty();
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
  if (!input.compact.empty()) {
    if (differences.empty())
      std::cout << "kelvax_check: the compact form (" << input.compact.size()
                << " guarded commands) allows exactly the same moves" << std::endl;
    else
      report("moves on which the compact form and the guarded commands differ:", differences);
  }
  std::cout << (ok ? "kelvax_check: the program is correct" : "kelvax_check: the program is NOT correct")
            << std::endl;
  return ok ? 0 : 1;
}
