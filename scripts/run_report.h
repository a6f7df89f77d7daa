// What scripts/run leaves in a run's log folder besides the logs: the
// picture of recovery (recovery.svg) and the run's figures for other
// programs (summary.json). Standard library only.
#ifndef KELVAX_RUN_REPORT_H
#define KELVAX_RUN_REPORT_H

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "run_logs.h"

namespace runreport {

// The 64 states of x1, x2, x3, each once: four 4x4 panels, one per value of
// x1, rows x2, columns x3. A state's fill is its rank (`rank`: state ->
// rank in the last ranking run; states not in it are unranked), a thick ring
// marks the invariant, a dashed one a state not in `remaining`. One arrow per
// move of the program (a pair of distinct states some command links),
// coloured by process; moves from states not in `remaining` are dashed. A
// legend explains all of it. Each state's element carries
// data-state="v1 v2 v3", data-rank (a number or "none") and data-invariant
// ("1" or "0"); each move's element data-move="v1 v2 v3 -> w1 w2 w3".
// Returns the number of moves drawn.
int writeRecoverySvg(std::ostream &out, const std::vector<runlog::Command> &commands,
                     const std::set<int> &remaining, const std::map<int, int> &rank);

struct NodeSummary {
  int process = 0;  // 0 when unknown
  int action = -1;  // -1 when unknown
  int guardedCommands = 0;
  bool haveTimes = false;
  double synthesisMs = 0;
  double communicationMs = 0;
};

struct RunSummary {
  std::string outcome;
  int addcoorIterations = 0;
  int guardedCommands = 0;
  int compactCommands = 0;
  int states = runlog::kStates;
  int remainingStates = 0;
  bool checkPassed = false;
  long wallMs = 0;
  std::vector<NodeSummary> nodes;
};

// One JSON object with the fields outcome, addcoor_iterations,
// guarded_commands, compact_commands, states, remaining_states, check
// ("pass" or "fail"), wall_ms and nodes (objects with process, action,
// guarded_commands, synthesis_ms, communication_ms; unknown values null).
void writeSummaryJson(std::ostream &out, const RunSummary &summary);

// text as a JSON string literal, quotes included.
std::string jsonString(const std::string &text);

}  // namespace runreport

#endif
