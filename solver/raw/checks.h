// Checks across records, once the whole file is read: bus numbers are unique
// and every record names buses that exist, transformer adjustments name
// branches and tables that exist, and the case has a slack bus.
#pragma once

#include "raw/fields.h"
#include "raw/raw.h"
#include "raw/records.h"

#include <vector>

namespace rawread {

// Bus number -> index of its first record.
void index_buses(Reader &r, const RawCase &c);

// No two bus records share a number.
void check_duplicate_buses(const Reader &r, const RawCase &c);

// Every bus a record names must be in the bus data.
void check_bus_references(const Reader &r, const RawCase &c);

// Each transformer adjustment record names a branch of the branch data; its
// TABLE becomes the branch's impedance correction table.
void apply_adjustments(const Reader &r, const std::vector<Adjustment> &adjustments, RawCase &c);

// Table numbers are unique. A TAB naming no table of the data is set to 0
// (no correction), with a note.
void check_impedance_tables(const Reader &r, RawCase &c);

} // namespace rawread
