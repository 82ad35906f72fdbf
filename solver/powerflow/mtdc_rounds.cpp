#include "powerflow/mtdc_rounds.h"

#include "network/mtdc.h"

#include <algorithm>
#include <complex>

void add_mtdc_draws(const Network &net, const BusSchedule &sch, const Voltages &v, std::vector<double> &taps,
                    std::vector<DcDraw> &draws)
{
    const auto off = [&](int b) {
        return sch.kind[static_cast<std::size_t>(net.buses[static_cast<std::size_t>(b)].node)] == BusKind::off;
    };
    for (std::size_t m = 0; m < net.mtdc.size(); ++m) {
        const NetMtdc &x = net.mtdc[m];
        if (!x.in_service || std::any_of(x.bus.begin(), x.bus.end(), off)) {
            continue;
        }
        const std::size_t at = mtdc_tap_offset(net, m);
        const std::size_t n = x.bus.size();
        std::vector<double> vac(n);
        for (std::size_t k = 0; k < n; ++k) {
            vac[k] = v.vm[x.bus[k]];
        }
        const auto first = sch.taps.begin() + static_cast<std::ptrdiff_t>(at);
        const MtdcPoint p = mtdc_point(x, vac, std::vector<double>(first, first + static_cast<std::ptrdiff_t>(n)));
        if (p.blocked) {
            continue;
        }
        std::copy(p.tap.begin(), p.tap.end(), taps.begin() + static_cast<std::ptrdiff_t>(at));
        for (std::size_t k = 0; k < n; ++k) {
            draws.push_back({x.bus[k], std::complex<double>(p.p_mw[k], p.q_mvar[k]) / net.sbase});
        }
    }
}

bool any_mtdc_in_service(const Network &net)
{
    return std::any_of(net.mtdc.begin(), net.mtdc.end(), [](const NetMtdc &x) { return x.in_service; });
}
