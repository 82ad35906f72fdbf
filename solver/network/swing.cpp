#include "network/swing.h"

#include "io/input_error.h"
#include "network/islands.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// What an island holds: a slack bus, its lowest RAW bus number, and its
// candidate unit (an index in net.units, -1 for none).
struct IslandSwing {
    bool has_slack = false;
    int lowest = INT_MAX;
    int unit = -1;
};

// Unit a before unit b as an island's swing: the larger PT, then the lower
// bus number (RAW order among a bus's units, as units come in RAW order).
bool better_swing(const Network &net, const NetUnit &a, const NetUnit &b)
{
    if (a.pt != b.pt) {
        return a.pt > b.pt;
    }
    return net.buses[a.bus].number < net.buses[b.bus].number;
}

std::string swing_note(const Network &net, const IslandSwing &is)
{
    const NetUnit &u = net.units[static_cast<std::size_t>(is.unit)];
    char pt[64];
    std::snprintf(pt, sizeof pt, "%.10g", u.pt * net.sbase);
    return net.file + ":" + std::to_string(u.line) + ": the island of bus " + std::to_string(is.lowest) +
           " has no slack bus (IDE 3): bus " + std::to_string(net.buses[u.bus].number) +
           " is its swing, the bus of its in-service unit of the largest PT (unit '" + u.id + "', PT " + pt + " MW)";
}

} // namespace

void add_swings(Network &net, bool auto_swing)
{
    // Islands as the base case finds them: every bus is energised here (IDE
    // 4 buses are not in the network), over the branches in service.
    std::vector<char> on(net.branches.size());
    std::transform(net.branches.begin(), net.branches.end(), on.begin(),
                   [](const NetBranch &br) { return static_cast<char>(br.in_service ? 1 : 0); });
    std::vector<BusKind> kind(net.buses.size());
    std::transform(net.buses.begin(), net.buses.end(), kind.begin(), [](const NetBus &b) { return b.kind; });
    std::vector<int> island;
    const int count = find_islands(net, on, kind, island);
    std::vector<IslandSwing> islands(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        IslandSwing &is = islands[static_cast<std::size_t>(island[i])];
        is.has_slack = is.has_slack || net.buses[i].kind == BusKind::slack;
        if (static_cast<int>(i) < net.raw_buses) {
            is.lowest = std::min(is.lowest, net.buses[i].number);
        }
    }
    for (std::size_t u = 0; u < net.units.size() && auto_swing; ++u) {
        const NetUnit &nu = net.units[u];
        IslandSwing &is = islands[static_cast<std::size_t>(island[static_cast<std::size_t>(nu.bus)])];
        if (nu.in_service && (is.unit < 0 || better_swing(net, nu, net.units[static_cast<std::size_t>(is.unit)]))) {
            is.unit = static_cast<int>(u);
        }
    }
    for (const IslandSwing &is : islands) {
        if (!is.has_slack && is.unit >= 0) {
            NetBus &b = net.buses[static_cast<std::size_t>(net.units[static_cast<std::size_t>(is.unit)].bus)];
            b.kind_before_swing = b.kind;
            b.auto_swing = true;
            b.kind = BusKind::slack;
            b.ideal_source = false;
            net.notes.push_back(swing_note(net, is));
        }
    }
    net.slacks.clear();
    for (std::size_t i = 0; i < net.buses.size(); ++i) {
        if (net.buses[i].kind == BusKind::slack) {
            net.slacks.push_back(static_cast<int>(i));
        }
    }
    net.slack = net.slacks.empty() ? 0 : net.slacks.front();
    if (net.slacks.empty()) {
        throw InputError(net.file, 0,
                         auto_swing ? "no slack bus: no bus has IDE 3, and no unit is in service to be the swing"
                                    : "no slack bus: no bus has IDE 3");
    }
}
