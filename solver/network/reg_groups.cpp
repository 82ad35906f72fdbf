#include "network/reg_groups.h"

#include "network/network.h"

#include <cmath>
#include <sstream>

namespace {

std::string at_line(const Network &net, int line) { return net.file + ":" + std::to_string(line) + ": "; }

// Node of the bus numbered `number`, -1 when there is none (isolated).
int node_of(const Network &net, int number)
{
    const auto it = net.index.find(number);
    return it == net.index.end() ? -1 : net.buses[static_cast<std::size_t>(it->second)].node;
}

// The node each node's units regulate (its own where they hold their
// terminal), from its first in-service unit; -1 for nodes without one.
std::vector<int> targets(Network &net)
{
    std::vector<int> target(net.buses.size(), -1);
    for (const NetUnit &u : net.units) {
        if (!u.in_service) {
            continue;
        }
        const int g = net.buses[static_cast<std::size_t>(u.bus)].node;
        int t = u.ireg == 0 ? g : node_of(net, u.ireg);
        if (t < 0) {
            net.notes.push_back(at_line(net, u.line) + "unit " + u.id + " at bus " +
                                std::to_string(net.buses[static_cast<std::size_t>(u.bus)].number) + " regulates bus " +
                                std::to_string(u.ireg) + ", which is not energised; it holds its own terminal");
            t = g;
        }
        int &have = target[static_cast<std::size_t>(g)];
        if (have < 0) {
            have = t;
        } else if (have != t) {
            net.notes.push_back(at_line(net, u.line) + "unit " + u.id + " at bus " +
                                std::to_string(net.buses[static_cast<std::size_t>(g)].number) +
                                " regulates another bus than the bus's first unit; the first unit's holds");
        }
    }
    return target;
}

std::string bus_list(const Network &net, const std::vector<int> &buses, std::size_t from)
{
    std::ostringstream out;
    for (std::size_t k = from; k < buses.size(); ++k) {
        out << (k > from ? ", " : "") << net.buses[static_cast<std::size_t>(buses[k])].number;
    }
    return out.str();
}

// Whether bus r holds its own voltage: a slack, or a voltage-controlled bus
// whose own units regulate it.
bool holds_itself(const Network &net, const std::vector<int> &target, int r)
{
    const BusKind k = net.buses[static_cast<std::size_t>(r)].kind;
    return k == BusKind::slack || (k == BusKind::pv && target[static_cast<std::size_t>(r)] == r);
}

// One regulated bus's group from its members in RAW order, or none (the
// members hold their own terminals) when the bus holds itself at another
// set-point. Notes conflicting set-points.
void make_group(Network &net, const std::vector<int> &target, int r, std::vector<int> members)
{
    const NetBus &rb = net.buses[static_cast<std::size_t>(r)];
    const double vs = net.buses[static_cast<std::size_t>(members.front())].vs;
    const int line = net.buses[static_cast<std::size_t>(members.front())].line;
    std::ostringstream differ;
    for (const int g : members) {
        const NetBus &b = net.buses[static_cast<std::size_t>(g)];
        if (b.vs != vs) {
            differ << (differ.tellp() > 0 ? ", " : "") << "bus " << b.number << " VS " << b.vs << " pu";
        }
    }
    if (differ.tellp() > 0) {
        std::ostringstream first;
        first << net.buses[static_cast<std::size_t>(members.front())].number << " VS " << vs << " pu";
        net.notes.push_back(at_line(net, line) + "buses regulating bus " + std::to_string(rb.number) +
                            " hold different set-points (" + differ.str() + "); the first, bus " + first.str() +
                            ", holds");
    }
    if (holds_itself(net, target, r)) {
        if (rb.vs != vs) {
            std::ostringstream s;
            s << "bus " << rb.number << " holds its own set-point " << rb.vs << " pu, not " << vs
              << " pu; the units of bus(es) " << bus_list(net, members, 0) << " regulating it hold their own terminals";
            net.notes.push_back(at_line(net, line) + s.str());
            return;
        }
        members.insert(members.begin(), r);
    }
    const auto k = static_cast<int>(net.groups.size());
    for (const int g : members) {
        net.group_of[static_cast<std::size_t>(g)] = k;
        if (g != r) {
            net.buses[static_cast<std::size_t>(g)].kind = BusKind::reg;
        }
    }
    net.groups.push_back({r, vs, std::move(members)});
}

} // namespace

void add_regulation(Network &net)
{
    net.groups.clear();
    net.group_of.clear();
    for (NetBus &b : net.buses) {
        b.kind = b.kind == BusKind::reg ? BusKind::pv : b.kind;
    }
    if (!net.remote_regulation) {
        return;
    }
    const std::vector<int> target = targets(net);
    // Members of each regulated node, in RAW order of their buses.
    std::vector<std::vector<int>> members(net.buses.size());
    std::vector<int> order; // regulated nodes, by their first member
    for (std::size_t g = 0; g < net.buses.size(); ++g) {
        const int r = target[g];
        if (r < 0 || r == static_cast<int>(g) || net.buses[g].kind != BusKind::pv) {
            if (r >= 0 && r != static_cast<int>(g) && net.buses[g].kind == BusKind::slack) {
                net.notes.push_back(at_line(net, net.buses[g].line) + "slack bus " +
                                    std::to_string(net.buses[g].number) +
                                    " holds its own voltage; its units' IREG (bus " +
                                    std::to_string(net.buses[static_cast<std::size_t>(r)].number) + ") is not used");
            }
            continue;
        }
        if (members[static_cast<std::size_t>(r)].empty()) {
            order.push_back(r);
        }
        members[static_cast<std::size_t>(r)].push_back(static_cast<int>(g));
    }
    if (order.empty()) {
        return;
    }
    net.group_of.assign(net.buses.size(), -1);
    for (const int r : order) {
        make_group(net, target, r, std::move(members[static_cast<std::size_t>(r)]));
    }
    if (net.groups.empty()) {
        net.group_of.clear();
    }
}
