#include "results/facts_csv.h"

#include "io/csv.h"
#include "powerflow/flows.h"
#include "results/columns.h"
#include "results/units.h"

#include <complex>
#include <vector>

namespace {

// The power the series element delivers into bus J, pu: PDES + j·QDES in
// MODE 1 where its loads are in service, the flow into J through its
// branch or tie in MODE 2 and 3 (−S_t), 0 where the element is out.
std::complex<double> series_power(const SolvedNetwork &s, const NetFacts &f, const std::vector<BranchFlow> &flows)
{
    const Network &net = s.net;
    if (f.load_j >= 0) {
        const NetLoad &l = net.loads[static_cast<std::size_t>(f.load_j)];
        const bool on = l.in_service && s.sol.sch.kind[static_cast<std::size_t>(net.buses[l.bus].node)] != BusKind::off;
        return on ? std::complex<double>(-l.pd, -l.qd) : 0.0;
    }
    if (f.branch >= 0 && s.on[static_cast<std::size_t>(f.branch)] != 0) {
        return -flows[static_cast<std::size_t>(f.branch)].to;
    }
    return 0.0;
}

// "SHMX" or "-SHMX" where the shunt element's output is at a limit.
std::string limit_of(const NetUnit &u, double q)
{
    const double tol = 1e-9 * std::max(1.0, u.qt);
    if (u.qt > 0 && q >= u.qt - tol) {
        return "SHMX";
    }
    if (u.qt > 0 && q <= u.qb + tol) {
        return "-SHMX";
    }
    return "";
}

} // namespace

std::string facts_csv(const SolvedNetwork &s)
{
    const Network &net = s.net;
    const double sb = net.sbase;
    const std::vector<std::complex<double>> out = unit_outputs(s);
    const std::vector<BranchFlow> flows = branch_flows(net, s.on, s.sol, s.removed_unit);
    std::string text = header_line(base_facts_columns);
    for (const NetFacts &f : net.facts) {
        const FactsDevice &d = f.d;
        text += csv_text(d.name) + "," + std::to_string(d.mode) + "," + std::to_string(d.i) + "," +
                (d.j != 0 ? std::to_string(d.j) : std::string()) + ",";
        if (f.unit >= 0) {
            const NetUnit &u = net.units[static_cast<std::size_t>(f.unit)];
            text += std::to_string(u.ireg != 0 ? u.ireg : d.i);
        }
        text += ",";
        if (d.j != 0) {
            const std::complex<double> sj = series_power(s, f, flows) * sb;
            text += num(sj.real()) + "," + num(sj.imag());
        } else {
            text += ",";
        }
        text += ",";
        if (f.unit >= 0) {
            const NetUnit &u = net.units[static_cast<std::size_t>(f.unit)];
            const bool on = u.in_service && f.unit != s.removed_unit;
            const double q = on ? out[static_cast<std::size_t>(f.unit)].imag() : 0.0;
            text += num(q * sb) + "," + (on ? limit_of(u, q) : std::string());
        } else {
            text += ",";
        }
        text += "\n";
    }
    return text;
}
