#include "network/facts.h"

#include <cmath>
#include <complex>
#include <string>

namespace {

std::string who(const Network &net, const FactsDevice &d)
{
    return net.file + ":" + std::to_string(d.line) + ": FACTS device '" + d.name + "'";
}

int index_of(const Network &net, int number)
{
    const auto it = net.index.find(number);
    return it == net.index.end() ? -1 : it->second;
}

// The shunt element: a unit of P = 0 and Q within ±SHMX at bus i, holding
// VSET at its own bus, or at REMOT where that is an energised load or
// generator bus (a slack or isolated one: its own, with a note).
void add_shunt_element(const RawCase &raw, Network &net, int k, int i)
{
    const FactsDevice &d = net.facts[static_cast<std::size_t>(k)].d;
    const double qmax = d.shmx / raw.sbase;
    int ireg = 0;
    if (d.remot != 0 && d.remot != d.i) {
        const int r = index_of(net, d.remot);
        const BusKind kind = r < 0 ? BusKind::off : net.buses[static_cast<std::size_t>(r)].kind;
        if (kind == BusKind::pq || kind == BusKind::pv) {
            ireg = d.remot;
            ++net.remote_ireg;
        } else {
            net.notes.push_back(who(net, d) + " regulates bus " + std::to_string(d.remot) +
                                ", which is not an energised load or generator bus; it holds its own bus");
        }
    }
    NetUnit u;
    u.bus = i;
    u.id = d.name;
    u.qt = qmax;
    u.qb = -qmax;
    u.vs = d.vset;
    u.pb = 0;
    u.line = d.line;
    u.ireg = ireg;
    u.rmpct = d.rmpct;
    u.facts = k;
    NetBus &b = net.buses[static_cast<std::size_t>(i)];
    if (b.kind == BusKind::pq) {
        b.kind = BusKind::pv;
        b.vs = d.vset;
        b.rmpct = d.rmpct;
    }
    b.qmax += qmax;
    b.qmin -= qmax;
    net.facts[static_cast<std::size_t>(k)].unit = static_cast<int>(net.units.size());
    net.units.push_back(u);
}

// A constant-power injection −(p + jq) at bus i, a load of the device.
int add_injection(Network &net, int k, int i, double p, double q)
{
    const FactsDevice &d = net.facts[static_cast<std::size_t>(k)].d;
    NetLoad l;
    l.bus = i;
    l.id = d.name;
    l.pd = -p;
    l.qd = -q;
    l.line = d.line;
    l.facts = k;
    net.buses[static_cast<std::size_t>(i)].pd -= p;
    net.buses[static_cast<std::size_t>(i)].qd -= q;
    net.loads.push_back(l);
    return static_cast<int>(net.loads.size()) - 1;
}

// The series element of MODE 2 (a tie) or 3 (Y = 1/(SET1 + j·SET2), a tie
// where |SET1 + j·SET2| is below the threshold).
void add_series_branch(Network &net, int k, int i, int j, double threshold)
{
    const FactsDevice &d = net.facts[static_cast<std::size_t>(k)].d;
    NetBranch br;
    br.f = br.own_f = i;
    br.t = br.own_t = j;
    const std::complex<double> z(d.set1, d.set2);
    br.tie = d.mode == 2 || std::abs(z) < threshold;
    if (!br.tie) {
        br.ys = 1.0 / z;
    }
    br.from_bus = d.i;
    br.to_bus = d.j;
    br.ckt = d.name;
    br.line = d.line;
    br.facts = k;
    net.facts[static_cast<std::size_t>(k)].branch = static_cast<int>(net.branches.size());
    net.branches.push_back(br);
}

} // namespace

void add_facts(const RawCase &raw, Network &net, double threshold)
{
    for (const FactsDevice &d : raw.facts) {
        const int i = index_of(net, d.i);
        const int j = d.j == 0 ? -1 : index_of(net, d.j);
        if (i < 0 || (d.j != 0 && j < 0)) {
            net.notes.push_back(net.file + ":" + std::to_string(d.line) + ": FACTS device '" + d.name +
                                "' at an isolated bus (IDE 4) left out");
            continue;
        }
        const int k = static_cast<int>(net.facts.size());
        NetFacts f;
        f.d = d;
        net.facts.push_back(f);
        if (d.shmx > 0) {
            add_shunt_element(raw, net, k, i);
        }
        if (j < 0) {
            continue;
        }
        if (d.mode == 1) {
            const double p = d.pdes / raw.sbase;
            const double q = d.qdes / raw.sbase;
            net.facts[static_cast<std::size_t>(k)].load_i = add_injection(net, k, i, -p, -q);
            net.facts[static_cast<std::size_t>(k)].load_j = add_injection(net, k, j, p, q);
        } else {
            add_series_branch(net, k, i, j, threshold);
        }
    }
}
