#include "network/islands.h"

#include <algorithm>
#include <climits>

namespace {

// The branches at each bus, in compressed form (see BusBranches): those
// marked in `on`, or every one where on is null.
BusBranches adjacency(const Network &net, const std::vector<char> *on)
{
    const size_t n = net.buses.size();
    const auto in = [&](size_t k) { return on == nullptr || (*on)[k] != 0; };
    BusBranches a;
    a.start.assign(n + 1, 0);
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (in(k)) {
            ++a.start[net.branches[k].f + 1];
            ++a.start[net.branches[k].t + 1];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        a.start[i + 1] += a.start[i];
    }
    a.adj.resize(a.start[n]);
    a.via.resize(a.start[n]);
    std::vector<int> fill(a.start.begin(), a.start.end() - 1);
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (in(k)) {
            const NetBranch &br = net.branches[k];
            a.adj[fill[br.f]] = br.t;
            a.via[fill[br.f]++] = static_cast<int>(k);
            a.adj[fill[br.t]] = br.f;
            a.via[fill[br.t]++] = static_cast<int>(k);
        }
    }
    return a;
}

} // namespace

BusBranches bus_branches(const Network &net) { return adjacency(net, nullptr); }

int find_islands(const Network &net, const std::vector<char> &on, const std::vector<BusKind> &kind,
                 std::vector<int> &island, const BusBranches *all)
{
    // Over every branch, those out of service skipped, a bus's neighbours
    // come in the same order as over the branches in service alone.
    const size_t n = net.buses.size();
    const bool given = all != nullptr && all->start.size() == n + 1 && all->via.size() == 2 * net.branches.size();
    const BusBranches own = given ? BusBranches{} : adjacency(net, &on);
    const BusBranches &g = given ? *all : own;
    island.assign(n, -1);
    int count = 0;
    std::vector<int> stack;
    for (size_t s = 0; s < n; ++s) {
        if (island[s] >= 0 || kind[s] == BusKind::off) {
            continue;
        }
        island[s] = count;
        stack.assign(1, static_cast<int>(s));
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            for (int e = g.start[i]; e < g.start[i + 1]; ++e) {
                const int j = g.adj[e];
                if (island[j] < 0 && kind[j] != BusKind::off && on[g.via[e]] != 0) {
                    island[j] = count;
                    stack.push_back(j);
                }
            }
        }
        ++count;
    }
    return count;
}

int main_island(const Network &net, const std::vector<int> &island, int count)
{
    std::vector<int> size(count, 0);
    std::vector<int> lowest(count, INT_MAX);
    for (size_t i = 0; i < net.buses.size(); ++i) {
        const int c = island[i];
        if (c >= 0 && static_cast<int>(i) < net.raw_buses) {
            ++size[c];
            lowest[c] = std::min(lowest[c], net.buses[i].number);
        }
    }
    const int slack_island = island[net.slack];
    int best = -1;
    for (int c = 0; c < count; ++c) {
        if (best < 0 || size[c] > size[best]) {
            best = c;
        } else if (size[c] == size[best]) {
            const bool c_wins = c == slack_island || (best != slack_island && lowest[c] < lowest[best]);
            best = c_wins ? c : best;
        }
    }
    return best;
}

std::vector<char> islands_to_solve(const Network &net, const std::vector<int> &island, int count)
{
    std::vector<char> keep(static_cast<std::size_t>(count), 0);
    bool any = false;
    for (const int s : net.slacks) {
        if (island[s] >= 0) {
            keep[static_cast<std::size_t>(island[s])] = 1;
            any = true;
        }
    }
    if (!any && count > 0) {
        keep[static_cast<std::size_t>(main_island(net, island, count))] = 1;
    }
    return keep;
}

namespace {

// Depth-first search state for Tarjan's bridges.
struct BridgeSearch {
    std::vector<int> order, low, next, parent_branch;
    int counter = 0;
};

// Searches the island of `root`, flagging its bridges.
void bridges_from(const BusBranches &g, const std::vector<BusKind> &kind, int root, BridgeSearch &b,
                  std::vector<char> &bridge)
{
    b.order[root] = b.low[root] = b.counter++;
    b.next[root] = g.start[root];
    std::vector<int> stack(1, root);
    while (!stack.empty()) {
        const int u = stack.back();
        if (b.next[u] == g.start[u + 1]) {
            stack.pop_back();
            if (!stack.empty()) {
                const int p = stack.back();
                b.low[p] = std::min(b.low[p], b.low[u]);
                bridge[b.parent_branch[u]] = b.low[u] > b.order[p] ? 1 : 0;
            }
            continue;
        }
        const int e = b.next[u]++;
        const int w = g.adj[e];
        if (g.via[e] == b.parent_branch[u] || kind[w] == BusKind::off) {
            continue;
        }
        if (b.order[w] < 0) {
            b.order[w] = b.low[w] = b.counter++;
            b.next[w] = g.start[w];
            b.parent_branch[w] = g.via[e];
            stack.push_back(w);
        } else {
            b.low[u] = std::min(b.low[u], b.order[w]);
        }
    }
}

} // namespace

std::vector<char> find_bridges(const Network &net, const std::vector<char> &on, const std::vector<BusKind> &kind)
{
    // Tarjan's rule on a depth-first search: the tree edge into v is a bridge
    // when no back edge from v's subtree reaches above v (low[v] > order[u]).
    // Iterative, so that large networks do not overflow the call stack.
    const BusBranches g = adjacency(net, &on);
    const size_t n = net.buses.size();
    BridgeSearch b;
    b.order.assign(n, -1);
    b.low.assign(n, 0);
    b.next.assign(n, 0);
    b.parent_branch.assign(n, -1);
    std::vector<char> bridge(net.branches.size(), 0);
    for (size_t root = 0; root < n; ++root) {
        if (b.order[root] < 0 && kind[root] != BusKind::off) {
            bridges_from(g, kind, static_cast<int>(root), b, bridge);
        }
    }
    return bridge;
}
