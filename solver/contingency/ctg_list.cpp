#include "contingency/ctg_list.h"

#include "io/input_error.h"
#include "io/text_file.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace {

std::string trim(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return "";
    }
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::string upper(std::string s)
{
    for (char &c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

// Words separated by blanks; a word in single or double quotes may hold
// blanks and loses its quotes.
std::vector<std::string> words(const std::string &line)
{
    std::vector<std::string> w;
    size_t p = 0;
    while (p < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[p]))) {
            ++p;
            continue;
        }
        if (line[p] == '\'' || line[p] == '"') {
            const size_t end = line.find(line[p], p + 1);
            const size_t stop = end == std::string::npos ? line.size() : end;
            w.push_back(trim(line.substr(p + 1, stop - p - 1)));
            p = stop + 1;
            continue;
        }
        size_t e = p;
        while (e < line.size() && !std::isspace(static_cast<unsigned char>(line[e]))) {
            ++e;
        }
        w.push_back(line.substr(p, e - p));
        p = e;
    }
    return w;
}

// A bus number: digits only, 1 to 999999.
bool bus_number(const std::string &s, int &n)
{
    if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    n = std::atoi(s.c_str());
    return n > 0;
}

// Matches "BUS <n>" at w[p]; advances p.
bool bus_at(const std::vector<std::string> &w, size_t &p, int &n)
{
    if (p + 1 >= w.size() || upper(w[p]) != "BUS" || !bus_number(w[p + 1], n)) {
        return false;
    }
    p += 2;
    return true;
}

// "FROM BUS i TO BUS j [TO BUS k] [CKT|CIRCUIT c]" from w[p] on (with
// `three`, "[AT|FROM] BUS i TO BUS j TO BUS k [CKT|CIRCUIT c]").
Element parse_branch(const std::vector<std::string> &w, size_t p, bool three, Element::Kind kind)
{
    Element e;
    if (p < w.size() && (upper(w[p]) == "FROM" || (three && upper(w[p]) == "AT"))) {
        ++p;
    } else if (!three) {
        return e;
    }
    if (!bus_at(w, p, e.i) || p >= w.size() || upper(w[p]) != "TO") {
        return e;
    }
    ++p;
    if (!bus_at(w, p, e.j)) {
        return e;
    }
    if (p < w.size() && upper(w[p]) == "TO") {
        ++p;
        if (!bus_at(w, p, e.k)) {
            return e;
        }
    }
    if (three && e.k == 0) {
        return e;
    }
    e.id = "1";
    if (p < w.size()) {
        const std::string kw = upper(w[p]);
        if ((kw != "CKT" && kw != "CIRCUIT") || p + 2 != w.size() || w[p + 1].empty()) {
            return e;
        }
        e.id = w[p + 1];
    }
    e.kind = kind;
    return e;
}

// "c FROM BUS i" at w[2..5] (an id and its bus), the line ending there.
Element parse_id_at_bus(const std::vector<std::string> &w, Element::Kind kind)
{
    Element e;
    size_t p = 3;
    if (w.size() != 6 || w[2].empty() || upper(w[p]) != "FROM") {
        return e;
    }
    ++p;
    if (!bus_at(w, p, e.i)) {
        return e;
    }
    e.id = w[2];
    e.kind = kind;
    return e;
}

// A shunt: "[c] FROM BUS i", the id empty when left out.
Element parse_shunt(const std::vector<std::string> &w, Element::Kind kind)
{
    if (w.size() == 5 && upper(w[2]) == "FROM") {
        size_t p = 3;
        Element e;
        if (bus_at(w, p, e.i)) {
            e.kind = kind;
        }
        return e;
    }
    return parse_id_at_bus(w, kind);
}

// A finite number written whole as one word.
bool amount(const std::string &s, double &x)
{
    if (s.empty()) {
        return false;
    }
    char *end = nullptr;
    x = std::strtod(s.c_str(), &end);
    return *end == '\0' && std::isfinite(x);
}

// "TO x UNIT" (set) or "BY x UNIT" (a change, negated for a decrease) at
// w[p], ending the line; UNIT is MW, or PERCENT where `percent_ok`.
Element parse_amount(const std::vector<std::string> &w, size_t p, bool set, bool decrease, bool percent_ok, Element e,
                     Element::Kind kind)
{
    if (p + 3 != w.size() || upper(w[p]) != (set ? "TO" : "BY")) {
        return {};
    }
    const std::string unit = upper(w[p + 2]);
    double x = 0;
    if (!amount(w[p + 1], x) || (unit != "MW" && !(percent_ok && unit == "PERCENT"))) {
        return {};
    }
    if (set && x < 0) {
        Element refused;
        refused.why = "a negative amount to set (" + w[p + 1] + ")";
        return refused;
    }
    e.set = set;
    e.percent = unit == "PERCENT";
    e.amount = decrease ? -x : x;
    e.kind = kind;
    return e;
}

// "BUS i LOAD TO|BY x MW|PERCENT".
Element parse_bus_load(const std::vector<std::string> &w, bool set, bool decrease)
{
    Element e;
    size_t p = 1;
    if (!bus_at(w, p, e.i) || p >= w.size() || upper(w[p]) != "LOAD") {
        return {};
    }
    return parse_amount(w, p + 1, set, decrease, true, e, Element::Kind::bus_load);
}

// "UNIT|MACHINE c [AT|FROM] BUS i TO x MW" or "... BY x MW|PERCENT".
Element parse_unit_output(const std::vector<std::string> &w, bool set, bool decrease)
{
    Element e;
    if (w.size() < 3 || w[2].empty()) {
        return {};
    }
    e.id = w[2];
    size_t p = 3;
    if (p < w.size() && (upper(w[p]) == "AT" || upper(w[p]) == "FROM")) {
        ++p;
    }
    if (!bus_at(w, p, e.i)) {
        return {};
    }
    return parse_amount(w, p, set, decrease, !set, e, Element::Kind::unit_output);
}

// OPEN|TRIP|DISCONNECT BRANCH|LINE|THREEWINDING, CLOSE BRANCH|LINE,
// DISCONNECT|TRIP BUS.
Element parse_branch_or_bus(const std::vector<std::string> &w, const std::string &verb, const std::string &what)
{
    using K = Element::Kind;
    const bool open = verb == "OPEN" || verb == "TRIP" || verb == "DISCONNECT";
    if ((open || verb == "CLOSE") && (what == "BRANCH" || what == "LINE")) {
        return parse_branch(w, 2, false, open ? K::branch : K::close_branch);
    }
    if (open && what == "THREEWINDING") {
        return parse_branch(w, 2, true, K::branch);
    }
    Element e;
    size_t p = 1;
    if (open && verb != "OPEN" && what == "BUS" && w.size() == 3 && bus_at(w, p, e.i)) {
        e.kind = K::bus;
    }
    return e;
}

// REMOVE|TRIP|DISCONNECT UNIT|MACHINE|LOAD|SHUNT|SWSHUNT,
// BLOCK|TRIP|DISCONNECT TWOTERMDC|VSCDC|MULTITERMDC, OPEN|TRIP|DISCONNECT FACTS.
Element parse_removal(const std::vector<std::string> &w, const std::string &verb, const std::string &what)
{
    using K = Element::Kind;
    const bool trip = verb == "TRIP" || verb == "DISCONNECT";
    if ((trip || verb == "REMOVE") && (what == "UNIT" || what == "MACHINE" || what == "LOAD")) {
        return parse_id_at_bus(w, what == "LOAD" ? K::load : K::unit);
    }
    if ((trip || verb == "REMOVE") && (what == "SHUNT" || what == "SWSHUNT")) {
        return parse_shunt(w, what == "SHUNT" ? K::shunt : K::swshunt);
    }
    Element e;
    if ((trip || verb == "BLOCK") && (what == "TWOTERMDC" || what == "VSCDC" || what == "MULTITERMDC") &&
        w.size() == 3 && !w[2].empty()) {
        e.kind = what == "TWOTERMDC" ? K::twotermdc : what == "VSCDC" ? K::vscdc : K::mtdc;
        e.id = w[2];
    }
    if ((trip || verb == "OPEN") && what == "FACTS" && w.size() == 3 && !w[2].empty()) {
        e.kind = K::facts;
        e.id = w[2];
    }
    return e;
}

} // namespace

std::vector<CtgBlock> cut_ctg_blocks(const std::string &text)
{
    std::vector<std::string> lines;
    size_t p = 0;
    while (p < text.size()) {
        size_t e = text.find('\n', p);
        if (e == std::string::npos) {
            e = text.size();
        }
        std::string l = text.substr(p, e - p);
        if (!l.empty() && l.back() == '\r') {
            l.pop_back();
        }
        lines.push_back(l);
        p = e + 1;
    }
    std::vector<CtgBlock> blocks;
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t at = lines[i].find("CONTINGENCY");
        if (at == std::string::npos) {
            continue;
        }
        CtgBlock b;
        b.label = trim(lines[i].substr(at + 11));
        b.element = i + 1 < lines.size() ? lines[i + 1] : "";
        b.line = static_cast<int>(std::min<size_t>(i + 1, INT_MAX));
        blocks.push_back(b);
        i += 2; // the two lines after the header belong to its block
    }
    return blocks;
}

std::vector<CtgBlock> read_ctg_blocks(const std::string &path) { return cut_ctg_blocks(read_text_file(path)); }

Element parse_element(const std::string &line)
{
    const std::vector<std::string> w = words(line);
    if (w.size() < 2) {
        return {};
    }
    const std::string verb = upper(w[0]);
    const std::string what = upper(w[1]);
    const bool set = verb == "SET" || verb == "CHANGE";
    const bool increase = verb == "INCREASE" || verb == "RAISE";
    const bool decrease = verb == "DECREASE" || verb == "REDUCE";
    if (!set && !increase && !decrease) {
        const Element e = parse_branch_or_bus(w, verb, what);
        return e.kind != Element::Kind::unsupported ? e : parse_removal(w, verb, what);
    }
    if (what == "BUS") {
        return parse_bus_load(w, set, decrease);
    }
    if (what == "UNIT" || what == "MACHINE") {
        return parse_unit_output(w, set, decrease);
    }
    return {};
}

bool same_id(const std::string &a, const std::string &b)
{
    auto norm = [](const std::string &s) {
        std::string t = trim(s);
        if (t.size() >= 2 && (t.front() == '\'' || t.front() == '"') && t.back() == t.front()) {
            t = trim(t.substr(1, t.size() - 2));
        }
        return upper(t);
    };
    return norm(a) == norm(b);
}
