// The record layouts of PSS/E RAW revisions 23 to 36, in one place: for each
// record (or line of a multi-line record), the names of its fields in file
// order, by range of revisions; and for each revision range, its sections in
// file order. The reader looks fields up by name, so a field a revision does
// not have reads as its default, and adding a revision is adding rows here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr int first_raw_revision = 23;
constexpr int last_raw_revision = 36;

// The records whose fields the reader takes by name.
enum class Rec {
    case_id,
    bus,
    load,
    fixed_shunt,
    generator,
    branch,
    switching_device,
    transformer_1,   // I, J, K, CKT, CW, CZ, CM, ...
    transformer_2,   // R1-2, X1-2, SBASE1-2, ...
    winding,         // WINDV, NOMV, ANG, ratings, COD, ..., TAB
    winding_short,   // the last line of a 2-winding record: WINDV2, NOMV2
    transformer_adj, // the older transformer adjustment records
    switched_shunt,
    dc_line,        // two-terminal DC line: the control line
    dc_converter,   // its rectifier and inverter lines
    vsc_line,       // VSC DC line: the first line
    vsc_converter,  // its two converter lines
    mtdc_line,      // multi-terminal DC line: the first line
    mtdc_converter, // its converter lines
    mtdc_bus,       // its DC bus lines
    mtdc_link,      // its DC link lines
    facts,          // FACTS device
};

// The sections of a RAW file, as the reader treats them.
enum class Sec {
    system_wide,
    bus,
    load,
    fixed_shunt,
    generator,
    branch,
    switching_device,
    transformer,
    transformer_adj,
    area,
    two_terminal_dc,
    vsc_dc,
    impedance_correction,         // one line per table: I, T1, F1, ..., T11, F11
    impedance_correction_complex, // lines until a 0, 0, 0 point: I, T1, Re(F1), Im(F1), ...
    multi_terminal_dc,
    multi_section,
    zone,
    inter_area,
    owner,
    facts,
    switched_shunt,
    gne,
    induction_machine,
    substation,
};

// One record's fields for one revision: names in file order, looked up by name.
struct Layout {
    std::vector<std::string> names;
    std::vector<std::size_t> ratings; // positions (1-based) of the rating fields, in rating order

    // 1-based position of `name`, 0 when this revision's record has no such field.
    std::size_t at(std::string_view name) const;
};

// The layout of `rec` in revision `rev`; an empty layout when the revision
// has no such record. Winding layouts name their fields for winding
// `winding` (1..3): "WINDV#" becomes "WINDV2", "RATE#-1" becomes "RATE2-1".
Layout layout_of(Rec rec, int rev, int winding = 1);

// The sections of revision `rev`, in file order.
std::vector<Sec> sections_of(int rev);
