#include "raw/checks.h"

#include "io/input_error.h"

#include <algorithm>
#include <string>

namespace rawread {

void index_buses(Reader &r, const RawCase &c)
{
    r.bus_index.reserve(c.buses.size());
    for (std::size_t n = 0; n < c.buses.size(); ++n) {
        r.bus_index.emplace(c.buses[n].number, n);
    }
}

void check_duplicate_buses(const Reader &r, const RawCase &c)
{
    for (std::size_t n = 0; n < c.buses.size(); ++n) {
        const std::size_t first = r.bus_index.at(c.buses[n].number);
        if (first != n) {
            throw InputError(r.file, c.buses[n].line,
                             "bus " + std::to_string(c.buses[n].number) + " is defined twice (first at line " +
                                 std::to_string(c.buses[first].line) + ")");
        }
    }
}

namespace {

// A record of `kind` at `line` names `bus`, which must be in the bus data.
void check_bus(const Reader &r, const char *kind, int bus, int line)
{
    if (r.bus_index.count(bus) == 0) {
        throw InputError(r.file, line,
                         std::string(kind) + " names bus " + std::to_string(bus) + ", which is not in the bus data");
    }
}

} // namespace

void check_bus_references(const Reader &r, const RawCase &c)
{
    for (const Load &d : c.loads) {
        check_bus(r, "load", d.bus, d.line);
    }
    for (const FixedShunt &s : c.fixed_shunts) {
        check_bus(r, "fixed shunt", s.bus, s.line);
    }
    for (const Unit &u : c.units) {
        check_bus(r, "generator", u.bus, u.line);
    }
    for (const Branch &b : c.branches) {
        const char *kind = b.switching_device ? "system switching device" : "branch";
        check_bus(r, kind, b.from, b.line);
        check_bus(r, kind, b.to, b.line);
    }
    for (const Transformer &t : c.transformers) {
        check_bus(r, "transformer", t.i, t.line);
        check_bus(r, "transformer", t.j, t.line);
        if (t.k != 0) {
            check_bus(r, "transformer", t.k, t.line);
        }
    }
    for (const SwitchedShunt &s : c.switched_shunts) {
        check_bus(r, "switched shunt", s.bus, s.line);
    }
    for (const TwoTerminalDc &d : c.two_terminal_dc) {
        check_bus(r, "two-terminal DC line", d.rectifier.bus, d.line);
        check_bus(r, "two-terminal DC line", d.inverter.bus, d.line);
    }
    for (const VscDc &d : c.vsc_dc) {
        for (const VscConverter &k : d.converters) {
            check_bus(r, "VSC DC line", k.bus, d.line);
        }
    }
    for (const FactsDevice &f : c.facts) {
        const std::string kind = "FACTS device '" + f.name + "'";
        for (const int bus : {f.i, f.j}) {
            if (bus != 0) {
                check_bus(r, kind.c_str(), bus, f.line);
            }
        }
    }
    for (const MultiTerminalDc &d : c.multi_terminal_dc) {
        for (const MtdcConverter &k : d.converters) {
            check_bus(r, "multi-terminal DC line", k.k.bus, k.line);
        }
    }
}

void apply_adjustments(const Reader &r, const std::vector<Adjustment> &adjustments, RawCase &c)
{
    for (const Adjustment &a : adjustments) {
        const auto it = std::find_if(c.branches.begin(), c.branches.end(), [&a](const Branch &b) {
            return b.from == a.from && b.to == a.to && b.ckt == a.ckt;
        });
        if (it == c.branches.end()) {
            throw InputError(r.file, a.line,
                             "transformer adjustment names branch " + std::to_string(a.from) + "-" +
                                 std::to_string(a.to) + "-" + a.ckt + ", which is not in the branch data");
        }
        it->tab = a.table;
    }
}

void check_impedance_tables(const Reader &r, RawCase &c)
{
    std::unordered_map<int, int> table_line;
    for (const ImpedanceTable &t : c.impedance_tables) {
        const auto [it, added] = table_line.emplace(t.number, t.line);
        if (!added) {
            throw InputError(r.file, t.line,
                             "impedance correction table " + std::to_string(t.number) +
                                 " is defined twice (first at line " + std::to_string(it->second) + ")");
        }
    }
    const std::string missing = ", which is not in the impedance correction data; its impedance is not corrected";
    for (Branch &b : c.branches) {
        if (b.tab != 0 && table_line.count(b.tab) == 0) {
            c.notes.push_back(r.file + ":" + std::to_string(b.line) + ": branch " + std::to_string(b.from) + "-" +
                              std::to_string(b.to) + "-" + b.ckt + " names impedance correction table " +
                              std::to_string(b.tab) + missing);
            b.tab = 0;
        }
    }
    for (Transformer &t : c.transformers) {
        for (std::size_t k = 0; k < t.windings.size(); ++k) {
            Winding &w = t.windings[k];
            if (w.tab != 0 && table_line.count(w.tab) == 0) {
                c.notes.push_back(r.file + ":" + std::to_string(t.line) + ": transformer " + transformer_label(t) +
                                  " winding " + std::to_string(k + 1) + " names impedance correction table " +
                                  std::to_string(w.tab) + missing);
                w.tab = 0;
            }
        }
    }
}

} // namespace rawread
