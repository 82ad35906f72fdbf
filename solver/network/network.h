// The network the power flow solves: every quantity in per unit on SBASE,
// angles in radians, one plain struct per element. Built from a RawCase by
// build_network, which drops isolated buses with everything attached to
// them, turns every transformer into pi-model branches (a 3-winding unit
// into three branches to a star point) and sums loads, shunts and units per
// bus. Buses joined by ties (zero-impedance branches, closed switching
// devices) are one node, solved at its representative (network/ties.h).
#pragma once

#include "raw/raw.h"

#include <Eigen/SparseCore>

#include <array>
#include <cmath>
#include <complex>
#include <string>
#include <unordered_map>
#include <vector>

// off: cut off from the solved island (its rows hold V and the angle fixed).
// tied: joined by ties to another bus, the representative of its node; its
// rows hold its unknowns fixed and it takes the representative's voltage
// after each solve.
// reg: its units hold another bus's voltage (remote regulation, IREG): its
// |V| is free and its Q row carries one equation of its regulation group
// (powerflow/remote_regulation.h).
enum class BusKind { pq, pv, slack, off, tied, reg };

struct NetBus {
    int number = 0; // RAW bus number; 0 for the star point of a 3-winding transformer
    std::string name;
    double base_kv = 0;
    BusKind kind = BusKind::pq; // pv only with an in-service unit
    double vm0 = 1, va0 = 0;    // state stored in the RAW, pu and radians
    double vs = 1;              // voltage set-point of its units (pv, slack)
    double pg = 0, qg = 0;      // scheduled output of its in-service units
    double qmax = 0, qmin = 0;  // sums of QT and QB of its in-service units
    double rmpct = 0;           // its plant's share of a regulated bus's Q: its first in-service unit's RMPCT
    double pd = 0, qd = 0;      // constant-power load
    double ip = 0, iq = 0;      // constant-current load at 1 pu (scaled by V)
    double yp = 0, yq = 0;      // constant-admittance load at 1 pu (in the Ybus)
    double gs = 0, bs = 0;      // fixed and switched shunts (in the Ybus)
    double nvhi = 1.1, nvlo = 0.9, evhi = 1.1, evlo = 0.9;
    bool ideal_source = false; // a slack bus with no unit in service: it holds its RAW VM
    // A slack chosen for an island without an IDE 3 bus (network/swing.h),
    // and its kind before: what it goes back to when a contingency joins
    // its island to another slack's.
    bool auto_swing = false;
    BusKind kind_before_swing = BusKind::pq;
    int line = 0; // RAW line of the bus (of the transformer for a star point)
    int node = 0; // bus index of its node's representative (its own index unless tied)
    // RAW AREA, ZONE and OWNER, for monitor files' selections; a star point
    // takes those of its winding 1's bus.
    int area = 1, zone = 1, owner = 1;
};

enum class BranchKind { line, transformer, winding };

// Pi model behind an ideal transformer on the from side:
//   Yff = (ys + j·bc/2)/|a|² + ysh_f,   Yft = −ys/conj(a),
//   Ytf = −ys/a,                       Ytt = ys + j·bc/2 + ysh_t,
// with a = tap·e^{j·shift}. The charging bc counts in the branch flows; the
// end shunts ysh_f/ysh_t (line shunts GI/BI/GJ/BJ, transformer magnetizing
// admittance) do not, but leave with the branch when it opens.
// A tie has no series admittance (ys = 0): it joins its buses into one node,
// its stamp is empty and its charging and end shunts count at the node.
struct NetBranch {
    int f = 0, t = 0;         // bus indexes: a tie's own buses, the other branches' nodes
    int own_f = 0, own_t = 0; // bus indexes of the branch's own ends
    bool tie = false;
    std::complex<double> ys;
    double bc = 0;
    std::complex<double> ysh_f, ysh_t;
    double tap = 1, shift = 0;
    Ratings rate{}; // MVA by rating set (RATEA.. or RATE1..), 0: not monitored
    bool in_service = true;
    BranchKind kind = BranchKind::line;
    int from_bus = 0, to_bus = 0, third_bus = 0; // RAW numbers; third_bus for 3-winding units
    std::string ckt;
    int winding = 0; // 1, 2, 3 for a 3-winding unit's winding
    int line = 0;
    int facts = -1; // the FACTS device whose series element it is (Network::facts), else -1
};

struct NetUnit {
    int bus = 0; // bus index
    std::string id;
    double pg = 0, qg = 0, qt = 0, qb = 0, vs = 1, pt = 0;
    bool in_service = true;
    int line = 0;
    int ireg = 0;          // RAW number of the bus it regulates, 0: its own
    double rmpct = 100.0;  // its share of the regulated bus's Q, percent
    double pb = -HUGE_VAL; // lowest active output, pu (PT is pt)
    int wmod = 0;          // RAW WMOD: non-zero for a plant that follows its resource
    int facts = -1;        // the FACTS device whose shunt element it is (Network::facts), else -1
};

// One load record of an energised bus, pu on SBASE at 1 pu voltage, as
// NetBus sums them: constant power, current and admittance.
struct NetLoad {
    int bus = 0; // bus index (its own, not its node's)
    std::string id;
    double pd = 0, qd = 0, ip = 0, iq = 0, yp = 0, yq = 0;
    bool in_service = true;
    int line = 0;
    int facts = -1; // the FACTS device whose series injection it is (Network::facts), else -1
};

// One fixed or switched shunt of an energised bus: G + jB pu at 1 pu (a
// switched shunt at BINIT, G 0).
struct NetShunt {
    int bus = 0; // bus index (its own)
    std::string id;
    double g = 0, b = 0;
    bool switched = false;
    bool in_service = true;
    int line = 0;
};

// Units at one or more buses holding the voltage of one other bus at VS,
// their reactive powers shared in proportion to RMPCT (equal shares where
// every RMPCT is 0).
struct RegGroup {
    int bus = 0;              // the regulated bus (a node's representative)
    double vs = 1;            // its set-point: the first regulating bus's VS in RAW order
    std::vector<int> members; // buses (nodes) whose units regulate it, RAW order; the
                              // regulated bus first where its own units hold it too
};

// Buses joined by ties in service: solved as one bus, the representative.
struct TieNode {
    int rep = 0;            // bus index of the representative
    std::vector<int> buses; // every member, the representative among them, RAW order
    std::vector<int> ties;  // branch indexes of its ties in service
    bool loop = false;      // its ties hold a loop
};

// A DC link as the AC network sees it (network/dclink.h).
// A two-terminal line-commutated DC line; in service with MDC 1 or 2.
struct NetLcc {
    TwoTerminalDc d; // as read; its converters' bus fields are RAW numbers
    int rbus = 0;    // bus index of the rectifier's AC bus
    int ibus = 0;    // and of the inverter's
    bool in_service = true;
};

// A VSC DC line; in service with MDC 1 and both converters' TYPE not 0. Its
// active powers do not depend on the AC
// solution, so they are found once: p_ac[k] MW into the AC network at
// converter k, the DC current and voltages, the converters' losses.
struct NetVsc {
    VscDc d;
    std::array<int, 2> bus{}; // bus indexes of the converters' AC buses
    std::array<double, 2> p_ac{}, vdc_kv{}, loss_mw{};
    double idc_a = 0;                     // from the DC-voltage converter to the other
    std::array<double, 2> q_ac{};         // Mvar into the AC network, for a converter at a fixed power factor (MODE 2)
    std::array<double, 2> qmax{}, qmin{}; // Mvar, the limits of a converter that holds its AC voltage (MODE 1)
    bool in_service = true;
};

// A FACTS device in service (network/facts.h), as elements of the network:
// its shunt element a unit at bus I, its series element in MODE 1 two loads
// (PDES + j·QDES drawn at I and delivered at J), in MODE 2 a tie, in
// MODE 3 a branch; -1 for an element it does not have.
struct NetFacts {
    FactsDevice d; // as read
    int unit = -1;
    int load_i = -1, load_j = -1;
    int branch = -1;
};

// A multi-terminal DC line (network/mtdc.h); in service with MDC 1 or 2.
// Converter k sits at AC bus index bus[k] and at DC bus d.buses[node[k]];
// converter vconv holds the DC voltage.
struct NetMtdc {
    MultiTerminalDc d;
    std::vector<int> bus, node;
    int vconv = 0;
    bool in_service = true;
};

// An adjustable device (network/control_setup.h).
enum class ControlKind { switched_shunt, tap_voltage, tap_reactive, phase_shifter };

struct NetControl {
    ControlKind kind = ControlKind::switched_shunt;
    int bus = -1;    // the shunt's bus index (switched shunts)
    int branch = -1; // the winding's branch index (taps, phase shifters)
    int reg = -1;    // bus index whose voltage is held (shunts, COD 1), else -1
    // The band the held quantity is kept in: pu for a voltage; for COD 2
    // and 3 the Mvar or MW flowing into the winding at its own bus (the
    // branch's from end; charging in, magnetizing admittance out).
    double lo = 0, hi = 0;
    double min = 0, max = 0; // the setting's range (RMI..RMA; the shunt's block sums)
    double setting = 0;      // in force now
    double read = 0;         // as the RAW has it
    // Discrete settings in increasing order; empty for a continuous
    // control (MODSW 2, COD 3).
    std::vector<double> positions;
    // For a winding: tap = setting·ratio_per_unit (ratio kinds);
    // ys = 1/(z·F(setting)), F the correction table's factor (1 without).
    double ratio_per_unit = 1;
    std::complex<double> z;
    ImpedanceTable table; // no points: no correction
    // The way the setting moves the held quantity where the network gives
    // no usable sensitivity: +1 raising it raises the quantity, −1 lowers.
    int sign = 1;
    std::string id; // a shunt's ID
    int line = 0;   // RAW line of the record
};

struct Network {
    std::string file;
    double sbase = 100;
    std::vector<NetBus> buses; // RAW buses in file order, then star points
    std::vector<NetBranch> branches;
    std::vector<NetUnit> units;         // units of energised buses only
    std::vector<NetLoad> loads;         // loads of energised buses, RAW order
    std::vector<NetShunt> shunts;       // fixed then switched shunts of energised buses, RAW order
    int slack = 0;                      // bus index of the first slack bus in RAW order
    std::vector<int> slacks;            // every slack (IDE 3) bus, RAW order
    int raw_buses = 0;                  // buses that are RAW buses (the rest are star points)
    std::unordered_map<int, int> index; // RAW bus number -> bus index
    int isolated_dropped = 0;           // IDE 4 buses left out
    int remote_ireg = 0;                // in-service units whose IREG names another bus
    std::vector<NetLcc> lcc;            // two-terminal DC lines in service
    std::vector<NetVsc> vsc;            // VSC DC lines in service
    std::vector<NetFacts> facts;        // FACTS devices in service at energised buses, RAW order
    std::vector<NetMtdc> mtdc;          // multi-terminal DC lines
    // Where ties join buses: every bus as the RAW gives it (its own loads,
    // shunts, units and kind), while `buses` holds each node's sums at its
    // representative and none at its other members. Both empty without ties.
    std::vector<NetBus> own;
    std::vector<TieNode> tie_nodes;
    std::vector<std::string> notes; // "FILE:LINE: what": warnings about ties, DC lines, regulation, controls
    // Remote voltage regulation by units (network/reg_groups.h): its groups,
    // and the group of every member bus, -1 for the rest; both empty
    // without any.
    bool remote_regulation = true;
    std::vector<RegGroup> groups;
    std::vector<int> group_of;
    // Switched shunts and windings that may be adjusted (network/control_setup.h),
    // at the settings the buses and branches now hold.
    std::vector<NetControl> controls;
};

// Whether the network has a DC line of any kind in service: two-terminal,
// VSC or multi-terminal.
inline bool has_dc_lines(const Network &net) { return !net.lcc.empty() || !net.vsc.empty() || !net.mtdc.empty(); }

// Bus admittance matrix, I = Ybus·V, per unit on SBASE (network/ybus.h
// builds it).
using Ybus = Eigen::SparseMatrix<std::complex<double>, Eigen::ColMajor, int>;

// Branches of line records whose |R + jX| is below this (pu on SBASE) are
// ties; closed switching devices are ties whatever their X.
constexpr double default_zero_impedance_threshold_pu = 1e-4;

// The elements at each RAW bus number, for finding what a contingency
// names at the cost of what its buses hold rather than a scan of the
// network: branches by every bus they name (both ends, a 3-winding unit's
// three buses, a tie's own buses), units, loads and shunts by their bus.
// Each list is in RAW order, each element once.
struct ElementIndex {
    std::unordered_map<int, std::vector<int>> branches, units, loads, shunts;
};
