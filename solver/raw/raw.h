// PSS/E RAW network data (revisions 23 to 36), as the file states it: one
// plain struct per record type, whatever revision it came from, in the file's
// own units (MW, Mvar, kV, degrees, impedances
// in the units that CW/CZ/CM select). Converting to per unit and to the
// solver's model is network/'s job; the reader only reads and checks.
#pragma once

#include <array>
#include <complex>
#include <string>
#include <utility>
#include <vector>

struct Bus {
    int number = 0;
    std::string name;
    double base_kv = 0.0;
    int ide = 1; // 1 PQ, 2 PV, 3 slack, 4 isolated
    double vm = 1.0, va_deg = 0.0;
    double nvhi = 1.1, nvlo = 0.9, evhi = 1.1, evlo = 0.9;
    int line = 0; // line of the record in the file
    // AREA, ZONE and OWNER; 1 where the revision has no such field or it is
    // not an integer.
    int area = 1, zone = 1, owner = 1;
};

// S = (PL + jQL) + (IP + jIQ)·V + (YP − jYQ)·V², MW and Mvar at 1 pu.
// YQ > 0 is capacitive (it lowers the load's Q).
struct Load {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    double pl = 0, ql = 0, ip = 0, iq = 0, yp = 0, yq = 0;
    int line = 0;
};

// Shunt admittance GL + jBL in MW and Mvar at 1 pu; BL > 0 is capacitive.
struct FixedShunt {
    int bus = 0;
    std::string id = "1";
    int status = 1;
    double gl = 0, bl = 0;
    int line = 0;
};

// One block of a switched shunt: N steps of B Mvar each (at 1 pu), in
// service with status 1 (revision 35 on; always before).
struct ShuntBlock {
    int status = 1;
    int steps = 0;
    double b = 0;
};

// A switched shunt, solved at BINIT (Mvar at 1 pu). Its switching data, as
// read: MODSW (0 fixed, 1 discrete, 2 continuous, 3..6 other controls),
// ADJM, the band VSWLO..VSWHI, the regulated bus SWREM/SWREG (0: its own),
// RMPCT and its blocks in file order.
struct SwitchedShunt {
    int bus = 0;
    std::string id = "1";
    int modsw = 0;
    int adjm = 0;
    int status = 1;
    double vswhi = 1.0, vswlo = 1.0;
    int swreg = 0;
    double rmpct = 100.0;
    double binit = 0;
    std::vector<ShuntBlock> blocks;
    int line = 0;
};

struct Unit {
    int bus = 0;
    std::string id = "1";
    double pg = 0, qg = 0;
    double qt = 9999, qb = -9999;
    double vs = 1.0;
    int ireg = 0; // 0 or the own bus: regulates its terminal
    int nreg = 0; // the node of IREG (revision 34 on)
    double mbase = 0;
    double rmpct = 100.0; // its share of the regulated bus's Q, percent
    int status = 1;
    double pt = 9999, pb = -9999;
    // Wind machine control mode (revision 31 on): 0 a conventional unit,
    // 1 to 3 a plant whose output follows its resource.
    int wmod = 0;
    int line = 0;
};

// Ratings in MVA by rating set: RATEA, RATEB, RATEC are sets 1 to 3,
// RATE1..RATE12 sets 1 to 12; 0 leaves the element unmonitored.
using Ratings = std::array<double, 12>;

// A branch record; R, X, B in pu on SBASE. Up to revision 25 a transformer
// is a branch with an off-nominal RATIO at bus I (0: none) and a phase shift
// ANGLE, its impedance correction table named by a transformer adjustment
// record. A system switching device (revision 34 on) is a branch of
// reactance X that is in service when the device is closed.
struct Branch {
    int from = 0, to = 0;
    std::string ckt = "1";
    double r = 0, x = 0, b = 0;
    Ratings rate{};
    double gi = 0, bi = 0, gj = 0, bj = 0;
    int status = 1;
    double ratio = 0, angle_deg = 0;
    int tab = 0;
    bool switching_device = false;
    int line = 0;
};

// A winding and its control as read: COD (0 none, ±1 voltage, ±2 reactive
// flow, ±3 active flow, ±4 DC line, ±5 asymmetric active flow; negative:
// locked), CONT the controlled bus (negative: on the other side of it), the
// ratio (or angle) range RMA..RMI in NTP positions and the band VMI..VMA.
struct Winding {
    double windv = 1.0, nomv = 0.0, ang_deg = 0.0;
    Ratings rate{};
    int cod = 0;
    int cont = 0;
    double rma = 1.1, rmi = 0.9, vma = 1.1, vmi = 0.9;
    int ntp = 33;
    int tab = 0; // impedance correction table, 0 for none
};

// A 2-winding (k == 0) or 3-winding transformer record. For a 2-winding one
// only r12, x12, sbase12 and windings[0..1] carry data.
struct Transformer {
    int i = 0, j = 0, k = 0;
    std::string ckt = "1";
    int cw = 1, cz = 1, cm = 1;
    double mag1 = 0, mag2 = 0;
    int status = 1; // 3-winding: 0 out, 1 in, 2/3/4 only winding 2/3/1 out
    std::string name;
    double r12 = 0, x12 = 0, sbase12 = 0;
    double r23 = 0, x23 = 0, sbase23 = 0;
    double r31 = 0, x31 = 0, sbase31 = 0;
    double vmstar = 1.0, anstar_deg = 0.0;
    int zcod = 0; // corrections apply to the winding (0) or bus-to-bus (1) impedances
    std::array<Winding, 3> windings{};
    int line = 0; // first line of the record
};

// (T, F) points: the factor F scales R + jX at a tap ratio or angle T.
// Revision 34 on, F is complex: `points` holds its real part and `im` its
// imaginary part (zeros before revision 34).
struct ImpedanceTable {
    int number = 0;
    std::vector<std::pair<double, double>> points;
    std::vector<double> im;
    int line = 0;
};

// One converter of a two-terminal (line-commutated) DC line: its AC bus,
// bridges in series, firing-angle limits (α for the rectifier, γ for the
// inverter, degrees), commutating resistance and reactance per bridge and
// the series capacitor XCAP (ohms), the transformer's primary base voltage
// (kV), ratio, tap and tap range with its step.
struct LccConverter {
    int bus = 0;
    int nb = 0;
    double anmx_deg = 0, anmn_deg = 0;
    double rc = 0, xc = 0;
    double ebas = 0;
    double tr = 1, tap = 1, tmx = 1.5, tmn = 0.51, stp = 0.00625;
    double xcap = 0;
};

// A two-terminal DC line. MDC 0 blocked, 1 power (SETVL in MW, at the
// rectifier when positive, at the inverter when negative), 2 current (SETVL
// in A). VSCHD: scheduled DC voltage (kV) at the point RCOMP ohms from the
// inverter; VCMOD: below it the line changes to current control. RDC: the
// DC line's resistance (ohms). DELTI: the current margin, a fraction of
// the order.
struct TwoTerminalDc {
    std::string name;
    int mdc = 0;
    double rdc = 0, setvl = 0, vschd = 0, vcmod = 0, rcomp = 0, delti = 0;
    LccConverter rectifier, inverter;
    int line = 0;
};

// One converter of a VSC DC line. TYPE 0 out, 1 holds the DC voltage DCSET
// (kV), 2 the active power DCSET (MW, positive into the AC network). MODE 1
// holds the AC voltage ACSET (pu), 2 the power factor ACSET. Losses ALOSS +
// BLOSS·Idc kW (Idc in A), at least MINLOSS kW; SMAX (MVA), IMAX (A), MAXQ
// and MINQ (Mvar) limit it; REMOT (VSREG) names a regulated bus.
struct VscConverter {
    int bus = 0;
    int type = 0, mode = 1;
    double dcset = 0, acset = 1;
    double aloss = 0, bloss = 0, minloss = 0;
    double smax = 0, imax = 0;
    double maxq = 0, minq = 0;
    int remot = 0;
};

// A VSC DC line: MDC 0 out, 1 in service; RDC ohms.
struct VscDc {
    std::string name;
    int mdc = 0;
    double rdc = 0;
    std::array<VscConverter, 2> converters{};
    int line = 0;
};

// A FACTS device. MODE 0 out of service, 1 series and shunt elements in
// normal operation (PDES MW and QDES Mvar arriving at J), 2 the series
// element bypassed, 3 the series element a constant impedance SET1 + j·SET2
// (pu on SBASE), 4 a constant series voltage, 5 to 8 IPFC masters and
// slaves. J = 0: a shunt element only (a STATCOM). The shunt element holds
// bus REMOT (FCREG; 0: its own bus I) at VSET pu with at most SHMX MVA at
// 1 pu. Named by NAME (revision 31 on) or by its number N before.
struct FactsDevice {
    std::string name;
    int i = 0, j = 0;
    int mode = 1;
    double pdes = 0, qdes = 0, vset = 1.0, shmx = 9999;
    double rmpct = 100.0;
    double set1 = 0, set2 = 0;
    int remot = 0;
    int line = 0;
};
// One converter of a multi-terminal DC line: a line-commutated converter as
// for a two-terminal line (N bridges, ANGMX and ANGMN as its α or γ limits,
// RC, XC, EBAS, TR, TAP, TPMX, TPMN, TSTP; no series capacitor), and its
// order SETVL: at the voltage-setting converter (VCONV) the DC voltage (kV),
// elsewhere a power (MW, MDC 1) or current (A, MDC 2) order, positive at a
// rectifier and negative at an inverter. DCPF (participation factor), MARG
// (rectifier margin, a fraction of the order) and CNVCOD (its pole: negative
// for the negative pole) as read.
struct MtdcConverter {
    LccConverter k;
    double setvl = 0, dcpf = 1, marg = 0;
    int cnvcod = 1;
    int line = 0;
};

// A DC bus of a multi-terminal line: IB the AC converter bus whose
// converter sits at this DC bus (0: none), IDC2 the DC bus at the
// converter's other terminal (0: ground), RGRND its resistance to ground
// (ohms).
struct MtdcBus {
    int idc = 0;
    int ib = 0;
    std::string name;
    int idc2 = 0;
    double rgrnd = 0;
    int line = 0;
};

// A DC link between two DC buses: RDC ohms (its inductance LDC is read past).
struct MtdcLink {
    int idc = 0, jdc = 0;
    std::string ckt = "1";
    double rdc = 0;
    int line = 0;
};

// A multi-terminal DC line: MDC 0 blocked, 1 power, 2 current control; VCONV
// the AC bus of the converter that holds the positive pole's DC voltage
// (VCONVN the negative pole's); VCMOD (kV) the DC voltage below which a
// power-controlled line changes to current control. A line named by number
// (before revision 30) takes the number as its name.
struct MultiTerminalDc {
    std::string name;
    int mdc = 0;
    int vconv = 0, vconvn = 0;
    double vcmod = 0;
    std::vector<MtdcConverter> converters;
    std::vector<MtdcBus> buses;
    std::vector<MtdcLink> links;
    int line = 0;
};

struct RawCase {
    std::string file; // as named to read_raw, for messages
    double sbase = 100.0;
    int rev = 33;
    int rating_sets = 3;                        // 3 (A, B, C) up to revision 33, 12 after
    std::array<std::string, 12> rating_names{}; // from RATING records (revision 34 on)
    // Solution parameters of the system-wide data (revision 34 on), as
    // "GROUP.KEY" and its text: {"NEWTON.TOLN", "0.1"}.
    std::vector<std::pair<std::string, std::string>> solution_parameters;
    // What the reader assumed or read past, one line each, "FILE:LINE: what".
    std::vector<std::string> notes;
    std::vector<Bus> buses;
    std::vector<Load> loads;
    std::vector<FixedShunt> fixed_shunts;
    std::vector<Unit> units;
    std::vector<Branch> branches;
    std::vector<Transformer> transformers;
    std::vector<ImpedanceTable> impedance_tables;
    std::vector<SwitchedShunt> switched_shunts;
    std::vector<TwoTerminalDc> two_terminal_dc;
    std::vector<VscDc> vsc_dc;
    std::vector<FactsDevice> facts; // in service (MODE not 0)
    std::vector<MultiTerminalDc> multi_terminal_dc;
};
