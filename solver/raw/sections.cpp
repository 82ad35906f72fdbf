// Reads PSS/E RAW revisions 23 to 36 (read_raw, parse_raw): the case
// identification, then the sections in the order of the file's revision, each
// record read by its parser (raw/records.h) from its fields (raw/fields.h),
// taken by name from the revision's layout (raw/layouts.h); then the checks
// that the records name buses, branches and tables that exist
// (raw/checks.h). Fields the solver has no use for are read past unchecked.
// Every problem is an InputError naming the file and the line.
#include "raw/sections.h"

#include "io/input_error.h"
#include "io/text_file.h"
#include "raw/checks.h"
#include "raw/facts_record.h"
#include "raw/fields.h"
#include "raw/layouts.h"
#include "raw/records.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace rawread {

namespace {

// The revision a file without REV is written in, from its first bus record
// (`l`): version 23 has the bus type as its second field, a number; 24 to 30
// the quoted name, then BASKV, IDE, GL, BL, AREA, ZONE, VM, VA, OWNER (11
// fields); 31 on the name, then BASKV, IDE, AREA, ZONE, OWNER, VM, VA and
// (33 on) the four voltage limits.
int revision_of_bus_record(const RecordLine &l)
{
    if (l.fields.size() >= 2 && !l.fields[1].quoted) {
        double v = 0.0;
        if (parse_number(l.fields[1].text, v)) {
            return 23;
        }
    }
    return l.fields.size() == 10 || l.fields.size() == 11 ? 29 : 33;
}

// The first record after the case identification's two heading lines,
// read ahead without moving the reader.
bool peek_first_record(const Reader &r, RecordLine &l)
{
    Reader ahead = r;
    std::string_view heading;
    ahead.lines.next(heading);
    ahead.lines.next(heading);
    while (next_line(ahead, l)) {
        if (!l.fields.empty()) {
            return true;
        }
    }
    return false;
}

// Case identification: IC, SBASE, REV, XFRRAT, NXFRAT, BASFRQ, on the first
// line that is not an @! heading; two free-text heading lines follow, not
// split into fields. The revision is `forced` when not 0, else REV, else the
// layout of the first bus record (with a note saying so).
void read_case_identification(Reader &r, RawCase &c, int forced)
{
    const Layout id_layout = layout_of(Rec::case_id, 33);
    RecordLine l;
    l.file = &r.file;
    l.kind = "case identification";
    l.layout = &id_layout;
    std::string_view text;
    for (;;) {
        if (!r.lines.next(text)) {
            throw InputError(r.file, r.lines.number(), "the file holds only @! heading lines");
        }
        l.number = r.lines.number();
        if (trim_blanks(text).substr(0, 2) != "@!") {
            split_fields(text, l);
            break;
        }
    }
    const int ic = int_of(l, "IC", 0);
    if (ic != 0) {
        throw InputError(r.file, l.number,
                         "IC = " + std::to_string(ic) + " (a change case) is not supported; a base case (IC = 0) is");
    }
    c.sbase = real_of(l, "SBASE", 100.0);
    if (!(c.sbase > 0.0)) {
        throw InputError(r.file, l.number, "SBASE must be positive: '" + std::string(field_text(l, 2)) + "'");
    }
    const bool has_rev = !field_text(l, 3).empty();
    c.rev = int_of(l, "REV", 33);
    (void)real_of(l, "XFRRAT", 0.0);
    (void)real_of(l, "NXFRAT", 0.0);
    (void)real_of(l, "BASFRQ", 60.0);
    const int id_line = l.number;
    if (forced != 0) {
        c.rev = forced;
    } else if (!has_rev) {
        RecordLine bus;
        bus.file = &r.file;
        if (peek_first_record(r, bus)) {
            c.rev = revision_of_bus_record(bus);
            c.notes.push_back(r.file + ":" + std::to_string(id_line) +
                              ": no RAW revision (REV) in the case identification; read as revision " +
                              std::to_string(c.rev) + ", the layout of the bus record at line " +
                              std::to_string(bus.number));
        }
    }
    if (c.rev < first_raw_revision || c.rev > last_raw_revision) {
        throw InputError(r.file, id_line,
                         "RAW version " + std::to_string(c.rev) + " is not supported; revisions " +
                             std::to_string(first_raw_revision) + " to " + std::to_string(last_raw_revision) + " are");
    }
    r.lines.next(text);
    r.lines.next(text);
}

// The layouts of revision `rev`, once per file.
void set_layouts(Reader &r, RawCase &c)
{
    r.rev = c.rev;
    r.layouts.clear();
    for (int k = 0; k <= static_cast<int>(Rec::facts); ++k) {
        r.layouts.push_back(layout_of(static_cast<Rec>(k), c.rev));
    }
    for (int w = 0; w < 3; ++w) {
        r.windings.at(w) = layout_of(Rec::winding, c.rev, w + 1);
    }
    r.winding_short = layout_of(Rec::winding_short, c.rev, 2);
    c.rating_sets = static_cast<int>(r.layouts[static_cast<std::size_t>(Rec::branch)].ratings.size());
}

// How the records of a section are read.
enum class Records {
    system_wide,
    bus,
    load,
    fixed_shunt,
    unit,
    branch,
    switching_device,
    transformer,
    transformer_adj,
    impedance_table,
    impedance_table_complex,
    switched_shunt,
    substation,       // read past, with a note
    ignored,          // one line each, nothing the solver uses
    refused_one_line, // induction machine
    facts,
    two_terminal_dc,
    vsc_dc,
    multi_terminal_dc,
    refused_gne, // GNE device
};

struct Section {
    Sec sec;
    const char *kind;             // in messages: "the file ends inside the KIND data"
    Records records;              // how its records are read
    Rec rec;                      // the layout of its records (case_id where they are read by position or not at all)
    const char *refused;          // what a record is, for a kind the solver refuses
    std::size_t status_field = 0; // of a refused kind: the field that puts a record out of service at 0
    const char *status = "";      // and its name
};

// Every section any revision has.
constexpr std::array<Section, 24> section_kinds{{
    {Sec::system_wide, "system-wide", Records::system_wide, Rec::case_id, nullptr},
    {Sec::bus, "bus", Records::bus, Rec::bus, nullptr},
    {Sec::load, "load", Records::load, Rec::load, nullptr},
    {Sec::fixed_shunt, "fixed shunt", Records::fixed_shunt, Rec::fixed_shunt, nullptr},
    {Sec::generator, "generator", Records::unit, Rec::generator, nullptr},
    {Sec::branch, "branch", Records::branch, Rec::branch, nullptr},
    {Sec::switching_device, "system switching device", Records::switching_device, Rec::switching_device, nullptr},
    {Sec::transformer, "transformer", Records::transformer, Rec::transformer_1, nullptr},
    {Sec::transformer_adj, "transformer adjustment", Records::transformer_adj, Rec::transformer_adj, nullptr},
    {Sec::area, "area interchange", Records::ignored, Rec::case_id, nullptr},
    {Sec::two_terminal_dc, "two-terminal DC", Records::two_terminal_dc, Rec::dc_line, nullptr},
    {Sec::vsc_dc, "VSC DC", Records::vsc_dc, Rec::vsc_line, nullptr},
    {Sec::impedance_correction, "impedance correction", Records::impedance_table, Rec::case_id, nullptr},
    {Sec::impedance_correction_complex, "impedance correction", Records::impedance_table_complex, Rec::case_id,
     nullptr},
    {Sec::multi_terminal_dc, "multi-terminal DC", Records::multi_terminal_dc, Rec::mtdc_line, nullptr},
    {Sec::multi_section, "multi-section line group", Records::ignored, Rec::case_id, nullptr},
    {Sec::zone, "zone", Records::ignored, Rec::case_id, nullptr},
    {Sec::inter_area, "inter-area transfer", Records::ignored, Rec::case_id, nullptr},
    {Sec::owner, "owner", Records::ignored, Rec::case_id, nullptr},
    {Sec::facts, "FACTS device", Records::facts, Rec::facts, "FACTS device", 4, "MODE"},
    {Sec::switched_shunt, "switched shunt", Records::switched_shunt, Rec::switched_shunt, nullptr},
    {Sec::gne, "GNE device", Records::refused_gne, Rec::case_id, "GNE device"},
    {Sec::induction_machine, "induction machine", Records::refused_one_line, Rec::case_id, "induction machine", 3,
     "STAT"},
    {Sec::substation, "substation", Records::substation, Rec::case_id, nullptr},
}};

const Section &section_kind(Sec sec)
{
    return *std::find_if(section_kinds.begin(), section_kinds.end(), [sec](const Section &s) { return s.sec == sec; });
}

// What the reader carries from section to section besides the case.
struct Extras {
    std::vector<Adjustment> adjustments;
};

// Reads one record whose first line is in `l`; a record of several lines
// reads the rest into `l` too.
void read_record(Reader &r, const Section &s, RecordLine &l, RawCase &c, Extras &x)
{
    switch (s.records) {
    case Records::system_wide:
        read_system_wide(l, c);
        break;
    case Records::bus:
        read_bus(l, c);
        break;
    case Records::load:
        read_load(l, c);
        break;
    case Records::fixed_shunt:
        read_fixed_shunt(l, c);
        break;
    case Records::unit:
        read_unit(l, c);
        break;
    case Records::branch:
        read_branch(l, c);
        break;
    case Records::switching_device:
        read_switching_device(l, c);
        break;
    case Records::transformer:
        read_transformer(r, l, c);
        break;
    case Records::transformer_adj:
        read_transformer_adjustment(l, x.adjustments);
        break;
    case Records::impedance_table:
        read_impedance_table(l, c);
        break;
    case Records::impedance_table_complex:
        read_complex_impedance_table(r, l, c);
        break;
    case Records::switched_shunt:
        read_switched_shunt(l, c);
        break;
    case Records::substation:
        skip_substation(r, l);
        break;
    case Records::ignored:
        break;
    case Records::refused_one_line:
        count_by_status(r, l, s.status_field, s.status);
        break;
    case Records::facts:
        read_facts(r, l, c);
        break;
    case Records::two_terminal_dc:
        read_two_terminal_dc(r, l, c);
        break;
    case Records::vsc_dc:
        read_vsc_dc(r, l, c);
        break;
    case Records::multi_terminal_dc:
        read_multi_terminal_dc(r, l, c);
        break;
    case Records::refused_gne:
        count_gne_line(r, l);
        break;
    }
}

// At the end of a section of a kind the solver does not model: any record in
// service in it makes the case one that can not be solved; those out of
// service are read past with a note, and so are substations.
void end_section(const Reader &r, const Section &s, RawCase &c)
{
    if (r.out_count > 0) {
        c.notes.push_back(r.file + ":" + std::to_string(r.out_line) + ": " + std::to_string(r.out_count) + " " +
                          s.refused + " record(s) out of service (" + s.status + " 0) read past");
    }
    if (r.refused_count == 0) {
        return;
    }
    if (s.records == Records::substation) {
        c.notes.push_back(r.file + ":" + std::to_string(r.refused_line) + ": " + std::to_string(r.refused_count) +
                          " substation record(s) with node-breaker data read past; the bus records' model is solved");
        return;
    }
    if (s.refused == nullptr) {
        return;
    }
    std::string what = "the case has " + std::to_string(r.refused_count) + " " + s.refused;
    what += r.refused_count == 1 ? " record; " : " records; ";
    what += std::string(s.refused) + "s are not modelled, so the case can not be solved";
    throw InputError(r.file, r.refused_line, what);
}

// Whether the next record opens the system-wide data: a keyword (RATING,
// GENERAL, ...) or the 0 record that closes an empty section. A file may
// leave the section out and start its bus data at once.
bool system_wide_present(const Reader &r)
{
    Reader ahead = r;
    RecordLine l;
    l.file = &r.file;
    const Next next = next_record(ahead, l);
    if (next == Next::section_end) {
        return true;
    }
    double v = 0.0;
    return next == Next::record && !l.fields.front().quoted && !parse_number(l.fields.front().text, v);
}

// Reads one section up to its closing 0 record and returns true, or returns
// false when the data end here: at a Q record, or (`may_be_absent`) at the
// end of the file before the section's first line.
bool read_section(Reader &r, const Section &s, RawCase &c, Extras &x, bool may_be_absent)
{
    RecordLine l;
    l.file = &r.file;
    l.kind = s.kind;
    r.refused_count = 0;
    r.refused_line = 0;
    r.out_count = 0;
    r.out_line = 0;
    bool any = false;
    for (;;) {
        const Next next = next_record(r, l);
        if (next == Next::record) {
            l.layout = &layout(r, s.rec);
            read_record(r, s, l, c, x);
            any = true;
            continue;
        }
        if (next == Next::eof) {
            if (!any && may_be_absent) {
                return false;
            }
            throw section_truncated(r, s.kind);
        }
        end_section(r, s, c);
        return next == Next::section_end;
    }
}

bool all_blank(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
    });
}

// The RAW text `text` of file `file` (see read_raw): the case identification,
// the sections in the order of the revision, then the checks across records.
RawCase parse_text(const std::string &text, const std::string &file, int rev)
{
    if (all_blank(text)) {
        throw InputError(file, 0, "the file is empty");
    }
    Reader r{file, Lines(text), 33, {}, {}, {}, {}, 0, 0};
    RawCase c;
    c.file = file;
    read_case_identification(r, c, rev);
    set_layouts(r, c);
    Extras x;
    const std::vector<Sec> order = sections_of(c.rev);
    bool first = true;
    for (const Sec sec : order) {
        if (sec == Sec::system_wide && !system_wide_present(r)) {
            continue;
        }
        const bool more = read_section(r, section_kind(sec), c, x, !first);
        first = false;
        if (sec == Sec::bus) {
            index_buses(r, c);
        }
        if (!more) {
            break;
        }
    }
    check_duplicate_buses(r, c);
    check_bus_references(r, c);
    apply_adjustments(r, x.adjustments, c);
    check_impedance_tables(r, c);
    return c;
}

} // namespace

} // namespace rawread

RawCase read_raw(const std::string &path, int rev) { return rawread::parse_text(read_text_file(path), path, rev); }

RawCase parse_raw(std::istream &in, const std::string &file, int rev)
{
    return rawread::parse_text(read_stream(in, file), file, rev);
}
