#include "run_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace runreport {

namespace {

using runlog::decode;
using runlog::inInvariant;
using runlog::kStates;
using runlog::State;

// ---- Layout -------------------------------------------------------------------------
const double kPitch = 60;     // distance between neighbouring states
const double kRadius = 18;    // of a state's circle
const double kPanelGap = 84;  // between two panels
const double kLeft = 86;      // room for the row labels
const double kGridTop = 150;
const double kPanelWidth = 4 * kPitch;
const double kWidth = kLeft + 4 * kPanelWidth + 3 * kPanelGap + 30;
const double kLegendTop = kGridTop + 4 * kPitch + 46;
const double kHeight = kLegendTop + 150;

// Fills by rank (the last one for every higher rank too).
const char *const kRankFill[] = {"#5bb867", "#ffe36e", "#ffb04c", "#f27a45", "#d9443a", "#9e2a45"};
const int kRankFills = sizeof kRankFill / sizeof kRankFill[0];
const char *const kUnrankedFill = "#d0d0d0";
const char *const kGoneFill = "#ffffff";
// Arrows by process 1..3.
const char *const kMoveColour[] = {"", "#1f5fbf", "#8e3cb0", "#13857d"};

struct Point {
  double x, y;
};

Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(Point a, double k) { return {a.x * k, a.y * k}; }

Point unit(Point a) {
  double length = std::sqrt(a.x * a.x + a.y * a.y);
  return length > 0 ? a * (1 / length) : Point{0, 0};
}

double panelLeft(int x1) { return kLeft + x1 * (kPanelWidth + kPanelGap); }

Point centre(int s) {
  State v = decode(s);
  return {panelLeft(v[0]) + v[2] * kPitch + kPitch / 2, kGridTop + v[1] * kPitch + kPitch / 2};
}

std::string number(double x) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f", x);
  return buffer;
}

std::string values(int s) {
  State v = decode(s);
  return std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]);
}

const char *fillOf(int s, const std::set<int> &remaining, const std::map<int, int> &rank) {
  if (!remaining.count(s)) return kGoneFill;
  auto r = rank.find(s);
  if (r == rank.end()) return kUnrankedFill;
  return kRankFill[std::min(r->second, kRankFills - 1)];
}

// A move as a cubic curve from circle to circle. Neighbours get a slight
// bend; longer moves leave the line of states into the gap beside it (to
// the right of the direction of travel, so that opposite moves part), pass
// the states in between there and come back to their target.
std::string movePath(int from, int to) {
  Point a = centre(from), b = centre(to);
  Point along = unit(b - a);
  Point side = {-along.y, along.x};
  double length = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
  double lift = length <= kPitch + 1 ? 9 : 0.62 * kPitch;
  // Moves between panels keep apart by their column.
  if (decode(from)[0] != decode(to)[0]) lift = (0.5 + 0.05 * decode(from)[2]) * kPitch;
  double run = std::min(length / 3, 0.7 * kPitch);
  Point c1 = a + side * lift + along * run;
  Point c2 = b + side * lift - along * run;
  Point start = a + unit(c1 - a) * kRadius;
  Point end = b + unit(c2 - b) * (kRadius + 1.5);
  return "M" + number(start.x) + "," + number(start.y) + " C" + number(c1.x) + "," +
         number(c1.y) + " " + number(c2.x) + "," + number(c2.y) + " " + number(end.x) + "," +
         number(end.y);
}

void text(std::ostream &out, double x, double y, const std::string &s, const char *extra = "") {
  out << "<text x=\"" << number(x) << "\" y=\"" << number(y) << "\"" << extra << ">" << s
      << "</text>\n";
}

void stateCircle(std::ostream &out, Point c, const char *fill, bool invariant, bool gone,
                 double radius) {
  out << "<circle cx=\"" << number(c.x) << "\" cy=\"" << number(c.y) << "\" r=\""
      << number(radius) << "\" fill=\"" << fill << "\" stroke=\""
      << (invariant ? "#111111" : "#666666") << "\" stroke-width=\"" << (invariant ? 3.2 : 1.2)
      << "\"" << (gone ? " stroke-dasharray=\"4 3\"" : "") << "/>\n";
}

}  // namespace

int writeRecoverySvg(std::ostream &out, const std::vector<runlog::Command> &commands,
                     const std::set<int> &remaining, const std::map<int, int> &rank) {
  // Moves, once per pair of states, by the process whose command makes it.
  std::map<std::pair<int, int>, int> moves;
  for (int s = 0; s < kStates; s++)
    for (const runlog::Command &c : commands)
      if (c.enabled(decode(s)) && c.apply(s) != s) moves[{s, c.apply(s)}] = c.process;
  int maxRank = -1, inside = 0;
  bool unranked = false, gone = false, goneMoves = false;
  for (int s = 0; s < kStates; s++) {
    inside += inInvariant(s);
    if (!remaining.count(s)) gone = true;
    else if (!rank.count(s)) unranked = true;
    else maxRank = std::max(maxRank, rank.at(s));
  }
  for (const auto &m : moves) goneMoves = goneMoves || !remaining.count(m.first.first);

  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << number(kWidth) << "\" height=\""
      << number(kHeight) << "\" viewBox=\"0 0 " << number(kWidth) << " " << number(kHeight)
      << "\" font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"13\">\n"
      << "<title>Recovery by the synthesized program</title>\n"
      << "<defs>\n";
  for (int p = 1; p <= 3; p++)
    out << "<marker id=\"head" << p << "\" viewBox=\"0 0 10 10\" refX=\"9\" refY=\"5\" "
        << "markerWidth=\"9\" markerHeight=\"9\" markerUnits=\"userSpaceOnUse\" orient=\"auto\">"
        << "<path d=\"M0,0 L10,5 L0,10 z\" fill=\"" << kMoveColour[p] << "\"/></marker>\n";
  out << "</defs>\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
  text(out, kLeft, 34, "Recovery by the synthesized program", " font-size=\"20\" font-weight=\"bold\"");
  text(out, kLeft, 58,
       std::to_string(kStates) + " states (" + std::to_string(inside) +
           " in the invariant), one panel per value of x1, rows x2, columns x3; fill: rank in "
           "the last ranking run; " +
           std::to_string(moves.size()) + " moves of the program");

  // Panels with their labels.
  for (int x1 = 0; x1 < 4; x1++) {
    double left = panelLeft(x1);
    out << "<rect x=\"" << number(left) << "\" y=\"" << number(kGridTop) << "\" width=\""
        << number(kPanelWidth) << "\" height=\"" << number(4 * kPitch)
        << "\" rx=\"8\" fill=\"#f4f6f8\" stroke=\"#c8ced6\"/>\n";
    text(out, left + kPanelWidth / 2, kGridTop - 42, "x1 = " + std::to_string(x1),
         " text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\"");
    for (int x3 = 0; x3 < 4; x3++)
      text(out, left + x3 * kPitch + kPitch / 2, kGridTop - 12, "x3 = " + std::to_string(x3),
           " text-anchor=\"middle\" font-size=\"11\" fill=\"#444444\"");
  }
  for (int x2 = 0; x2 < 4; x2++)
    text(out, kLeft - 12, kGridTop + x2 * kPitch + kPitch / 2 + 4, "x2 = " + std::to_string(x2),
         " text-anchor=\"end\" font-size=\"11\" fill=\"#444444\"");

  // Moves below the states, so that a curve passing a state goes under it.
  out << "<g fill=\"none\" stroke-width=\"1.6\" stroke-opacity=\"0.8\">\n";
  for (const auto &m : moves) {
    int from = m.first.first, to = m.first.second, p = m.second;
    out << "<path data-move=\"" << values(from) << " -> " << values(to) << "\" d=\""
        << movePath(from, to) << "\" stroke=\"" << kMoveColour[p] << "\" marker-end=\"url(#head"
        << p << ")\"" << (remaining.count(from) ? "" : " stroke-dasharray=\"5 4\"") << "/>\n";
  }
  out << "</g>\n";

  for (int s = 0; s < kStates; s++) {
    auto r = rank.find(s);
    bool ranked = r != rank.end() && remaining.count(s);
    std::string rankText = ranked ? std::to_string(r->second) : "none";
    State v = decode(s);
    out << "<g data-state=\"" << values(s) << "\" data-rank=\"" << rankText
        << "\" data-invariant=\"" << (inInvariant(s) ? 1 : 0) << "\">\n"
        << "<title>x1 = " << v[0] << ", x2 = " << v[1] << ", x3 = " << v[2] << ": "
        << (!remaining.count(s) ? "not remaining" : ranked ? "rank " + rankText : "not ranked")
        << (inInvariant(s) ? ", in the invariant" : ", outside the invariant") << "</title>\n";
    Point c = centre(s);
    stateCircle(out, c, fillOf(s, remaining, rank), inInvariant(s), !remaining.count(s), kRadius);
    // Dark fills take a white number.
    bool dark = ranked && r->second >= 4;
    if (ranked)
      text(out, c.x, c.y + 4.5, rankText,
           dark ? " text-anchor=\"middle\" fill=\"#ffffff\"" : " text-anchor=\"middle\"");
    out << "</g>\n";
  }

  // Legend: fills, rings, arrows.
  double y = kLegendTop, x = kLeft;
  text(out, x, y, "Rank in the last ranking run:", " font-weight=\"bold\"");
  x += 230;
  for (int k = 0; k <= maxRank && k < kRankFills; k++) {
    stateCircle(out, {x + 10, y - 4}, kRankFill[k], false, false, 9);
    std::string label = "rank " + std::to_string(k) + (k == kRankFills - 1 && maxRank > k ? "+" : "");
    text(out, x + 24, y, label);
    x += 84;
  }
  if (unranked) {
    stateCircle(out, {x + 10, y - 4}, kUnrankedFill, false, false, 9);
    text(out, x + 24, y, "not ranked");
    x += 104;
  }
  if (gone) {
    stateCircle(out, {x + 10, y - 4}, kGoneFill, false, true, 9);
    text(out, x + 24, y, "not remaining");
  }
  y += 34;
  x = kLeft;
  text(out, x, y, "Ring:", " font-weight=\"bold\"");
  stateCircle(out, {x + 60, y - 4}, "#ffffff", true, false, 9);
  text(out, x + 74, y, "in the invariant (x1 = x2 or x2 = x3)");
  stateCircle(out, {x + 370, y - 4}, "#ffffff", false, false, 9);
  text(out, x + 384, y, "outside the invariant");
  y += 34;
  text(out, kLeft, y, "Moves:", " font-weight=\"bold\"");
  x = kLeft + 60;
  for (int p = 1; p <= 3; p++) {
    out << "<path d=\"M" << number(x) << "," << number(y - 4) << " L" << number(x + 34) << ","
        << number(y - 4) << "\" stroke=\"" << kMoveColour[p]
        << "\" stroke-width=\"1.6\" fill=\"none\" marker-end=\"url(#head" << p << ")\"/>\n";
    text(out, x + 42, y,
         "process " + std::to_string(p) + " (x" + std::to_string(p) + " := a)");
    x += 210;
  }
  if (goneMoves) {
    out << "<path d=\"M" << number(x) << "," << number(y - 4) << " L" << number(x + 34) << ","
        << number(y - 4) << "\" stroke=\"#444444\" stroke-width=\"1.6\" "
        << "stroke-dasharray=\"5 4\" fill=\"none\"/>\n";
    text(out, x + 42, y, "from a state not remaining");
  }
  y += 30;
  text(out, kLeft, y,
       "Process 1 moves join the panels along a row; process 2 moves run up and down a "
       "column, process 3 moves along a row within a panel.",
       " font-size=\"12\" fill=\"#444444\"");
  out << "</svg>\n";
  return (int)moves.size();
}

std::string jsonString(const std::string &s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

namespace {

std::string milliseconds(bool known, double ms) {
  if (!known) return "null";
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.3f", ms);
  return buffer;
}

}  // namespace

void writeSummaryJson(std::ostream &out, const RunSummary &s) {
  out << "{\n"
      << "  \"outcome\": " << jsonString(s.outcome) << ",\n"
      << "  \"addcoor_iterations\": " << s.addcoorIterations << ",\n"
      << "  \"guarded_commands\": " << s.guardedCommands << ",\n"
      << "  \"compact_commands\": " << s.compactCommands << ",\n"
      << "  \"states\": " << s.states << ",\n"
      << "  \"remaining_states\": " << s.remainingStates << ",\n"
      << "  \"check\": " << (s.checkPassed ? "\"pass\"" : "\"fail\"") << ",\n"
      << "  \"wall_ms\": " << s.wallMs << ",\n"
      << "  \"nodes\": [";
  for (size_t i = 0; i < s.nodes.size(); i++) {
    const NodeSummary &n = s.nodes[i];
    out << (i ? ",\n" : "\n") << "    {\"process\": "
        << (n.process > 0 ? std::to_string(n.process) : "null")
        << ", \"action\": " << (n.action >= 0 ? std::to_string(n.action) : "null")
        << ", \"guarded_commands\": " << n.guardedCommands
        << ", \"synthesis_ms\": " << milliseconds(n.haveTimes, n.synthesisMs)
        << ", \"communication_ms\": " << milliseconds(n.haveTimes, n.communicationMs) << "}";
  }
  out << (s.nodes.empty() ? "]\n" : "\n  ]\n") << "}\n";
}

}  // namespace runreport
