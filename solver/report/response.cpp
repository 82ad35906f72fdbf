#include "report/response.h"

#include "results/columns.h"

#include <algorithm>
#include <cmath>

std::vector<Response> largest_responses(const Report &r, std::size_t count)
{
    std::vector<Response> out;
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        double mw = 0;
        if (!f.empty() && field_number(f[col::response_mw], mw)) {
            out.push_back({i, mw});
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const Response &a, const Response &b) { return std::fabs(a.mw) > std::fabs(b.mw); });
    if (count > 0 && out.size() > count) {
        out.resize(count);
    }
    return out;
}

NotedReserve noted_reserve(const std::string &note)
{
    const std::string head = "reserve exhausted: ";
    std::size_t at = note.find(head);
    while (at != std::string::npos && at != 0 && (at < 2 || note.compare(at - 2, 2, "; ") != 0)) {
        at = note.find(head, at + 1);
    }
    if (at == std::string::npos) {
        return {};
    }
    NotedReserve n;
    n.exhausted = true;
    const std::string tail = " MW left on the swing";
    const std::size_t mw_at = at + head.size();
    const std::size_t part_end = std::min(note.find("; ", mw_at), note.size());
    if (part_end < mw_at + tail.size() || note.compare(part_end - tail.size(), tail.size(), tail) != 0) {
        return n;
    }
    const std::string mw = note.substr(mw_at, part_end - tail.size() - mw_at);
    double x = 0;
    if (mw.find(' ') == std::string::npos && field_number(mw, x)) {
        n.mw = mw;
        n.left_mw = x;
    }
    return n;
}

std::vector<Exhausted> reserve_exhausted_rows(const Report &r)
{
    std::vector<Exhausted> out;
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
        const auto &f = r.rows[i].fields;
        if (f.empty()) {
            continue;
        }
        const NotedReserve n = noted_reserve(f[col::note]);
        if (n.exhausted) {
            out.push_back({i, n});
        }
    }
    return out;
}
