#include "entry_points.h"

#include "cli/options.h"
#include "contingency/changes.h"
#include "contingency/ctg_list.h"
#include "io/input_error.h"
#include "monitor/grammar.h"
#include "monitor/select.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/flows.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "report/html.h"
#include "report/report.h"
#include "report/summary.h"
#include "results/results.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace {

// Networks up to this size are solved too; a few Newton steps on them cost
// about as much as reading them.
constexpr std::size_t max_solved_buses = 50;

// What the programs write may hold no control byte but its line ends,
// whatever the input held: the fields it quotes are made printable.
void require_printable(const std::string &text)
{
    if (std::any_of(text.begin(), text.end(), [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7f; })) {
        throw std::logic_error("a control byte in the output");
    }
}

void solve(const Network &net)
{
    PfOptions opt;
    opt.max_iterations = 10;
    const BaseCase bc = solve_base_case(net, opt);
    if (!bc.sol.converged) {
        return;
    }
    require_printable(base_buses_csv(net, bc));
    require_printable(base_branches_csv(net, bc, opt.base_rating));
    require_printable(base_violations_csv(assess(net, bc.on, bc.sol, opt.base_rating, false)));
}

// Four buses in two areas, a line, a transformer and a 3-winding unit (its
// star point the fifth bus): enough for every kind of selection to find
// something.
Network monitor_network()
{
    Network net;
    const int numbers[] = {1, 2, 3, 4};
    for (int b = 0; b < 4; ++b) {
        NetBus bus;
        bus.number = numbers[b];
        bus.base_kv = b < 2 ? 345 : 138;
        bus.area = b % 2 + 1;
        bus.zone = b + 1;
        bus.node = b;
        net.index[bus.number] = b;
        net.buses.push_back(bus);
    }
    net.raw_buses = 4;
    NetBus star;
    star.node = 4;
    net.buses.push_back(star);
    const auto add = [&](int f, int t, int from_bus, int to_bus, int third_bus, int winding) {
        NetBranch br;
        br.f = br.own_f = f;
        br.t = br.own_t = t;
        br.from_bus = from_bus;
        br.to_bus = to_bus;
        br.third_bus = third_bus;
        br.winding = winding;
        br.kind = winding != 0 ? BranchKind::winding : BranchKind::line;
        net.branches.push_back(br);
    };
    add(0, 1, 1, 2, 0, 0);
    add(1, 2, 2, 3, 0, 0);
    for (int w = 1; w <= 3; ++w) {
        add(w - 1, 4, 1, 2, 4, w);
    }
    return net;
}

} // namespace

void fuzz_raw_input(const std::string &text)
{
    // The same text read as one more revision, picked by its length, so
    // that every revision's layouts meet every input.
    try {
        std::istringstream forced(text);
        (void)parse_raw(forced, "fuzz.raw", 23 + static_cast<int>(text.size() % 14));
    } catch (const InputError &) {
        // Refused with a message: what bad input should get.
    }
    std::istringstream in(text);
    const Network net = build_network(parse_raw(in, "fuzz.raw"));
    if (net.buses.size() <= max_solved_buses) {
        solve(net);
    }
}

void fuzz_ctg_input(const std::string &text)
{
    for (const CtgBlock &b : cut_ctg_blocks(text)) {
        const Element e = parse_element(b.element);
        if (e.kind != Element::Kind::unsupported) {
            (void)same_id(e.id, b.label);
            (void)element_name(e);
        }
        // Amounts are finite numbers, and only a change carries one.
        const bool change = e.kind == Element::Kind::bus_load || e.kind == Element::Kind::unit_output;
        if (!std::isfinite(e.amount) || (!change && e.amount != 0)) {
            throw std::logic_error("element line read with an amount it can not have");
        }
    }
}

void fuzz_monitor_input(const std::string &text)
{
    const MonitorFile mon = parse_monitor(text, "fuzz.mon");
    const Network net = monitor_network();
    const MonitorSelection sel = select_monitored(mon, net);
    for (const std::string &w : sel.warnings) {
        require_printable(w);
    }
    for (const SelectedInterface &i : sel.interfaces) {
        for (const InterfaceBranch &m : i.members) {
            if (m.branch < 0 || static_cast<std::size_t>(m.branch) >= net.branches.size()) {
                throw std::logic_error("an interface member outside the network");
            }
        }
    }
}

void fuzz_options_input(const std::string &text)
{
    try {
        (void)parse_options(text, "options.json");
    } catch (const InputError &) {
        // Refused; the same text may still be a valid case settings file.
    }
    (void)parse_case_settings(text, "case.json");
}

void fuzz_results_input(const std::string &text)
{
    std::vector<std::vector<std::string>> records;
    std::string why;
    Report rep;
    if (parse_results(text, "r.results.csv", records, why)) {
        rep.ranks = 1;
        for (std::size_t i = 0; i < records.size(); ++i) {
            CtgBlock b;
            b.label = records[i][1];
            b.line = static_cast<int>(3 * i + 1);
            rep.blocks.push_back(b);
            ReportRow row;
            row.rank = 0;
            row.index = static_cast<int>(i) + 1;
            row.fields = records[i];
            rep.rows.push_back(row);
        }
    }
    if (parse_records(text, "r.violations.csv", violations_columns.size(), records, why)) {
        rep.violations = records;
    }
    require_printable(report_csv(rep));
    require_printable(violations_csv(rep));
    require_printable(summary(rep));
    // The page: nothing read may add markup, so its one script stays its
    // only one, whatever the labels and notes hold.
    const std::string page = report_html(rep, PageRun{text.substr(0, 64), "now"});
    require_printable(page);
    if (page.find("<script") != page.rfind("<script")) {
        throw std::logic_error("markup from the input on the page");
    }
}
