#include "powerflow/dc_rounds.h"

#include "network/dclink.h"
#include "powerflow/chord.h"
#include "powerflow/flat_start.h"
#include "powerflow/mtdc_rounds.h"
#include "powerflow/q_limits.h"

#include <algorithm>
#include <cmath>
#include <string>

std::vector<DcDraw> dc_draws(const Network &net, const BusSchedule &sch, const Voltages &v, std::vector<double> &taps)
{
    taps = sch.taps;
    std::vector<DcDraw> draws;
    const auto off = [&](int b) {
        return sch.kind[static_cast<std::size_t>(net.buses[static_cast<std::size_t>(b)].node)] == BusKind::off;
    };
    for (std::size_t k = 0; k < net.lcc.size(); ++k) {
        const NetLcc &x = net.lcc[k];
        if (!x.in_service || off(x.rbus) || off(x.ibus)) {
            continue;
        }
        const LccPoint p = lcc_point(x.d, v.vm[x.rbus], v.vm[x.ibus], sch.taps[2 * k], sch.taps[2 * k + 1]);
        taps[2 * k] = p.tap_r;
        taps[2 * k + 1] = p.tap_i;
        draws.push_back({x.rbus, std::complex<double>(p.pr_mw, p.qr_mvar) / net.sbase});
        draws.push_back({x.ibus, std::complex<double>(-p.pi_mw, p.qi_mvar) / net.sbase});
    }
    for (const NetVsc &x : net.vsc) {
        if (!x.in_service || off(x.bus[0]) || off(x.bus[1])) {
            continue;
        }
        for (std::size_t k = 0; k < 2; ++k) {
            draws.push_back({x.bus.at(k), -std::complex<double>(x.p_ac.at(k), x.q_ac.at(k)) / net.sbase});
        }
    }
    add_mtdc_draws(net, sch, v, taps, draws);
    return draws;
}

double dc_injections(const Network &net, BusSchedule &sch, const Voltages &v)
{
    std::vector<double> taps;
    const std::vector<DcDraw> draws = dc_draws(net, sch, v, taps);
    const bool moved = taps != sch.taps;
    sch.taps = std::move(taps);
    const std::vector<double> pdc = sch.pdc;
    const std::vector<double> qdc = sch.qdc;
    std::fill(sch.pdc.begin(), sch.pdc.end(), 0.0);
    std::fill(sch.qdc.begin(), sch.qdc.end(), 0.0);
    for (const DcDraw &d : draws) {
        // A converter on a bus joined by ties draws at its node's representative.
        const auto at = static_cast<std::size_t>(net.buses[static_cast<std::size_t>(d.bus)].node);
        sch.pdc[at] += d.s.real();
        sch.qdc[at] += d.s.imag();
    }
    if (moved) {
        return HUGE_VAL;
    }
    double change = 0;
    for (std::size_t i = 0; i < pdc.size(); ++i) {
        change = std::max({change, std::abs(pdc[i] - sch.pdc[i]), std::abs(qdc[i] - sch.qdc[i])});
    }
    return change;
}

namespace {

constexpr int max_dc_rounds = 30;

// Solves with the DC lines' injections at the AC voltages found, until
// those injections settle (at once where no LCC or multi-terminal line is
// in service).
PfSolution dc_rounds(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held, Voltages v,
                     const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord, Sharing *share)
{
    if (std::none_of(net.lcc.begin(), net.lcc.end(), [](const NetLcc &x) { return x.in_service; }) &&
        !any_mtdc_in_service(net)) {
        PfSolution s = q_limit_loop(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord, share);
        copy_tied_voltages(net, s.v);
        return s;
    }
    PfSolution total;
    for (int round = 0; round < max_dc_rounds; ++round) {
        PfSolution s = q_limit_loop(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord, share);
        copy_tied_voltages(net, s.v);
        s.iterations += total.iterations;
        s.chord_steps += total.chord_steps;
        s.factorizations += total.factorizations;
        s.q_changes += total.q_changes;
        if (!s.converged || dc_injections(net, s.sch, s.v) <= opt.tolerance_pu) {
            return s;
        }
        s.converged = false;
        sch = s.sch;
        held = s.held;
        v = s.v;
        total = std::move(s);
    }
    total.failure = "the DC lines did not settle in " + std::to_string(max_dc_rounds) + " rounds";
    return total;
}

} // namespace

PfSolution solve_with_q_limits(const Network &net, const Ybus &y, BusSchedule sch, std::vector<signed char> held,
                               Voltages v, const PfOptions &opt, NewtonWorkspace &ws, const ChordBase *chord,
                               Sharing *share)
{
    // Every solve starts from its own voltages alone: none of the complex
    // voltages an earlier solve left in the workspace are reused (a
    // contingency's start from those of the base solution, the same for
    // all), and Ybus·V is carried from one step to the next only inside
    // this solve (see NewtonWorkspace::current_of).
    if (chord != nullptr && chord->v0.vm.size() == v.vm.size() && chord->vc0.size() == v.vm.size()) {
        ws.vc = chord->vc0;
        ws.vc_at = chord->v0;
    } else {
        ws.vc_at = Voltages{};
    }
    ws.current_of = nullptr;
    ws.in_solve = true;
    PfSolution s = dc_rounds(net, y, std::move(sch), std::move(held), std::move(v), opt, ws, chord, share);
    ws.in_solve = false;
    ws.current_of = nullptr;
    return s;
}
