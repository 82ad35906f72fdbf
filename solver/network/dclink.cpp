#include "network/dclink.h"

#include "io/input_error.h"
#include "network/network.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
const double k_vdo = 3.0 * std::sqrt(2.0) / pi; // Vdo = k_vdo·E per six-pulse bridge
constexpr double k_x = 3.0 / pi;                // commutation drop per ohm of XC

} // namespace

namespace lcc_eq {

// No-load DC voltage of a converter's NB bridges, kV:
//   Vdo = NB·(3√2/π)·E,  E = V·EBAS·TR/TAP (the valve side's line voltage).
double vdo(const LccConverter &c, double v_pu, double tap) { return c.nb * k_vdo * v_pu * c.ebas * c.tr / tap; }

// The tap that gives no-load voltage `want` at v_pu.
double tap_for(const LccConverter &c, double v_pu, double want)
{
    return want > 0 ? c.nb * k_vdo * v_pu * c.ebas * c.tr / want : c.tmx;
}

// From `from`, whole steps of STP towards `want`: the nearest step, or with
// `past` the first step at or beyond it; kept within TMN..TMX. A converter
// without a step (STP 0) takes `want` itself, within the range.
double step_tap(const LccConverter &c, double from, double want, bool past)
{
    double t = want;
    if (c.stp > 0) {
        const double steps = (want - from) / c.stp;
        const double n = past ? (steps > 0 ? std::ceil(steps - 1e-9) : std::floor(steps + 1e-9)) : std::round(steps);
        t = from + n * c.stp;
    }
    return std::clamp(t, std::min(c.tmn, c.tmx), std::max(c.tmn, c.tmx));
}

// The current (kA) that carries `p` MW where the voltage is vs + a·I:
//   (vs + a·I)·I = p.
double current_for_power(double p, double vs, double a)
{
    const double disc = vs * vs + 4.0 * a * p;
    return p == 0.0 ? 0.0 : 2.0 * p / (vs + std::sqrt(std::max(disc, 0.0)));
}

// Active power into the converter's AC side and its reactive absorption,
// for a converter at angle `ang` (α or γ) with internal DC voltage
//   Vd' = Vdo·cos(ang) − NB·(3/π)·XC·Id,   cos φ = Vd'/Vdo,   Q = P·tan φ.
double reactive(const LccConverter &c, double vdo_kv, double ang, double id, double p)
{
    const double cos_phi = std::clamp((vdo_kv * std::cos(ang) - c.nb * k_x * c.xc * id) / vdo_kv, -1.0, 1.0);
    const double sin_phi = std::sqrt(std::max(0.0, 1.0 - cos_phi * cos_phi));
    return cos_phi > 0 ? std::abs(p) * sin_phi / cos_phi : 0.0;
}

// Drops per kA of DC current (ohms): the commutation overlap (3/π)·XC per
// bridge at both converters, and the transformer resistance 2·RC per bridge,
// against the current at the rectifier and with it at the inverter.
double drop_r(const LccConverter &c) { return c.nb * (k_x * c.xc + 2.0 * c.rc); }
double drop_i(const LccConverter &c) { return c.nb * (k_x * c.xc - 2.0 * c.rc); }

} // namespace lcc_eq

namespace {

constexpr double deg = pi / 180.0;

using lcc_eq::current_for_power;
using lcc_eq::drop_i;
using lcc_eq::drop_r;
using lcc_eq::reactive;
using lcc_eq::step_tap;
using lcc_eq::tap_for;
using lcc_eq::vdo;

} // namespace

LccPoint lcc_point(const TwoTerminalDc &d, double vr_pu, double vi_pu, double tap_r, double tap_i)
{
    const LccConverter &rc = d.rectifier;
    const LccConverter &ic = d.inverter;
    LccPoint p;
    p.tap_r = tap_r;
    p.tap_i = tap_i;
    const double gmin = ic.anmn_deg * deg;
    const double p_order = std::abs(d.setvl);
    // The current order: SETVL amperes, or the power order at the scheduled
    // voltage, VSCHD at RCOMP ohms from the inverter.
    const bool power = d.mdc == 1;
    double id =
        power ? current_for_power(p_order, d.vschd, d.setvl > 0 ? d.rdc - d.rcomp : -d.rcomp) : d.setvl / 1000.0;
    p.mode = power ? "power" : "current";
    double vdi = 0;
    for (int pass = 0; pass < 3; ++pass) {
        // The inverter at γ = GAMMN, its tap stepped towards the one that
        // gives VSCHD: Vdi = Vdo_i·cos γ − drop_i·Id.
        const double want = d.vschd - d.rcomp * id;
        p.tap_i = step_tap(ic, p.tap_i, tap_for(ic, vi_pu, (want + drop_i(ic) * id) / std::cos(gmin)), false);
        const double vdoi = vdo(ic, vi_pu, p.tap_i);
        vdi = vdoi * std::cos(gmin) - drop_i(ic) * id;
        if (!power) {
            continue;
        }
        // The power order at the voltages the taps give, at the rectifier
        // (Vdr = Vdi + RDC·Id) or the inverter.
        id = current_for_power(p_order, vdoi * std::cos(gmin), (d.setvl > 0 ? d.rdc : 0.0) - drop_i(ic));
        vdi = vdoi * std::cos(gmin) - drop_i(ic) * id;
        if (vdi < d.vcmod) {
            // Reduced voltage: the line changes to current control at the
            // current of the power order at VSCHD.
            id = p_order / d.vschd;
            p.mode = "current (inverter voltage below VCMOD)";
            vdi = vdoi * std::cos(gmin) - drop_i(ic) * id;
            break;
        }
    }
    p.gamma_deg = ic.anmn_deg;
    double vdr = vdi + d.rdc * id;
    // The rectifier's α from Vdr = Vdo_r·cos α − drop_r·Id, its tap stepped
    // until α is within ANMN..ANMX where the tap range allows.
    const auto cos_alpha = [&](double tap) { return (vdr + drop_r(rc) * id) / vdo(rc, vr_pu, tap); };
    const double amin = rc.anmn_deg * deg;
    const double amax = rc.anmx_deg * deg;
    if (cos_alpha(p.tap_r) > std::cos(amin)) {
        p.tap_r = step_tap(rc, p.tap_r, tap_for(rc, vr_pu, (vdr + drop_r(rc) * id) / std::cos(amin)), true);
    } else if (cos_alpha(p.tap_r) < std::cos(amax)) {
        p.tap_r = step_tap(rc, p.tap_r, tap_for(rc, vr_pu, (vdr + drop_r(rc) * id) / std::cos(amax)), true);
    }
    double ca = cos_alpha(p.tap_r);
    if (ca > std::cos(amin)) {
        // The rectifier can not reach the voltage: α at ANMN sets it, and the
        // inverter controls the current, the order less the margin DELTI.
        const double vdor = vdo(rc, vr_pu, p.tap_r);
        const double vdoi = vdo(ic, vi_pu, p.tap_i);
        id = id * (1.0 - d.delti);
        vdr = vdor * std::cos(amin) - drop_r(rc) * id;
        vdi = vdr - d.rdc * id;
        double cg = (vdi + drop_i(ic) * id) / vdoi;
        if (cg > std::cos(gmin)) {
            // Not even γ at GAMMN: both angles at their limits fix the current.
            id = (vdor * std::cos(amin) - vdoi * std::cos(gmin)) / (drop_r(rc) + d.rdc - drop_i(ic));
            vdr = vdor * std::cos(amin) - drop_r(rc) * id;
            vdi = vdr - d.rdc * id;
            cg = std::cos(gmin);
        }
        if (!(id > 0)) {
            p.blocked = true;
            p.note = "no operating point: the rectifier at ANMN can not drive current against the inverter";
            return p;
        }
        ca = std::cos(amin);
        p.gamma_deg = std::acos(std::clamp(cg, -1.0, 1.0)) / deg;
        p.mode += ", inverter controls the current (rectifier at ANMN)";
    } else if (ca < std::cos(amax)) {
        p.note = "rectifier α above ANMX with its tap at the limit";
    }
    p.alpha_deg = std::acos(std::clamp(ca, -1.0, 1.0)) / deg;
    p.id_ka = id;
    p.vdr_kv = vdr;
    p.vdi_kv = vdi;
    // AC powers: the DC power plus (rectifier) or less (inverter) the
    // converter transformers' resistive loss 2·NB·RC·Id².
    p.pr_mw = vdr * id + 2.0 * rc.nb * rc.rc * id * id;
    p.pi_mw = vdi * id - 2.0 * ic.nb * ic.rc * id * id;
    p.qr_mvar = reactive(rc, vdo(rc, vr_pu, p.tap_r), p.alpha_deg * deg, id, p.pr_mw);
    p.qi_mvar = reactive(ic, vdo(ic, vi_pu, p.tap_i), p.gamma_deg * deg, id, p.pi_mw);
    return p;
}

namespace {

std::string lcc_name(const TwoTerminalDc &d) { return "two-terminal DC line '" + d.name + "'"; }
std::string vsc_name(const VscDc &d) { return "VSC DC line '" + d.name + "'"; }

// The data the converter equations need are present and make sense.
void check_lcc(const RawCase &raw, const TwoTerminalDc &d)
{
    const auto bad = [&](const std::string &what) { return InputError(raw.file, d.line, lcc_name(d) + ": " + what); };
    if (d.mdc != 1 && d.mdc != 2) {
        throw bad("MDC " + std::to_string(d.mdc) + " is not 0 (blocked), 1 (power) or 2 (current)");
    }
    if (!(d.vschd > 0)) {
        throw bad("VSCHD must be positive");
    }
    if (d.mdc == 2 && d.setvl < 0) {
        throw bad("SETVL, a current order, must not be negative");
    }
    if (!(d.rdc >= 0) || !(d.delti >= 0 && d.delti < 1)) {
        throw bad("RDC must not be negative and DELTI must lie in 0..1");
    }
    const std::array<std::pair<const char *, const LccConverter *>, 2> ends{
        {{"rectifier", &d.rectifier}, {"inverter", &d.inverter}}};
    for (const auto &[end, c] : ends) {
        const std::string e(end);
        if (c->nb < 1) {
            throw bad(e + " NB must be at least 1");
        }
        if (!(c->ebas > 0) || !(c->tr > 0) || !(c->tap > 0) || !(c->tmn > 0) || !(c->tmx >= c->tmn)) {
            throw bad(e + " EBAS, TR, TAP and TMN must be positive, and TMX at least TMN");
        }
        if (!(c->stp >= 0) || !(c->xc >= 0) || !(c->rc >= 0)) {
            throw bad(e + " STP, RC and XC must not be negative");
        }
        // ANMX may be 90 degrees (the converter may go to zero DC voltage);
        // ANMN below it, so that the converter can hold a voltage.
        if (!(c->anmn_deg >= 0) || !(c->anmx_deg >= 0) || !(c->anmx_deg <= 90) || !(c->anmn_deg < 90)) {
            throw bad(e + " angle limits ANMX and ANMN must lie in 0..90 degrees, ANMN below 90");
        }
        if (c->xcap != 0) {
            throw bad(e + " XCAP is not 0: capacitor-commutated converters are not modelled");
        }
    }
}

// Converter losses, MW: ALOSS + BLOSS·Idc kW with Idc in A, at least MINLOSS.
double vsc_loss(const VscConverter &k, double idc_a)
{
    return std::max(k.aloss + k.bloss * std::abs(idc_a), k.minloss) / 1000.0;
}

// The VSC line's active powers. Converter v holds the DC voltage DCSET_v,
// converter p the AC power DCSET_p. The DC line carries I from v to p:
//   P_dc,p = P_ac,p + L_p = (V_v − RDC·I)·I,   P_ac,v = −(V_v·I + L_v),
// the losses L depending on I, so found by fixed-point iteration.
void vsc_powers(NetVsc &x, int v)
{
    const int p = 1 - v;
    const VscConverter &kv = x.d.converters.at(static_cast<std::size_t>(v));
    const VscConverter &kp = x.d.converters.at(static_cast<std::size_t>(p));
    const double vv = kv.dcset;
    double i = 0;
    for (int n = 0; n < 50; ++n) {
        const double next = current_for_power(kp.dcset + vsc_loss(kp, i * 1000.0), vv, -x.d.rdc);
        const bool settled = std::abs(next - i) < 1e-12;
        i = next;
        if (settled) {
            break;
        }
    }
    x.idc_a = i * 1000.0;
    x.vdc_kv.at(static_cast<std::size_t>(v)) = vv;
    x.vdc_kv.at(static_cast<std::size_t>(p)) = vv - x.d.rdc * i;
    x.loss_mw.at(static_cast<std::size_t>(v)) = vsc_loss(kv, x.idc_a);
    x.loss_mw.at(static_cast<std::size_t>(p)) = vsc_loss(kp, x.idc_a);
    x.p_ac.at(static_cast<std::size_t>(p)) = kp.dcset;
    x.p_ac.at(static_cast<std::size_t>(v)) = -(vv * i + x.loss_mw.at(static_cast<std::size_t>(v)));
}

// Reactive limits of a converter at active power p (MW): MINQ..MAXQ, within
// the circle of its rating, the smaller of SMAX and √3·BASKV·IMAX at 1 pu.
std::pair<double, double> vsc_q_limits(const VscConverter &k, double base_kv, double p)
{
    double s = k.smax > 0 ? k.smax : HUGE_VAL;
    if (k.imax > 0 && base_kv > 0) {
        s = std::min(s, std::sqrt(3.0) * base_kv * k.imax / 1000.0);
    }
    const double q = s == HUGE_VAL ? HUGE_VAL : std::sqrt(std::max(0.0, s * s - p * p));
    return {std::min(k.maxq, q), std::max(k.minq, -q)};
}

void check_vsc(const RawCase &raw, const VscDc &d)
{
    const auto bad = [&](const std::string &what) { return InputError(raw.file, d.line, vsc_name(d) + ": " + what); };
    const int t0 = d.converters[0].type;
    const int t1 = d.converters[1].type;
    if (!((t0 == 1 && t1 == 2) || (t0 == 2 && t1 == 1))) {
        throw bad("its converters have TYPE " + std::to_string(t0) + " and " + std::to_string(t1) +
                  "; one must hold the DC voltage (1) and the other the power (2)");
    }
    for (const VscConverter &k : d.converters) {
        if (k.mode != 1 && k.mode != 2) {
            throw bad("MODE " + std::to_string(k.mode) + " is not 1 (AC voltage) or 2 (power factor)");
        }
        if (k.type == 1 && !(k.dcset > 0)) {
            throw bad("the DC voltage DCSET must be positive");
        }
        if (k.mode == 2 && !(std::abs(k.acset) > 0 && std::abs(k.acset) <= 1)) {
            throw bad("the power factor ACSET must lie in -1..1 and not be 0");
        }
        if (!(d.rdc >= 0) || !(k.maxq >= k.minq)) {
            throw bad("RDC must not be negative and MAXQ must be at least MINQ");
        }
    }
}

// Converter k of x at its AC bus: MODE 1 makes the bus voltage-controlled at
// ACSET (a bus with units keeps their VS and adds the converter's limits),
// MODE 2 fixes Q = P·tan(acos |ACSET|), of P's sign for ACSET > 0.
void attach_vsc(const RawCase &raw, NetVsc &x, std::size_t k, Network &net)
{
    const VscConverter &c = x.d.converters.at(k);
    NetBus &b = net.buses[static_cast<std::size_t>(x.bus.at(k))];
    const double p = x.p_ac.at(k);
    const auto [qmax, qmin] = vsc_q_limits(c, b.base_kv, p);
    if (c.mode == 2) {
        const double q = p * std::sqrt(1.0 - c.acset * c.acset) / std::abs(c.acset) * (c.acset > 0 ? 1.0 : -1.0);
        x.q_ac.at(k) = std::clamp(q, qmin, qmax);
        return;
    }
    if (c.remot != 0 && c.remot != b.number) {
        net.notes.push_back(raw.file + ":" + std::to_string(x.d.line) + ": " + vsc_name(x.d) +
                            ": the converter at bus " + std::to_string(b.number) + " names bus " +
                            std::to_string(c.remot) + " to regulate; it holds its own bus at ACSET");
    }
    if (b.kind == BusKind::pq) {
        b.kind = BusKind::pv;
        b.vs = c.acset;
        b.qmax = 0;
        b.qmin = 0;
    } else if (b.vs != c.acset) {
        net.notes.push_back(raw.file + ":" + std::to_string(x.d.line) + ": " + vsc_name(x.d) + ": bus " +
                            std::to_string(b.number) + " holds its units' VS " + std::to_string(b.vs) +
                            ", not the converter's ACSET");
    }
    x.qmax.at(k) = qmax;
    x.qmin.at(k) = qmin;
    b.qmax += qmax / net.sbase;
    b.qmin += qmin / net.sbase;
}

// Rectifier angle limits written the wrong way round (ANMX below ANMN) are
// taken the right way round, with a note. (The inverter runs at its ANMN,
// whatever its ANMX: the IEEE 300-bus files have GAMMX 18 and GAMMN 20,
// and their stored state is the one at γ = 20 degrees.)
void swap_angle_limits(const RawCase &raw, const TwoTerminalDc &d, LccConverter &c, Network &net)
{
    if (c.anmx_deg >= c.anmn_deg) {
        return;
    }
    net.notes.push_back(raw.file + ":" + std::to_string(d.line) + ": " + lcc_name(d) + ": rectifier ANMX " +
                        std::to_string(c.anmx_deg) + " is below ANMN " + std::to_string(c.anmn_deg) +
                        "; the two are taken the other way round");
    std::swap(c.anmx_deg, c.anmn_deg);
}

} // namespace

void add_dc_links(const RawCase &raw, Network &net)
{
    const auto index = [&net](int bus) {
        const auto it = net.index.find(bus);
        return it == net.index.end() ? -1 : it->second;
    };
    for (const TwoTerminalDc &d : raw.two_terminal_dc) {
        NetLcc x{d, index(d.rectifier.bus), index(d.inverter.bus), d.mdc != 0};
        if (x.rbus < 0 || x.ibus < 0) {
            continue;
        }
        if (x.in_service) {
            check_lcc(raw, d);
            swap_angle_limits(raw, x.d, x.d.rectifier, net);
        }
        net.lcc.push_back(std::move(x));
    }
    for (const VscDc &d : raw.vsc_dc) {
        NetVsc x;
        x.d = d;
        x.bus = {index(d.converters[0].bus), index(d.converters[1].bus)};
        x.in_service = d.mdc != 0 && d.converters[0].type != 0 && d.converters[1].type != 0;
        if (x.bus[0] < 0 || x.bus[1] < 0) {
            continue;
        }
        if (x.in_service) {
            check_vsc(raw, d);
            vsc_powers(x, d.converters[0].type == 1 ? 0 : 1);
            attach_vsc(raw, x, 0, net);
            attach_vsc(raw, x, 1, net);
        }
        net.vsc.push_back(std::move(x));
    }
}
