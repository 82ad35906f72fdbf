#include "raw/facts_record.h"

#include "io/input_error.h"

#include <algorithm>
#include <string>

namespace rawread {

namespace {

// What MODE m is, in a refusal: the modes the solver does not model.
std::string unmodelled_mode(int m)
{
    switch (m) {
    case 4:
        return "MODE 4 (a constant series voltage) is not modelled";
    case 5:
        return "IPFC mode 5 (master, P and Q set-points) is not modelled; an IPFC is a multi-terminal device";
    case 6:
        return "IPFC mode 6 (slave, P and Q set-points) is not modelled; an IPFC is a multi-terminal device";
    case 7:
        return "IPFC mode 7 (master, constant series voltage) is not modelled; an IPFC is a multi-terminal device";
    case 8:
        return "IPFC mode 8 (slave, constant series voltage) is not modelled; an IPFC is a multi-terminal device";
    default:
        break;
    }
    return "MODE " + std::to_string(m) + " is not one of 0 to 8";
}

} // namespace

void read_facts(Reader &r, const RecordLine &l, RawCase &c)
{
    FactsDevice d;
    d.line = l.number;
    d.name = at(l, "NAME") != 0 ? string_of(l, "NAME", "") : std::string(trim_blanks(field_text(l, 1)));
    d.i = bus_of(l, "I", false);
    d.j = bus_of(l, "J", true);
    d.mode = int_of(l, "MODE", 1);
    const std::string who = "FACTS device '" + d.name + "': ";
    if (d.mode == 0) {
        if (r.out_count == 0) {
            r.out_line = l.number;
        }
        ++r.out_count;
        return;
    }
    if (d.mode < 1 || d.mode > 3) {
        throw InputError(*l.file, l.number, who + unmodelled_mode(d.mode));
    }
    if (d.j == 0 && d.mode != 1) {
        throw InputError(*l.file, l.number,
                         who + "MODE " + std::to_string(d.mode) + " needs a series element, and J is 0 (a STATCOM)");
    }
    d.pdes = real_of(l, "PDES", 0.0);
    d.qdes = real_of(l, "QDES", 0.0);
    d.vset = real_of(l, "VSET", 1.0);
    d.shmx = real_of(l, "SHMX", 9999.0);
    if (d.shmx < 0) {
        throw field_error(l, at(l, "SHMX"), "SHMX", "is negative");
    }
    d.rmpct = real_of(l, "RMPCT", 100.0);
    d.set1 = real_of(l, "SET1", 0.0);
    d.set2 = real_of(l, "SET2", 0.0);
    d.remot = at(l, "FCREG") != 0 ? bus_of(l, "FCREG", true) : bus_of(l, "REMOT", true);
    const auto same =
        std::find_if(c.facts.begin(), c.facts.end(), [&d](const FactsDevice &f) { return f.name == d.name; });
    if (same != c.facts.end()) {
        throw InputError(*l.file, l.number,
                         who + "the name is given to the FACTS device at line " + std::to_string(same->line) + " too");
    }
    c.facts.push_back(std::move(d));
}

} // namespace rawread
