// Monitor files: what a study watches, as the file states it. Subsystems
// select buses by area, zone, owner, base voltage or number; the MONITOR
// lines name the branches whose loadings are checked, interfaces (a sum of
// branch flows against a MW rating of its own) and voltage criteria of a
// subsystem's buses. Reading checks the grammar and the numbers only;
// monitor/select.h finds what the file names in a network.
//
// The file is read line by line. Keywords are in any case, with any blanks
// between words; `/` starts a comment that runs to the end of the line
// (outside quotes); names are in single quotes; `[]` marks what may be left
// out, `|` separates spellings of one word:
//
//   SUBSYSTEM 'NAME'
//      AREA a | AREAS a1 a2 ... | ZONE z | ZONES z1 z2 ... | OWNER o | OWNERS o1 o2 ...
//      KVRANGE kv_low kv_high | BUS b | BUSES b1 b2 ...
//      JOIN 'GROUP'
//         criteria as above, one a line
//      END
//   END
//   MONITOR BRANCHES IN SUBSYSTEM 'S'
//   MONITOR TIES FROM SUBSYSTEM 'S'
//   MONITOR BRANCH FROM BUS i TO BUS j [TO BUS k] [CIRCUIT|CKT c]
//   MONITOR INTERFACE 'NAME' RATING x MW
//      i j [k] [c]
//      MONITOR TIES FROM AREA a TO AREA b
//      MONITOR TIES FROM SUBSYSTEM 'S'
//   END
//   MONITOR VOLTAGE RANGE SUBSYSTEM 'S' vmin vmax
//   MONITOR VOLTAGE DEVIATION SUBSYSTEM 'S' drop rise
//   END
//
// A subsystem's criteria are a union, a JOIN group's an intersection (a
// group without criteria selects nothing). Circuits are quoted or not and
// `1` when left out; an interface member of three words is `i j c`, of four
// `i j k c` (the winding at bus i of a 3-winding unit). Subsystem and
// interface names compare trimmed and without regard to case. Numbers are
// finite decimals as in the RAW reader; bus numbers 1 to 999997; areas,
// zones and owners positive integers; voltages in pu, kV in kV.
#pragma once

#include <string>
#include <vector>

// One line of criteria: buses whose area, zone, owner or number is one of
// `values`, or whose base kV lies in [kv_low, kv_high].
struct MonitorCriterion {
    enum class Kind { area, zone, owner, bus, kv_range } kind = Kind::area;
    std::vector<int> values;
    double kv_low = 0, kv_high = 0;
    int line = 0;
};

// The buses every one of `criteria` selects.
struct MonitorJoin {
    std::string name;
    std::vector<MonitorCriterion> criteria;
    int line = 0;
};

// The buses any of `criteria` or any of `joins` selects.
struct MonitorSubsystem {
    std::string name;
    std::vector<MonitorCriterion> criteria;
    std::vector<MonitorJoin> joins;
    int line = 0;
};

// A branch as written: k a 3-winding unit's third bus, else 0; ckt unquoted.
struct MonitorBranch {
    int i = 0, j = 0, k = 0;
    std::string ckt = "1";
    int line = 0;
};

// A subsystem named by a MONITOR line.
struct MonitorUse {
    std::string subsystem;
    int line = 0;
};

// One member line of an interface: a branch, taken at bus i; the ties from
// area `from_area` to area `to_area`; or the ties of a subsystem.
struct MonitorMember {
    enum class Kind { branch, area_ties, subsystem_ties } kind = Kind::branch;
    MonitorBranch branch;
    int from_area = 0, to_area = 0;
    std::string subsystem;
    int line = 0;
};

struct MonitorInterface {
    std::string name;
    double rating_mw = 0; // above 0
    std::vector<MonitorMember> members;
    int line = 0;
};

// |V| of the subsystem's buses within [vmin, vmax] pu, 0 < vmin < vmax.
struct MonitorVoltageRange {
    std::string subsystem;
    double vmin = 0, vmax = 0;
    int line = 0;
};

// |V| of the subsystem's buses after an outage no more than `drop` pu below
// and `rise` pu above the base case's; both at least 0.
struct MonitorVoltageDeviation {
    std::string subsystem;
    double drop = 0, rise = 0;
    int line = 0;
};

// A monitor file as read, every list in file order.
struct MonitorFile {
    std::string file;
    std::vector<MonitorSubsystem> subsystems;
    std::vector<MonitorUse> branches_in; // MONITOR BRANCHES IN SUBSYSTEM
    std::vector<MonitorUse> ties_from;   // MONITOR TIES FROM SUBSYSTEM
    std::vector<MonitorBranch> branches; // MONITOR BRANCH
    std::vector<MonitorInterface> interfaces;
    std::vector<MonitorVoltageRange> ranges;
    std::vector<MonitorVoltageDeviation> deviations;
};

// Reads the text of monitor file `path`. Throws InputError(path, line, what)
// at the first line that breaks the grammar:
//   "not a monitor file line: 'TEXT'"          (and "not a subsystem criterion",
//   "not a JOIN criterion", "not an interface member" inside those blocks)
//   "a quote is not closed: 'TEXT'"
//   "subsystem 'S' is not defined above"       (used before its SUBSYSTEM block)
//   "subsystem 'S' is defined twice (first at line N)", the same for an interface
//   "'x' is not a number", "... a bus number", "... an area number" (zone, owner)
//   "KVRANGE: 'lo' is above 'hi'"
//   "VOLTAGE RANGE: 'vmin' is not below 'vmax'", "... 'vmin' is not above 0"
//   "VOLTAGE DEVIATION: 'x' is negative"
//   "INTERFACE 'I': the rating 'x' is not above 0"
//   "text after the closing END: 'TEXT'"
//   "SUBSYSTEM 'S' has no END" (JOIN, INTERFACE), at the block's first line
//   "the file ends before its closing END", at no line
MonitorFile parse_monitor(const std::string &text, const std::string &path);

// The same from the file; InputError(path, 0, ...) when it can not be read.
MonitorFile read_monitor(const std::string &path);
