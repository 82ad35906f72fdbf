#include "monitor/grammar.h"

#include "io/input_error.h"
#include "io/text_file.h"
#include "raw/fields.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstddef>
#include <iterator>

namespace {

struct Word {
    std::string text;
    bool quoted = false;
};
using Words = std::vector<Word>;

std::string upper(std::string s)
{
    for (char &c : s) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

// Words of a line: blanks separate them, 'text' is one word (its quotes
// gone, trimmed), a / outside quotes ends the line. False where a quote is
// not closed.
bool split_words(std::string_view line, Words &w)
{
    std::size_t p = 0;
    while (p < line.size()) {
        const char c = line[p];
        if (c == ' ' || c == '\t') {
            ++p;
        } else if (c == '/') {
            break;
        } else if (c == '\'') {
            const std::size_t end = line.find('\'', p + 1);
            if (end == std::string_view::npos) {
                return false;
            }
            w.push_back({std::string(rawread::trim_blanks(line.substr(p + 1, end - p - 1))), true});
            p = end + 1;
        } else {
            const std::size_t end = line.find_first_of(" \t'/", p);
            const std::size_t stop = end == std::string_view::npos ? line.size() : end;
            w.push_back({std::string(line.substr(p, stop - p)), false});
            p = stop;
        }
    }
    return true;
}

// Word p is the keyword `kw` (unquoted, any case).
bool is(const Words &w, std::size_t p, const char *kw)
{
    return p < w.size() && !w[p].quoted && upper(w[p].text) == kw;
}

// Word p is a name: quoted and not empty.
bool is_name(const Words &w, std::size_t p) { return p < w.size() && w[p].quoted && !w[p].text.empty(); }

// Word p, unquoted, reads as a number.
bool is_number(const Words &w, std::size_t p)
{
    double x = 0;
    return p < w.size() && !w[p].quoted && rawread::parse_number(w[p].text, x);
}

bool same_name(const std::string &a, const std::string &b) { return upper(a) == upper(b); }

enum class Block { top, subsystem, join, interface, closed };

// One pass over the file: what is read so far, the block the line is in (the
// last subsystem, its last group or the last interface) and the line.
struct Reader {
    const std::string &file;
    MonitorFile mon;
    Block block = Block::top;
    int line = 0;
    std::string text; // the line, trimmed, for messages

    [[noreturn]] void fail(const std::string &what) const { throw InputError(file, line, what); }

    double number(const Word &w) const
    {
        double x = 0;
        if (w.quoted || !rawread::parse_number(w.text, x)) {
            fail("'" + w.text + "' is not a number");
        }
        return x;
    }

    // A positive integer no greater than `max`, "'x' is not WHAT" otherwise.
    int integer(const Word &w, int max, const char *what) const
    {
        double x = 0;
        if (w.quoted || !rawread::parse_number(w.text, x) || x != std::floor(x) || x < 1 || x > max) {
            fail("'" + w.text + "' is not " + what);
        }
        return static_cast<int>(x);
    }

    int bus(const Word &w) const { return integer(w, rawread::max_bus_number, "a bus number"); }

    // The name of a subsystem defined above.
    std::string defined(const std::string &name) const
    {
        if (std::none_of(mon.subsystems.begin(), mon.subsystems.end(),
                         [&](const MonitorSubsystem &s) { return same_name(s.name, name); })) {
            fail("subsystem '" + name + "' is not defined above");
        }
        return name;
    }
};

// AREA a | AREAS a1 a2 ... (ZONE, OWNER, BUS alike) | KVRANGE lo hi. False
// where the line is none of these.
bool read_criterion(const Reader &r, const Words &w, std::vector<MonitorCriterion> &into)
{
    using K = MonitorCriterion::Kind;
    struct Label {
        const char *one, *many, *what;
        K kind;
        int max;
    };
    static const Label labels[] = {{"AREA", "AREAS", "an area number", K::area, INT_MAX},
                                   {"ZONE", "ZONES", "a zone number", K::zone, INT_MAX},
                                   {"OWNER", "OWNERS", "an owner number", K::owner, INT_MAX},
                                   {"BUS", "BUSES", "a bus number", K::bus, rawread::max_bus_number}};
    MonitorCriterion c;
    c.line = r.line;
    if (is(w, 0, "KVRANGE") && w.size() == 3) {
        c.kind = K::kv_range;
        c.kv_low = r.number(w[1]);
        c.kv_high = r.number(w[2]);
        if (c.kv_low > c.kv_high) {
            r.fail("KVRANGE: '" + w[1].text + "' is above '" + w[2].text + "'");
        }
        into.push_back(c);
        return true;
    }
    const Label *l = std::find_if(std::begin(labels), std::end(labels), [&](const Label &x) {
        return (is(w, 0, x.one) && w.size() == 2) || (is(w, 0, x.many) && w.size() >= 2);
    });
    if (l == std::end(labels)) {
        return false;
    }
    c.kind = l->kind;
    for (std::size_t p = 1; p < w.size(); ++p) {
        c.values.push_back(r.integer(w[p], l->max, l->what));
    }
    into.push_back(c);
    return true;
}

// "BUS i TO BUS j [TO BUS k] [CIRCUIT|CKT c]" from word p to the end.
bool read_branch(const Reader &r, const Words &w, std::size_t p, MonitorBranch &b)
{
    if (!is(w, p, "BUS") || !is(w, p + 2, "TO") || !is(w, p + 3, "BUS") || p + 4 >= w.size()) {
        return false;
    }
    std::size_t q = p + 5;
    const bool third = is(w, q, "TO") && is(w, q + 1, "BUS") && q + 2 < w.size();
    if (third) {
        q += 3;
    }
    const bool ckt = is(w, q, "CIRCUIT") || is(w, q, "CKT");
    if (ckt ? (q + 2 != w.size() || w[q + 1].text.empty()) : q != w.size()) {
        return false;
    }
    b.i = r.bus(w[p + 1]);
    b.j = r.bus(w[p + 4]);
    b.k = third ? r.bus(w[p + 7]) : 0;
    b.ckt = ckt ? w[q + 1].text : "1";
    b.line = r.line;
    return true;
}

void open_subsystem(Reader &r, const std::string &name)
{
    for (const MonitorSubsystem &s : r.mon.subsystems) {
        if (same_name(s.name, name)) {
            r.fail("subsystem '" + name + "' is defined twice (first at line " + std::to_string(s.line) + ")");
        }
    }
    MonitorSubsystem s;
    s.name = name;
    s.line = r.line;
    r.mon.subsystems.push_back(s);
    r.block = Block::subsystem;
}

// MONITOR INTERFACE 'NAME' RATING x MW.
void open_interface(Reader &r, const Words &w)
{
    for (const MonitorInterface &f : r.mon.interfaces) {
        if (same_name(f.name, w[2].text)) {
            r.fail("interface '" + w[2].text + "' is defined twice (first at line " + std::to_string(f.line) + ")");
        }
    }
    MonitorInterface f;
    f.name = w[2].text;
    f.rating_mw = r.number(w[4]);
    if (!(f.rating_mw > 0)) {
        r.fail("INTERFACE '" + f.name + "': the rating '" + w[4].text + "' is not above 0");
    }
    f.line = r.line;
    r.mon.interfaces.push_back(f);
    r.block = Block::interface;
}

// MONITOR VOLTAGE RANGE|DEVIATION SUBSYSTEM 'S' x y.
void read_voltage(Reader &r, const Words &w)
{
    const std::string s = r.defined(w[4].text);
    const double x = r.number(w[5]);
    const double y = r.number(w[6]);
    if (is(w, 2, "RANGE")) {
        if (!(x > 0)) {
            r.fail("VOLTAGE RANGE: '" + w[5].text + "' is not above 0");
        }
        if (!(x < y)) {
            r.fail("VOLTAGE RANGE: '" + w[5].text + "' is not below '" + w[6].text + "'");
        }
        r.mon.ranges.push_back({s, x, y, r.line});
        return;
    }
    for (std::size_t p = 5; p < 7; ++p) {
        if (r.number(w[p]) < 0) {
            r.fail("VOLTAGE DEVIATION: '" + w[p].text + "' is negative");
        }
    }
    r.mon.deviations.push_back({s, x, y, r.line});
}

// A line outside any block.
bool read_top(Reader &r, const Words &w)
{
    if (is(w, 0, "SUBSYSTEM") && w.size() == 2 && is_name(w, 1)) {
        open_subsystem(r, w[1].text);
        return true;
    }
    if (is(w, 0, "END") && w.size() == 1) {
        r.block = Block::closed;
        return true;
    }
    if (!is(w, 0, "MONITOR")) {
        return false;
    }
    if (w.size() == 5 && is(w, 3, "SUBSYSTEM") && is_name(w, 4) &&
        ((is(w, 1, "BRANCHES") && is(w, 2, "IN")) || (is(w, 1, "TIES") && is(w, 2, "FROM")))) {
        (is(w, 1, "TIES") ? r.mon.ties_from : r.mon.branches_in).push_back({r.defined(w[4].text), r.line});
        return true;
    }
    MonitorBranch b;
    if (is(w, 1, "BRANCH") && is(w, 2, "FROM") && read_branch(r, w, 3, b)) {
        r.mon.branches.push_back(b);
        return true;
    }
    if (w.size() == 6 && is(w, 1, "INTERFACE") && is_name(w, 2) && is(w, 3, "RATING") && is(w, 5, "MW")) {
        open_interface(r, w);
        return true;
    }
    if (w.size() == 7 && is(w, 1, "VOLTAGE") && (is(w, 2, "RANGE") || is(w, 2, "DEVIATION")) && is(w, 3, "SUBSYSTEM") &&
        is_name(w, 4)) {
        read_voltage(r, w);
        return true;
    }
    return false;
}

// A member line of an interface.
bool read_member(Reader &r, const Words &w)
{
    MonitorMember m;
    m.line = r.line;
    if (is(w, 0, "MONITOR") && is(w, 1, "TIES") && is(w, 2, "FROM")) {
        if (w.size() == 8 && is(w, 3, "AREA") && is(w, 5, "TO") && is(w, 6, "AREA")) {
            m.kind = MonitorMember::Kind::area_ties;
            m.from_area = r.integer(w[4], INT_MAX, "an area number");
            m.to_area = r.integer(w[7], INT_MAX, "an area number");
        } else if (w.size() == 5 && is(w, 3, "SUBSYSTEM") && is_name(w, 4)) {
            m.kind = MonitorMember::Kind::subsystem_ties;
            m.subsystem = r.defined(w[4].text);
        } else {
            return false;
        }
    } else if (w.size() >= 2 && w.size() <= 4 && is_number(w, 0) && is_number(w, 1) &&
               (w.size() < 4 || is_number(w, 2)) && !w.back().text.empty()) {
        m.branch.i = r.bus(w[0]);
        m.branch.j = r.bus(w[1]);
        m.branch.k = w.size() == 4 ? r.bus(w[2]) : 0;
        m.branch.ckt = w.size() >= 3 ? w.back().text : "1";
        m.branch.line = r.line;
    } else {
        return false;
    }
    r.mon.interfaces.back().members.push_back(m);
    return true;
}

// One line of the file, in the block it falls in.
void read_line(Reader &r, std::string_view line)
{
    r.text = std::string(rawread::trim_blanks(line));
    Words w;
    if (!split_words(line, w)) {
        r.fail("a quote is not closed: '" + r.text + "'");
    }
    if (w.empty()) {
        return;
    }
    const bool end = is(w, 0, "END") && w.size() == 1;
    switch (r.block) {
    case Block::top:
        if (!read_top(r, w)) {
            r.fail("not a monitor file line: '" + r.text + "'");
        }
        return;
    case Block::subsystem:
        if (end) {
            r.block = Block::top;
        } else if (is(w, 0, "JOIN") && w.size() == 2 && is_name(w, 1)) {
            r.mon.subsystems.back().joins.push_back({w[1].text, {}, r.line});
            r.block = Block::join;
        } else if (!read_criterion(r, w, r.mon.subsystems.back().criteria)) {
            r.fail("not a subsystem criterion: '" + r.text + "'");
        }
        return;
    case Block::join:
        if (end) {
            r.block = Block::subsystem;
        } else if (!read_criterion(r, w, r.mon.subsystems.back().joins.back().criteria)) {
            r.fail("not a JOIN criterion: '" + r.text + "'");
        }
        return;
    case Block::interface:
        if (end) {
            r.block = Block::top;
        } else if (!read_member(r, w)) {
            r.fail("not an interface member: '" + r.text + "'");
        }
        return;
    case Block::closed:
        r.fail("text after the closing END: '" + r.text + "'");
    }
}

} // namespace

MonitorFile parse_monitor(const std::string &text, const std::string &path)
{
    Reader r{path, {}, Block::top, 0, {}};
    r.mon.file = path;
    rawread::Lines lines(text);
    std::string_view line;
    while (lines.next(line)) {
        r.line = lines.number();
        read_line(r, line);
    }
    switch (r.block) {
    case Block::subsystem:
        throw InputError(path, r.mon.subsystems.back().line,
                         "SUBSYSTEM '" + r.mon.subsystems.back().name + "' has no END");
    case Block::join: {
        const MonitorJoin &j = r.mon.subsystems.back().joins.back();
        throw InputError(path, j.line, "JOIN '" + j.name + "' has no END");
    }
    case Block::interface:
        throw InputError(path, r.mon.interfaces.back().line,
                         "INTERFACE '" + r.mon.interfaces.back().name + "' has no END");
    case Block::top:
        throw InputError(path, 0, "the file ends before its closing END");
    case Block::closed:
        break;
    }
    return r.mon;
}

MonitorFile read_monitor(const std::string &path) { return parse_monitor(read_text_file(path), path); }
