#include "network/islands.h"

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
