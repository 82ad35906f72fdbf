#include "report/outcomes.h"

#include "results/columns.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

NotedBus noted_bus(const std::string &note, const std::string &what)
{
    const std::string head = what + ": bus ";
    size_t at = note.find(head);
    while (at != std::string::npos && at != 0 && (at < 2 || note.compare(at - 2, 2, "; ") != 0)) {
        at = note.find(head, at + 1);
    }
    if (at == std::string::npos) {
        return {};
    }
    const size_t bus_at = at + head.size();
    const size_t bus_end = note.find(" at ", bus_at);
    if (bus_end == std::string::npos) {
        return {};
    }
    const std::string bus = note.substr(bus_at, bus_end - bus_at);
    if (bus.empty() || bus.size() > 9 || bus.find_first_not_of("0123456789") != std::string::npos) {
        return {};
    }
    const size_t vm_at = bus_end + 4;
    const size_t vm_end = note.find(" pu", vm_at);
    if (vm_end == std::string::npos) {
        return {};
    }
    const std::string vm = note.substr(vm_at, vm_end - vm_at);
    double x = 0;
    if (vm.find(' ') != std::string::npos || !field_number(vm, x)) {
        return {};
    }
    return {bus, vm, x};
}

namespace {

// The rows of one status in list order, each with the bus the part `what`
// of its note names and its solvable_fraction.
std::vector<Unsolved> rows_of(const Report &r, const std::string &status, const std::string &what)
{
    std::vector<Unsolved> out;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        if (f.empty() || f[col::status] != status) {
            continue;
        }
        Unsolved u;
        u.at = i;
        u.bus = noted_bus(f[col::note], what);
        u.has_fraction = field_number(f[col::solvable_fraction], u.fraction);
        out.push_back(u);
    }
    return out;
}

} // namespace

std::vector<Unsolved> no_solution_rows(const Report &r)
{
    std::vector<Unsolved> rows = rows_of(r, "no_solution", "weak spot");
    std::stable_sort(rows.begin(), rows.end(), [](const Unsolved &a, const Unsolved &b) {
        return a.has_fraction && (!b.has_fraction || a.fraction < b.fraction);
    });
    return rows;
}

std::vector<Unsolved> unrealistic_rows(const Report &r) { return rows_of(r, "unrealistic", "unrealistic"); }

std::string fraction_text(double fraction)
{
    // The tolerance keeps a fraction written with three decimals (0.415 is
    // 414.99999... thousandths) at its own value.
    char buf[64];
    if (fraction >= 0 && fraction <= 1) {
        std::snprintf(buf, sizeof buf, "%.3f", std::floor(fraction * 1000 + 1e-6) / 1000);
    } else {
        std::snprintf(buf, sizeof buf, "%.6g", fraction);
    }
    return buf;
}
