#include "results/ctg_results.h"

#include "io/csv.h"
#include "results/results.h"

#include <cmath>
#include <cstdio>

// The fields in the order of results_columns. Voltage and loading fields are
// empty unless converged; the cut-off fields and load_lost_mw (the load the
// element line itself takes out) are empty for not_found and unsupported;
// solvable_fraction is 1 for converged, λ* for no_solution, else empty;
// response_mw is what the units sharing the change moved, for a converged
// contingency solved with a generator response other than "swing".
std::string results_row(int index, const std::string &label, const CtgResult &r)
{
    std::string row = std::to_string(index) + "," + csv_text(label) + "," + status_name(r.status) + ",";
    if (r.ran) {
        // A diverged solve may end on a mismatch that is no number at all.
        row += std::to_string(r.iterations) + "," + (std::isfinite(r.max_mismatch) ? num(r.max_mismatch) : "") + ",";
    } else {
        row += ",,";
    }
    if (r.status == CtgStatus::converged) {
        const Assessment &a = r.assessment;
        row += num(a.min_vm) + "," + std::to_string(a.min_vm_bus) + "," + num(a.max_vm) + "," +
               std::to_string(a.max_vm_bus) + ",";
        row += a.max_loading >= 0 ? num(a.max_loading) + "," + csv_text(a.max_loading_branch) + "," : ",,";
        row += std::to_string(a.overloads) + "," + std::to_string(a.voltage_violations) + ",";
    } else {
        row += ",,,,,,,,";
    }
    if (r.attempted) {
        row += std::to_string(r.buses_cut_off) + "," + num(r.load_cut_off_mw) + ",";
    } else {
        row += ",,";
    }
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", r.solve_ms);
    row += std::string(ms) + "," + csv_text(r.note) + "," + (r.attempted ? num(r.load_lost_mw) : "") + ",";
    row += (r.solvable_fraction >= 0 ? num(r.solvable_fraction) : "") + ",";
    return row + (std::isfinite(r.response_mw) ? num(r.response_mw) : "") + "\n";
}

// kind overload (value, limit and base_value in MVA), low_voltage or
// high_voltage (pu), ...; base_value empty where NaN; the rows tagged same
// are left out with only_new_or_worse.
std::string violation_rows(int index, const std::string &label, const Assessment &a, bool only_new_or_worse)
{
    std::string rows;
    const std::string head = std::to_string(index) + "," + csv_text(label) + ",";
    for (const Violation &v : a.violations) {
        if (only_new_or_worse && v.tag == "same") {
            continue;
        }
        rows += head + v.kind + "," + csv_text(v.element) + "," + num(v.value) + "," + num(v.limit) + "," +
                (std::isnan(v.base_value) ? "" : num(v.base_value)) + "," + v.tag + "\n";
    }
    return rows;
}

std::string interface_rows(int index, const std::string &label, const MonitorCriteria &m, const Assessment &a)
{
    std::string rows;
    const std::string head = std::to_string(index) + "," + csv_text(label) + ",";
    for (std::size_t i = 0; i < m.interfaces.size() && i < a.interface_mw.size(); ++i) {
        const SelectedInterface &in = m.interfaces[i];
        const double mw = a.interface_mw[i];
        rows += head + csv_text(in.name) + "," + num(mw) + "," + num(in.rating_mw) + "," +
                num(100.0 * std::fabs(mw) / in.rating_mw) + "\n";
    }
    return rows;
}

namespace {

std::string stem_in(const std::string &outdir, const std::string &subfile)
{
    std::string name = subfile.substr(subfile.find_last_of('/') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".con") == 0) {
        name.resize(name.size() - 4);
    }
    return (!outdir.empty() && outdir.back() == '/' ? outdir : outdir + "/") + name;
}

} // namespace

std::string results_path(const std::string &outdir, const std::string &subfile)
{
    return stem_in(outdir, subfile) + ".results.csv";
}

std::string violations_path(const std::string &outdir, const std::string &subfile)
{
    return stem_in(outdir, subfile) + ".violations.csv";
}

std::string interfaces_path(const std::string &outdir, const std::string &subfile)
{
    return stem_in(outdir, subfile) + ".interfaces.csv";
}

std::string detail_path(const std::string &outdir, const std::string &subfile)
{
    return stem_in(outdir, subfile) + ".detail";
}
