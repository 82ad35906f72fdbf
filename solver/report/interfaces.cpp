#include "report/interfaces.h"

#include "results/columns.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string>

namespace {

// interfaces_columns' places in a report's interface row (list index first).
constexpr std::size_t interface_name = 2;
constexpr std::size_t loading_pct = 5;
static_assert(interfaces_columns.size() == 6, "index, label, interface, mw, rating_mw, loading_pct");

void keep_first(std::vector<InterfaceLoading> &v, std::size_t count)
{
    if (count > 0 && v.size() > count) {
        v.resize(count);
    }
}

} // namespace

// One pass over the rows keeps each interface's heaviest row; the map
// orders them by name before the stable sort by loading.
std::vector<InterfaceLoading> most_loaded_interfaces(const Report &r, std::size_t count)
{
    std::map<std::string, InterfaceLoading> peak;
    for (std::size_t i = 0; i < r.interfaces.size(); ++i) {
        const auto &row = r.interfaces[i];
        double x = 0;
        if (!field_number(row[loading_pct], x)) {
            continue;
        }
        const auto it = peak.find(row[interface_name]);
        if (it == peak.end() || x > it->second.loading) {
            peak[row[interface_name]] = {i, x};
        }
    }
    std::vector<InterfaceLoading> out;
    out.reserve(peak.size());
    std::transform(peak.begin(), peak.end(), std::back_inserter(out), [](const auto &p) { return p.second; });
    std::stable_sort(out.begin(), out.end(),
                     [](const InterfaceLoading &a, const InterfaceLoading &b) { return a.loading > b.loading; });
    keep_first(out, count);
    return out;
}

std::vector<InterfaceLoading> interface_overloads(const Report &r, std::size_t count)
{
    std::vector<InterfaceLoading> out;
    for (std::size_t i = 0; i < r.interfaces.size(); ++i) {
        double x = 0;
        if (field_number(r.interfaces[i][loading_pct], x) && x > 100) {
            out.push_back({i, x});
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const InterfaceLoading &a, const InterfaceLoading &b) { return a.loading > b.loading; });
    keep_first(out, count);
    return out;
}
