// Reading what a synthesis run leaves behind, for the run's helpers
// (kelvax_check, kelvax_report): node logs of morlet or plain files of
// guarded commands over the program's three variables x1, x2, x3 (values
// 0..3), without the decision-diagram library.
#ifndef KELVAX_RUN_LOGS_H
#define KELVAX_RUN_LOGS_H

#include <array>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace runlog {

const int kVars = 3;
const int kValues = 4;
const int kStates = 64;
const unsigned kAllValues = (1u << kValues) - 1;

typedef std::array<int, kVars> State;  // values of x1, x2, x3

// States are numbered 16 x1 + 4 x2 + x3.
State decode(int index);
int encode(const State &s);
// "(x1 = 0, x2 = 1, x3 = 2)"
std::string stateText(int index);
// The synthesis invariant: x1 = x2 or x2 = x3.
bool inInvariant(int index);

struct Command {
  // Bit v of allowed[i]: the guard allows value v of x<i+1>.
  std::array<unsigned, kVars> allowed{{kAllValues, kAllValues, kAllValues}};
  int process = 0;  // 1..3: the command sets x<process>
  int value = 0;
  std::string text;

  bool enabled(const State &s) const;
  int apply(int index) const;
};

// Reads "GUARD -> xJ := A". GUARD is a minterm ("x1 = 0 x2 = 1"), literals
// joined by " & " ("x1 != 0 & x2 in {1,3} & x3 = 2"; set values ascending,
// no blanks inside the braces) or "true". The guard names each variable at
// most once and only variables process J reads (x<J-1>, x<J>, x<J+1>).
// False with the reason in *error.
bool parseCommand(const std::string &line, Command *cmd, std::string *error);
// Reads a minterm text over all three variables: "x1 = 0 x2 = 1 x3 = 2 ".
bool parseState(const std::string &text, int *index);

// What one node log (or one file of commands) holds.
struct NodeLog {
  std::string path;
  // From "morlet: process P, action xP := A"; 0 and -1 when absent.
  int process = 0;
  int action = -1;
  // Plain command lines: in a node log one per guard minterm.
  std::vector<Command> commands;
  // "compact: " lines: the compact form of the same action.
  std::vector<Command> compact;
  bool haveStates = false;  // some "remaining: " line seen
  std::set<int> remaining;
  bool haveRanks = false;  // the ranks of the last ranking run were listed
  std::map<int, int> rank;  // state -> rank
  bool haveTimes = false;   // the node's closing line with its timers
  double synthesisMs = 0;
  double communicationMs = 0;
};

// Reads one file; other lines are ignored. False with "path:line: reason"
// (or "cannot read path") in *error.
bool readLog(const std::string &path, NodeLog *log, std::string *error);

}  // namespace runlog

#endif
