// One parser per RAW record type: each takes a record's first line (and, for
// a record of several lines, reads the rest through the reader) and adds the
// record to the case. Records of kinds the solver does not model are counted,
// for the section's end to refuse or note them.
#pragma once

#include "raw/fields.h"
#include "raw/raw.h"

#include <cstddef>
#include <string>
#include <vector>

namespace rawread {

// A load record: S = (PL + jQL) + (IP + jIQ)·V + (YP − jYQ)·V² (see Load).
void read_load(const RecordLine &l, RawCase &c);

// A fixed shunt record: GL + jBL, MW and Mvar at 1 pu.
void read_fixed_shunt(const RecordLine &l, RawCase &c);

// A bus record. Its own load (PL, QL: version 23) and shunt (GL, BL:
// versions 23 to 30), where not zero, read as a load and a fixed shunt
// record of that line (ID 1, in service).
void read_bus(const RecordLine &l, RawCase &c);

// MBASE defaults to SBASE.
void read_unit(const RecordLine &l, RawCase &c);

// A non-transformer branch: the pi model R, X, B, its ratings, an
// off-nominal RATIO and ANGLE where given, end shunts and status.
void read_branch(const RecordLine &l, RawCase &c);

// A system switching device: closed (STAT 1) it joins its buses through its
// reactance X; open it is out of service.
void read_switching_device(const RecordLine &l, RawCase &c);

// The older transformer adjustment record: I, J, CKT name a branch with a
// RATIO; TABLE its impedance correction table. The control data are read
// past. The record is kept until the branches are all read.
struct Adjustment {
    int from = 0, to = 0;
    std::string ckt;
    int table = 0;
    int line = 0;
};

// Keeps an adjustment record for apply_adjustments, once the branches are read.
void read_transformer_adjustment(const RecordLine &l, std::vector<Adjustment> &adjustments);

// "I-J-CKT", or "I-J-K-CKT" for a 3-winding transformer.
std::string transformer_label(const Transformer &t);

// A transformer record: 4 lines for 2 windings (K = 0), 5 for 3 windings.
void read_transformer(Reader &r, RecordLine &l, RawCase &c);

// One line: I, T1, F1, T2, F2, ..., T11, F11. The points run up to the first
// pair whose F is 0 (or missing); T must increase from point to point.
void read_impedance_table(const RecordLine &l, RawCase &c);

// Revision 34 on: I, T1, Re(F1), Im(F1), T2, Re(F2), Im(F2), ..., over as
// many lines as it takes, closed by a point whose F is 0 (0, 0, 0).
void read_complex_impedance_table(Reader &r, RecordLine &l, RawCase &c);

// A switched shunt, held at BINIT, with its blocks (see read_shunt_blocks).
void read_switched_shunt(const RecordLine &l, RawCase &c);

// System-wide data (revision 34 on): RATING records name the rating sets
// (RATING, n, 'NAME', 'DESCRIPTION'); the solution parameters (GENERAL,
// GAUSS, NEWTON, ADJUST, TYSL, SOLVER, each followed by KEY=VALUE fields)
// are kept as "GROUP.KEY". Anything else is read past.
void read_system_wide(const RecordLine &l, RawCase &c);

// A two-terminal DC line: the control line, the rectifier's line and the
// inverter's. A line named by number (before revision 30) takes the number
// as its name.
void read_two_terminal_dc(Reader &r, RecordLine &l, RawCase &c);

// A VSC DC line: its first line and one line per converter.
void read_vsc_dc(Reader &r, RecordLine &l, RawCase &c);

// Counts a record of a kind the solver does not model: refused when in
// service, read past when its status field (`status`, at position `n`; 0
// for none) is 0: a blocked DC line, a FACTS device in mode 0, an induction
// machine of status 0.
void count_by_status(Reader &r, const RecordLine &l, std::size_t n, const char *status);

// A multi-terminal DC line (raw/mtdc_records.cpp): line 1 is 'NAME', NCONV,
// NDCBS, NDCLN, MDC, VCONV, VCMOD, VCONVN (I, NCONV, ... before revision
// 30); NCONV converter, NDCBS DC bus and NDCLN DC link lines follow. The
// record must hold at least two converters, a DC bus for each converter and
// DC links between DC buses it defines.
void read_multi_terminal_dc(Reader &r, RecordLine &l, RawCase &c);

// GNE device records run over several lines; a line that starts with a
// quoted string (the device's name) starts a record.
void count_gne_line(Reader &r, const RecordLine &l);

// Substation data (revision 34 on): each substation record is followed by
// its node, switching device and terminal data, each closed by a 0 record.
// The node-breaker detail is read past: the bus records hold the model the
// solver takes.
void skip_substation(Reader &r, RecordLine &l);

} // namespace rawread
