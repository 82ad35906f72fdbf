#include "network/islands.h"

#include <algorithm>
#include <climits>

int find_islands(const Network &net, const std::vector<char> &on, const std::vector<BusKind> &kind,
                 std::vector<int> &island)
{
    const size_t n = net.buses.size();
    // Adjacency in compressed form: the branches at each bus.
    std::vector<int> start(n + 1, 0);
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (on[k]) {
            ++start[net.branches[k].f + 1];
            ++start[net.branches[k].t + 1];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        start[i + 1] += start[i];
    }
    std::vector<int> adj(start[n]);
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (on[k]) {
            const NetBranch &br = net.branches[k];
            adj[fill[br.f]++] = br.t;
            adj[fill[br.t]++] = br.f;
        }
    }
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
            for (int e = start[i]; e < start[i + 1]; ++e) {
                const int j = adj[e];
                if (island[j] < 0 && kind[j] != BusKind::off) {
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

std::vector<char> find_bridges(const Network &net, const std::vector<char> &on, const std::vector<BusKind> &kind)
{
    // Tarjan's rule on a depth-first search: the tree edge into v is a bridge
    // when no back edge from v's subtree reaches above v (low[v] > order[u]).
    // Iterative, so that large networks do not overflow the call stack.
    const size_t n = net.buses.size();
    std::vector<int> start(n + 1, 0);
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (on[k]) {
            ++start[net.branches[k].f + 1];
            ++start[net.branches[k].t + 1];
        }
    }
    for (size_t i = 0; i < n; ++i) {
        start[i + 1] += start[i];
    }
    std::vector<int> adj(start[n]), via(start[n]); // neighbour and branch
    std::vector<int> fill(start.begin(), start.end() - 1);
    for (size_t k = 0; k < net.branches.size(); ++k) {
        if (on[k]) {
            const NetBranch &br = net.branches[k];
            adj[fill[br.f]] = br.t;
            via[fill[br.f]++] = static_cast<int>(k);
            adj[fill[br.t]] = br.f;
            via[fill[br.t]++] = static_cast<int>(k);
        }
    }
    std::vector<char> bridge(net.branches.size(), 0);
    std::vector<int> order(n, -1), low(n, 0), next(n, 0), parent_branch(n, -1);
    std::vector<int> stack;
    int counter = 0;
    for (size_t root = 0; root < n; ++root) {
        if (order[root] >= 0 || kind[root] == BusKind::off) {
            continue;
        }
        order[root] = low[root] = counter++;
        next[root] = start[root];
        stack.assign(1, static_cast<int>(root));
        while (!stack.empty()) {
            const int u = stack.back();
            if (next[u] < start[u + 1]) {
                const int e = next[u]++;
                const int w = adj[e];
                if (via[e] == parent_branch[u] || kind[w] == BusKind::off) {
                    continue;
                }
                if (order[w] < 0) {
                    order[w] = low[w] = counter++;
                    next[w] = start[w];
                    parent_branch[w] = via[e];
                    stack.push_back(w);
                } else {
                    low[u] = std::min(low[u], order[w]);
                }
                continue;
            }
            stack.pop_back();
            if (!stack.empty()) {
                const int p = stack.back();
                low[p] = std::min(low[p], low[u]);
                if (low[u] > order[p]) {
                    bridge[parent_branch[u]] = 1;
                }
            }
        }
    }
    return bridge;
}
