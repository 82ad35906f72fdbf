#include "contingency/changes.h"

#include "network/build.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

std::string mw_text(double mw)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6g", mw);
    return buf;
}

// The bus index of RAW bus `number`, -1 when it is not energised.
int bus_of(const Network &net, int number)
{
    const auto it = net.index.find(number);
    return it == net.index.end() ? -1 : it->second;
}

// Branches between i and j in either order (or the 3-winding unit on i, j,
// k) with circuit id c; every match opens (or closes).
void find_branch(const Network &net, const ElementIndex &x, const Element &e, Outage &o)
{
    int last_line = -1;
    bool any_in = false;
    bool any_out = false;
    std::vector<int> &found = e.kind == Element::Kind::close_branch ? o.closed : o.branches;
    for (const int k : at_bus(x.branches, e.i)) {
        const NetBranch &br = net.branches[k];
        if (!same_id(br.ckt, e.id)) {
            continue;
        }
        bool match = false;
        if (e.k == 0) {
            match = br.kind != BranchKind::winding &&
                    ((br.from_bus == e.i && br.to_bus == e.j) || (br.from_bus == e.j && br.to_bus == e.i));
        } else if (br.kind == BranchKind::winding) {
            std::array<int, 3> want = {e.i, e.j, e.k};
            std::array<int, 3> have = {br.from_bus, br.to_bus, br.third_bus};
            std::sort(want.begin(), want.end());
            std::sort(have.begin(), have.end());
            match = want == have;
        }
        if (match) {
            found.push_back(k);
            any_in = any_in || br.in_service;
            any_out = any_out || !br.in_service;
            o.records += br.line != last_line ? 1 : 0; // a 3-winding unit's windings share a record
            last_line = br.line;
        }
    }
    o.found = !found.empty();
    o.already = o.found && (e.kind == Element::Kind::close_branch ? !any_out : !any_in);
}

int find_unit(const Network &net, const ElementIndex &x, const Element &e)
{
    const std::vector<int> &at = at_bus(x.units, e.i);
    const auto it = std::find_if(at.begin(), at.end(), [&](int u) { return same_id(net.units[u].id, e.id); });
    return it == at.end() ? -1 : *it;
}

// Every branch at the bus (a 3-winding unit's winding there) and every DC
// line with a converter there.
void find_bus(const Network &net, const BaseCase &base, const Element &e, Outage &o)
{
    o.bus = bus_of(net, e.i);
    if (o.bus < 0) {
        return;
    }
    o.found = true;
    o.records = 1;
    o.already = base.sol.sch.kind[o.bus] == BusKind::off;
    for (const int k : at_bus(base.elements.branches, e.i)) {
        const NetBranch &br = net.branches[k];
        if (br.own_f == o.bus || br.own_t == o.bus) {
            o.branches.push_back(k);
        }
    }
    for (size_t k = 0; k < net.lcc.size(); ++k) {
        if (net.lcc[k].in_service && (net.lcc[k].rbus == o.bus || net.lcc[k].ibus == o.bus)) {
            o.lcc.push_back(static_cast<int>(k));
        }
    }
    for (size_t k = 0; k < net.vsc.size(); ++k) {
        if (net.vsc[k].in_service && (net.vsc[k].bus[0] == o.bus || net.vsc[k].bus[1] == o.bus)) {
            o.vsc.push_back(static_cast<int>(k));
        }
    }
    for (size_t k = 0; k < net.mtdc.size(); ++k) {
        const NetMtdc &x = net.mtdc[k];
        if (x.in_service && std::find(x.bus.begin(), x.bus.end(), o.bus) != x.bus.end()) {
            o.mtdc.push_back(static_cast<int>(k));
        }
    }
}

double load_mw(const Network &net, const NetLoad &l) { return (l.pd + l.ip + l.yp) * net.sbase; }

// Loads (shunts) of bus e.i with id e.id, or every one of the bus with an
// empty id; `already` when none of them is in service.
template <class Record>
void find_records(const std::vector<Record> &records, const std::vector<int> &at, const Element &e,
                  const std::function<bool(const Record &)> &kind, std::vector<int> &found, Outage &o)
{
    bool any_in = false;
    for (const int k : at) {
        const Record &r = records[k];
        if (kind(r) && (e.id.empty() || same_id(r.id, e.id))) {
            found.push_back(k);
            any_in = any_in || r.in_service;
        }
    }
    o.found = !found.empty();
    o.records = static_cast<int>(found.size());
    o.already = o.found && !any_in;
}

// The loads of the bus scaled by one factor: to x MW or x percent of their
// MW (PL + IP + YP at 1 pu), or by x MW or x percent. P and Q of every part
// scale together, so each load keeps its power factor.
void find_bus_load(const Network &net, const ElementIndex &x, const Element &e, Outage &o)
{
    double p0 = 0;
    bool any = false;
    for (const int k : at_bus(x.loads, e.i)) {
        const NetLoad &l = net.loads[k];
        any = true;
        if (l.in_service) {
            o.scaled.push_back(k);
            p0 += load_mw(net, l);
        }
    }
    o.found = any;
    o.already = any && o.scaled.empty();
    if (o.scaled.empty()) {
        return;
    }
    const double target = e.set ? (e.percent ? p0 * e.amount / 100.0 : e.amount)
                                : (e.percent ? p0 * (1.0 + e.amount / 100.0) : p0 + e.amount);
    if (e.percent) {
        o.load_scale = e.set ? e.amount / 100.0 : 1.0 + e.amount / 100.0;
    } else if (p0 != 0) {
        o.load_scale = target / p0;
    } else {
        o.refusal = "the loads of bus " + std::to_string(e.i) + " draw no MW to scale";
        return;
    }
    if (!(o.load_scale >= 0) || !std::isfinite(o.load_scale)) {
        o.refusal = "the load of bus " + std::to_string(e.i) + " would go from " + mw_text(p0) + " MW to " +
                    mw_text(target) + " MW";
        return;
    }
    o.note = "load of bus " + std::to_string(e.i) + " from " + mw_text(p0) + " MW to " + mw_text(target) + " MW";
}

// The unit's PG set, or changed by MW or percent of its PG, then clamped to
// PB..PT with a note.
void find_unit_output(const Network &net, const ElementIndex &x, const Element &e, Outage &o)
{
    const int u = find_unit(net, x, e);
    o.found = u >= 0;
    if (u < 0) {
        return;
    }
    o.records = 1;
    const NetUnit &nu = net.units[u];
    o.already = !nu.in_service;
    if (o.already) {
        return;
    }
    const double pg0 = nu.pg * net.sbase;
    double pg = e.set ? e.amount : (e.percent ? pg0 * (1.0 + e.amount / 100.0) : pg0 + e.amount);
    const double pt = nu.pt * net.sbase;
    const double pb = nu.pb * net.sbase;
    if (pg > pt || pg < pb) {
        const bool top = pg > pt;
        o.note = "unit " + e.id + " at bus " + std::to_string(e.i) + ": PG " + mw_text(pg) + " MW clamped to " +
                 (top ? "PT " + mw_text(pt) : "PB " + mw_text(pb)) + " MW";
        pg = top ? pt : pb;
    }
    o.changed_unit = u;
    o.unit_pg = pg / net.sbase;
}

// A DC line by name (the first of that name in RAW order).
template <class Line> int find_dc(const std::vector<Line> &lines, const Element &e, Outage &o)
{
    for (size_t k = 0; k < lines.size(); ++k) {
        if (same_id(lines[k].d.name, e.id)) {
            o.found = true;
            o.records = 1;
            o.already = !lines[k].in_service;
            return o.already ? -1 : static_cast<int>(k);
        }
    }
    return -1;
}

// A FACTS device by name (the first of that name in RAW order): its unit,
// loads and series branch, each where it has one.
void find_facts(const Network &net, const Element &e, Outage &o)
{
    for (const NetFacts &f : net.facts) {
        if (!same_id(f.d.name, e.id)) {
            continue;
        }
        o.found = true;
        o.records = 1;
        o.unit = f.unit;
        for (const int l : {f.load_i, f.load_j}) {
            if (l >= 0) {
                o.loads.push_back(l);
            }
        }
        if (f.branch >= 0) {
            o.branches.push_back(f.branch);
        }
        return;
    }
}

} // namespace

Outage find_outage(const Network &net, const BaseCase &base, const Element &e)
{
    using K = Element::Kind;
    Outage o;
    switch (e.kind) {
    case K::branch:
    case K::close_branch:
        find_branch(net, base.elements, e, o);
        break;
    case K::unit:
        o.unit = find_unit(net, base.elements, e);
        o.found = o.unit >= 0;
        o.records = o.found ? 1 : 0;
        o.already = o.found && !net.units[o.unit].in_service;
        break;
    case K::bus:
        find_bus(net, base, e, o);
        break;
    case K::load:
        find_records<NetLoad>(
            net.loads, at_bus(base.elements.loads, e.i), e, [](const NetLoad &) { return true; }, o.loads, o);
        for (const int l : o.loads) {
            const NetLoad &ld = net.loads[l];
            o.load_lost_mw +=
                ld.in_service && base.sol.sch.kind[net.buses[ld.bus].node] != BusKind::off ? load_mw(net, ld) : 0.0;
        }
        break;
    case K::shunt:
    case K::swshunt: {
        const bool sw = e.kind == K::swshunt;
        find_records<NetShunt>(
            net.shunts, at_bus(base.elements.shunts, e.i), e, [sw](const NetShunt &s) { return s.switched == sw; },
            o.shunts, o);
        break;
    }
    case K::twotermdc:
        if (const int k = find_dc(net.lcc, e, o); k >= 0) {
            o.lcc.push_back(k);
        }
        break;
    case K::vscdc:
        if (const int k = find_dc(net.vsc, e, o); k >= 0) {
            o.vsc.push_back(k);
        }
        break;
    case K::facts:
        find_facts(net, e, o);
        break;
    case K::mtdc:
        if (const int k = find_dc(net.mtdc, e, o); k >= 0) {
            o.mtdc.push_back(k);
        }
        break;
    case K::bus_load:
        find_bus_load(net, base.elements, e, o);
        break;
    case K::unit_output:
        find_unit_output(net, base.elements, e, o);
        break;
    case K::unsupported:
        break;
    }
    return o;
}

std::string element_name(const Element &e)
{
    using K = Element::Kind;
    const std::string at = " at bus " + std::to_string(e.i);
    switch (e.kind) {
    case K::unit:
    case K::unit_output:
        return "unit " + e.id + at;
    case K::bus:
        return "bus " + std::to_string(e.i);
    case K::load:
        return "load " + e.id + at;
    case K::bus_load:
        return "load" + at;
    case K::shunt:
        return "fixed shunt " + (e.id.empty() ? std::string() : e.id + " ") + "at bus " + std::to_string(e.i);
    case K::swshunt:
        return "switched shunt " + (e.id.empty() ? std::string() : e.id + " ") + "at bus " + std::to_string(e.i);
    case K::twotermdc:
        return "two-terminal DC line '" + e.id + "'";
    case K::vscdc:
        return "VSC DC line '" + e.id + "'";
    case K::facts:
        return "FACTS device '" + e.id + "'";
    case K::mtdc:
        return "multi-terminal DC line '" + e.id + "'";
    default:
        break;
    }
    return "branch " + std::to_string(e.i) + "-" + std::to_string(e.j) +
           (e.k != 0 ? "-" + std::to_string(e.k) : std::string()) + " ckt " + e.id;
}

bool changes_injections(const Outage &o)
{
    return !o.loads.empty() || !o.shunts.empty() || !o.lcc.empty() || !o.vsc.empty() || !o.mtdc.empty() ||
           !o.scaled.empty() || o.changed_unit >= 0;
}

namespace {

// The sums of bus b's own records and of its node change by `f` times
// what `apply` adds from one record.
template <class Apply> void change_sums(Network &e, int b, const Apply &apply)
{
    apply(e.buses[static_cast<size_t>(e.buses[b].node)]);
    if (!e.own.empty()) {
        apply(e.own[b]);
    }
}

// Whether anything at bus b (its own units, or an in-service VSC converter
// holding its AC voltage) holds its voltage.
bool holds_voltage(const Network &e, int b)
{
    if (std::any_of(e.units.begin(), e.units.end(), [b](const NetUnit &u) { return u.bus == b && u.in_service; })) {
        return true;
    }
    for (const NetVsc &x : e.vsc) {
        for (size_t k = 0; k < 2; ++k) {
            if (x.in_service && x.bus.at(k) == b && x.d.converters.at(k).mode == 1) {
                return true;
            }
        }
    }
    return false;
}

// Whether any member of bus b's node holds its voltage.
bool node_holds_voltage(const Network &e, int b)
{
    const int n = e.buses[b].node;
    if (e.own.empty()) {
        return holds_voltage(e, n);
    }
    for (size_t m = 0; m < e.buses.size(); ++m) {
        if (e.buses[m].node == n && holds_voltage(e, static_cast<int>(m))) {
            return true;
        }
    }
    return false;
}

// A blocked VSC line's converters holding their AC voltage (MODE 1) give
// back their reactive limits; a bus left with nothing holding its voltage
// is a load bus again, as it is in the RAW without the line.
void block_vsc(Network &e, int k)
{
    NetVsc &x = e.vsc[k];
    x.in_service = false;
    for (size_t c = 0; c < 2; ++c) {
        if (x.d.converters.at(c).mode != 1) {
            continue;
        }
        const int b = x.bus.at(c);
        const double qmax = x.qmax.at(c) / e.sbase;
        const double qmin = x.qmin.at(c) / e.sbase;
        change_sums(e, b, [&](NetBus &s) {
            s.qmax -= qmax;
            s.qmin -= qmin;
        });
        if (!holds_voltage(e, b) && !e.own.empty() && e.own[b].kind == BusKind::pv) {
            e.own[b].kind = BusKind::pq;
        }
        NetBus &node = e.buses[static_cast<size_t>(e.buses[b].node)];
        if (!node_holds_voltage(e, b) && node.kind == BusKind::pv) {
            node.kind = BusKind::pq;
        }
    }
}

} // namespace

Network edited_network(const Network &net, const Outage &o, std::vector<DiagonalChange> &dy)
{
    Network e = net;
    // Load record l scaled by f (0: taken out).
    const auto scale_load = [&e, &dy](int l, double f) {
        NetLoad &ld = e.loads[l];
        const double c = f - 1.0;
        change_sums(e, ld.bus, [&](NetBus &s) {
            s.pd += c * ld.pd;
            s.qd += c * ld.qd;
            s.ip += c * ld.ip;
            s.iq += c * ld.iq;
            s.yp += c * ld.yp;
            s.yq += c * ld.yq;
        });
        dy.push_back({e.buses[ld.bus].node, c * std::complex<double>(ld.yp, ld.yq)});
    };
    for (const int l : o.loads) {
        if (e.loads[l].in_service) {
            scale_load(l, 0.0);
            e.loads[l].in_service = false;
        }
    }
    for (const int l : o.scaled) {
        scale_load(l, o.load_scale);
        NetLoad &ld = e.loads[l];
        for (double *x : {&ld.pd, &ld.qd, &ld.ip, &ld.iq, &ld.yp, &ld.yq}) {
            *x *= o.load_scale;
        }
    }
    for (const int k : o.shunts) {
        NetShunt &sh = e.shunts[k];
        if (!sh.in_service) {
            continue;
        }
        sh.in_service = false;
        change_sums(e, sh.bus, [&sh](NetBus &s) {
            s.gs -= sh.g;
            s.bs -= sh.b;
        });
        dy.push_back({e.buses[sh.bus].node, -std::complex<double>(sh.g, sh.b)});
    }
    if (o.changed_unit >= 0) {
        NetUnit &u = e.units[o.changed_unit];
        const double d = o.unit_pg - u.pg;
        u.pg = o.unit_pg;
        change_sums(e, u.bus, [d](NetBus &s) { s.pg += d; });
    }
    for (const int k : o.lcc) {
        e.lcc[k].in_service = false;
    }
    for (const int k : o.vsc) {
        block_vsc(e, k);
    }
    for (const int k : o.mtdc) {
        e.mtdc[k].in_service = false;
    }
    return e;
}

void carry_schedule(const Network &e, const Network &net, const Outage &o, const std::vector<char> &fresh,
                    BusSchedule &sch, std::vector<signed char> &held)
{
    const auto carried = [&fresh](int n) { return fresh.empty() || fresh[n] == 0; };
    if (o.changed_unit >= 0) {
        const NetUnit &u = e.units[o.changed_unit];
        const int n = e.buses[u.bus].node;
        if (carried(n)) {
            sch.pg[n] += u.pg - net.units[o.changed_unit].pg;
        }
    }
    for (const int k : o.vsc) {
        const NetVsc &x = e.vsc[k];
        for (size_t c = 0; c < 2; ++c) {
            const int n = e.buses[x.bus.at(c)].node;
            if (x.d.converters.at(c).mode != 1 || !carried(n) || sch.kind[n] == BusKind::off) {
                continue;
            }
            sch.qmax[n] -= x.qmax.at(c) / e.sbase;
            sch.qmin[n] -= x.qmin.at(c) / e.sbase;
            if (e.buses[n].kind == BusKind::pq && sch.kind[n] != BusKind::slack) {
                sch.kind[n] = BusKind::pq;
                sch.qgen[n] = 0;
                held[n] = 0;
            } else if (held[n] != 0) {
                sch.qgen[n] = held[n] > 0 ? sch.qmax[n] : sch.qmin[n];
            }
        }
    }
}
