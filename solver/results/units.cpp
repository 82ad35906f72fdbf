#include "results/units.h"

#include "io/csv.h"
#include "powerflow/sharing.h"
#include "results/columns.h"

#include <cmath>
#include <numeric>

namespace {

// The in-service units of each bus (its own), leaving out `removed`.
std::vector<std::vector<int>> units_at(const Network &net, int removed)
{
    std::vector<std::vector<int>> at(net.buses.size());
    for (std::size_t u = 0; u < net.units.size(); ++u) {
        if (net.units[u].in_service && static_cast<int>(u) != removed) {
            at[static_cast<std::size_t>(net.units[u].bus)].push_back(static_cast<int>(u));
        }
    }
    return at;
}

// Shares `total` among `units`: low_u + (total − Σlow)·w_u/Σw with
// w_u = high_u − low_u where every range is positive and finite; else
// floor_u + (total − Σfloor)/n.
template <class Low, class High, class Floor>
void share(const std::vector<int> &units, double total, const Low &low, const High &high, const Floor &floor,
           std::vector<double> &out)
{
    bool ranges = true;
    double low_sum = 0;
    double w_sum = 0;
    double floor_sum = 0;
    for (const int u : units) {
        const double w = high(u) - low(u);
        ranges = ranges && std::isfinite(w) && w > 0;
        low_sum += low(u);
        w_sum += w;
        floor_sum += floor(u);
    }
    const double n = static_cast<double>(units.size());
    for (const int u : units) {
        out[static_cast<std::size_t>(u)] =
            ranges ? low(u) + (total - low_sum) * (high(u) - low(u)) / w_sum : floor(u) + (total - floor_sum) / n;
    }
}

// What the VSC converters holding their AC voltage put out at each bus, pu.
std::vector<double> converter_q(const SolvedNetwork &s)
{
    std::vector<double> q(s.net.buses.size(), 0.0);
    const auto off = [&s](int b) {
        return s.sol.sch.kind[static_cast<std::size_t>(s.net.buses[static_cast<std::size_t>(b)].node)] == BusKind::off;
    };
    for (const NetVsc &x : s.net.vsc) {
        if (!x.in_service || off(x.bus[0]) || off(x.bus[1])) {
            continue;
        }
        for (std::size_t k = 0; k < 2; ++k) {
            if (x.d.converters.at(k).mode != 2) {
                q[static_cast<std::size_t>(x.bus.at(k))] += vsc_q(s, x, k) / s.net.sbase;
            }
        }
    }
    return q;
}

// A slack's active output P among its units: the outputs a generator
// response gave them where they add up to P (to 1e-6 pu); else, and where
// it gave none, share_slack_p's split by PT − PB.
void share_slack_output(const SolvedNetwork &s, const std::vector<int> &units, double p, std::vector<double> &out)
{
    const double sum = std::accumulate(units.begin(), units.end(), 0.0, [&s](double total, int u) {
        const auto i = static_cast<std::size_t>(u);
        return total + (i < s.slack_unit_p.size() ? s.slack_unit_p[i] : std::nan(""));
    });
    if (!(std::fabs(sum - p) <= 1e-6)) {
        share_slack_p(s.net, units, p, out);
        return;
    }
    for (const int u : units) {
        out[static_cast<std::size_t>(u)] = s.slack_unit_p[static_cast<std::size_t>(u)];
    }
}

} // namespace

std::vector<std::complex<double>> unit_outputs(const SolvedNetwork &s)
{
    const Network &net = s.net;
    const BusSchedule &sch = s.sol.sch;
    const std::vector<std::complex<double>> bus = bus_output(s);
    const std::vector<std::vector<int>> at = units_at(net, s.removed_unit);
    const std::vector<double> conv = converter_q(s);
    std::vector<double> p(net.units.size(), 0.0);
    std::vector<double> q(net.units.size(), 0.0);
    const auto unit = [&net](int u) -> const NetUnit & { return net.units[static_cast<std::size_t>(u)]; };
    for (std::size_t b = 0; b < static_cast<std::size_t>(net.raw_buses); ++b) {
        const auto node = static_cast<std::size_t>(net.buses[b].node);
        if (at[b].empty() || sch.kind[b] == BusKind::off) {
            continue;
        }
        if (node == b && sch.kind[b] == BusKind::slack) {
            share_slack_output(s, at[b], bus[b].real(), p);
        } else {
            for (const int u : at[b]) {
                p[static_cast<std::size_t>(u)] = unit(u).pg;
            }
        }
        if (sch.kind[node] == BusKind::pq && s.sol.held[node] == 0) {
            for (const int u : at[b]) {
                q[static_cast<std::size_t>(u)] = unit(u).qg;
            }
        } else {
            share(
                at[b], bus[b].imag() - conv[b], [&](int u) { return unit(u).qb; }, [&](int u) { return unit(u).qt; },
                [&](int u) { return unit(u).qb; }, q);
        }
    }
    std::vector<std::complex<double>> out(net.units.size());
    for (std::size_t u = 0; u < out.size(); ++u) {
        out[u] = {p[u], q[u]};
    }
    return out;
}

// status is the network's (a unit a contingency took out is 0), output 0
// where unit_outputs gives none.
std::string units_csv(const std::vector<Unit> &raw_units, const SolvedNetwork &s)
{
    const Network &net = s.net;
    const double sb = net.sbase;
    const std::vector<std::complex<double>> out = unit_outputs(s);
    std::string text = header_line(base_units_columns);
    std::size_t j = 0; // the network's units, a subsequence of the RAW's
    for (const Unit &ru : raw_units) {
        const bool in_net = j < net.units.size() && net.units[j].line == ru.line &&
                            net.buses[static_cast<std::size_t>(net.units[j].bus)].number == ru.bus;
        const bool on = in_net ? net.units[j].in_service && static_cast<int>(j) != s.removed_unit : ru.status != 0;
        const std::complex<double> sg = in_net ? out[j] * sb : 0.0;
        text += std::to_string(ru.bus) + "," + csv_text(ru.id) + "," + (on ? "1" : "0") + "," + num(sg.real()) + "," +
                num(sg.imag()) + "," + num(ru.qt) + "," + num(ru.qb) + "," + num(ru.pt) + "," + num(ru.pb) + "\n";
        j += in_net ? 1 : 0;
    }
    return text;
}
