#include "network/ties.h"

#include "network/reg_groups.h"

#include <algorithm>
#include <numeric>
#include <sstream>

namespace {

// Union-find root, halving the path on the way.
int root(std::vector<int> &parent, int i)
{
    while (parent[i] != i) {
        parent[i] = parent[parent[i]];
        i = parent[i];
    }
    return i;
}

// The groups of buses joined by ties in service: one TieNode per group (rep
// not chosen yet), its buses and ties in index order, the groups in the
// order of their first bus.
std::vector<TieNode> tie_groups(const Network &net)
{
    const size_t n = net.buses.size();
    std::vector<int> parent(n);
    std::iota(parent.begin(), parent.end(), 0);
    std::vector<int> ties;
    for (size_t k = 0; k < net.branches.size(); ++k) {
        const NetBranch &br = net.branches[k];
        if (br.tie && br.in_service) {
            parent[root(parent, br.own_f)] = root(parent, br.own_t);
            ties.push_back(static_cast<int>(k));
        }
    }
    std::vector<char> joined(n, 0);
    for (const int k : ties) {
        joined[root(parent, net.branches[k].own_f)] = 1;
    }
    std::vector<int> group(n, -1); // node of each group's root
    std::vector<TieNode> nodes;
    for (size_t i = 0; i < n; ++i) {
        const int r = root(parent, static_cast<int>(i));
        if (joined[r] == 0) {
            continue;
        }
        if (group[r] < 0) {
            group[r] = static_cast<int>(nodes.size());
            nodes.emplace_back();
        }
        nodes[static_cast<size_t>(group[r])].buses.push_back(static_cast<int>(i));
    }
    for (const int k : ties) {
        nodes[static_cast<size_t>(group[root(parent, net.branches[k].own_f)])].ties.push_back(k);
    }
    return nodes;
}

// The node's representative: its first slack bus in RAW order, else its
// first voltage-controlling bus (IDE 2 with a unit in service), else its
// first bus.
int representative(const Network &net, const TieNode &node)
{
    for (const BusKind kind : {BusKind::slack, BusKind::pv}) {
        const auto it = std::find_if(node.buses.begin(), node.buses.end(),
                                     [&net, kind](int b) { return net.buses[b].kind == kind; });
        if (it != node.buses.end()) {
            return *it;
        }
    }
    return node.buses.front();
}

// One line naming the voltage-controlling members whose VS differs from
// the representative's, or "" when they all agree.
std::string set_point_note(const Network &net, const TieNode &node)
{
    const NetBus &r = net.buses[node.rep];
    std::ostringstream list;
    bool differ = false;
    for (const int b : node.buses) {
        const NetBus &m = net.buses[b];
        if (m.kind == BusKind::slack || m.kind == BusKind::pv) {
            list << (list.tellp() > 0 ? ", " : "") << "bus " << m.number << " VS " << m.vs << " pu";
            differ = differ || m.vs != r.vs;
        }
    }
    if (!differ) {
        return "";
    }
    return "buses joined by ties into the node of bus " + std::to_string(r.number) +
           " hold different voltage set-points (" + list.str() + "); the node holds bus " + std::to_string(r.number) +
           "'s";
}

// rep += m for every injection a bus carries; m's are then cleared.
void move_injections(NetBus &rep, NetBus &m)
{
    rep.pg += m.pg;
    rep.qg += m.qg;
    rep.qmax += m.qmax;
    rep.qmin += m.qmin;
    rep.rmpct += m.rmpct;
    rep.pd += m.pd;
    rep.qd += m.qd;
    rep.ip += m.ip;
    rep.iq += m.iq;
    rep.yp += m.yp;
    rep.yq += m.yq;
    rep.gs += m.gs;
    rep.bs += m.bs;
    m.pg = m.qg = m.qmax = m.qmin = m.rmpct = m.pd = m.qd = m.ip = m.iq = m.yp = m.yq = m.gs = m.bs = 0;
}

// Sums the node's members into its representative. A tie's charging B and
// end shunts sit between buses at one voltage, so they add to the node's
// shunt: y = Σ (j·B + ysh_f + ysh_t). The node is an ideal source when it is
// a slack with no unit in service at any member.
void join_node(Network &net, TieNode &node, const std::vector<int> &units_on)
{
    NetBus &r = net.buses[node.rep];
    int units = 0;
    for (const int b : node.buses) {
        units += units_on[b];
        if (b != node.rep) {
            NetBus &m = net.buses[b];
            move_injections(r, m);
            m.kind = BusKind::tied;
            m.node = node.rep;
            m.ideal_source = false;
        }
    }
    for (const int k : node.ties) {
        const NetBranch &br = net.branches[k];
        const std::complex<double> y = std::complex<double>(0.0, br.bc) + br.ysh_f + br.ysh_t;
        r.gs += y.real();
        r.bs += y.imag();
    }
    r.ideal_source = r.kind == BusKind::slack && units == 0;
    node.loop = node.ties.size() >= node.buses.size();
}

void list_slacks(Network &net)
{
    net.slacks.clear();
    for (size_t i = 0; i < net.buses.size(); ++i) {
        if (net.buses[i].kind == BusKind::slack) {
            net.slacks.push_back(static_cast<int>(i));
        }
    }
    net.slack = net.slacks.empty() ? 0 : net.slacks.front();
}

} // namespace

void join_ties(Network &net)
{
    std::vector<TieNode> nodes = tie_groups(net);
    if (nodes.empty()) {
        return;
    }
    net.own = net.buses;
    std::vector<int> units_on(net.buses.size(), 0);
    for (const NetUnit &u : net.units) {
        units_on[u.bus] += u.in_service ? 1 : 0;
    }
    for (TieNode &node : nodes) {
        node.rep = representative(net, node);
        const std::string note = set_point_note(net, node);
        if (!note.empty()) {
            net.notes.push_back(note);
        }
        join_node(net, node, units_on);
    }
    for (NetBranch &br : net.branches) {
        br.f = br.tie ? br.own_f : net.buses[br.own_f].node;
        br.t = br.tie ? br.own_t : net.buses[br.own_t].node;
    }
    list_slacks(net);
    net.tie_nodes = std::move(nodes);
}

Network without_branches(const Network &net, const std::vector<int> &branches, const std::vector<int> &closed)
{
    Network split = net;
    if (!net.own.empty()) {
        split.buses = net.own;
    }
    split.own.clear();
    split.tie_nodes.clear();
    split.notes.clear();
    for (NetBranch &br : split.branches) {
        br.f = br.own_f;
        br.t = br.own_t;
    }
    for (const int k : branches) {
        split.branches[k].in_service = false;
    }
    for (const int k : closed) {
        split.branches[k].in_service = true;
    }
    split.groups.clear();
    split.group_of.clear();
    list_slacks(split);
    join_ties(split);
    add_regulation(split);
    return split;
}

bool opens_a_tie(const Network &net, const std::vector<int> &branches)
{
    return std::any_of(branches.begin(), branches.end(),
                       [&net](int k) { return net.branches[k].tie && net.branches[k].in_service; });
}

bool closes_a_tie(const Network &net, const std::vector<int> &branches)
{
    return std::any_of(branches.begin(), branches.end(),
                       [&net](int k) { return net.branches[k].tie && !net.branches[k].in_service; });
}
