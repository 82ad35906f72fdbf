// Contingency lists as ctgbatch cuts them: a line containing "CONTINGENCY"
// and the two lines after it make one block; every other line is skipped.
#pragma once

#include <string>
#include <vector>

struct CtgBlock {
    std::string label;   // the header's text after "CONTINGENCY", trimmed
    std::string element; // the line after the header ("" when the list ends first)
    int line = 0;        // line of the header in the file
};

// Reads the blocks of a list or sub-file. Throws InputError when the file
// can not be opened or read.
std::vector<CtgBlock> read_ctg_blocks(const std::string &path);

// The same from the file's text.
std::vector<CtgBlock> cut_ctg_blocks(const std::string &text);

// What an element line asks for ("|" separates spellings of one word, "[]"
// marks what may be left out):
//   DISCONNECT|TRIP BUS i
//   OPEN|TRIP|DISCONNECT BRANCH|LINE FROM BUS i TO BUS j [TO BUS k] [CKT|CIRCUIT c]
//   OPEN|TRIP|DISCONNECT THREEWINDING [AT|FROM] BUS i TO BUS j TO BUS k [CKT|CIRCUIT c]
//   CLOSE BRANCH|LINE FROM BUS i TO BUS j [TO BUS k] [CKT|CIRCUIT c]
//   REMOVE|TRIP|DISCONNECT UNIT|MACHINE c FROM BUS i
//   REMOVE|TRIP|DISCONNECT LOAD c FROM BUS i
//   REMOVE|TRIP|DISCONNECT SHUNT|SWSHUNT [c] FROM BUS i
//   BLOCK|TRIP|DISCONNECT TWOTERMDC|VSCDC name
//   OPEN|TRIP|DISCONNECT FACTS name
//   BLOCK|TRIP|DISCONNECT TWOTERMDC|VSCDC|MULTITERMDC name
//   SET|CHANGE BUS i LOAD TO x MW|PERCENT
//   INCREASE|RAISE|DECREASE|REDUCE BUS i LOAD BY x MW|PERCENT
//   SET|CHANGE UNIT|MACHINE c [AT|FROM] BUS i TO x MW
//   INCREASE|RAISE|DECREASE|REDUCE UNIT|MACHINE c [AT|FROM] BUS i BY x MW|PERCENT
// Keywords in any case, any blanks between words, ids and names quoted or
// not, the circuit 1 when omitted. Amounts are finite numbers; a decrease
// is kept as a negative change. Anything else is unsupported, with `why`
// set where the line has the shape of one of these but a value it can not
// take (a negative amount to set).
struct Element {
    enum class Kind {
        branch,       // open a branch or 3-winding unit
        close_branch, // put an out-of-service branch in service
        unit,         // remove a unit
        bus,          // disconnect a bus
        load,         // remove a load
        shunt,        // remove a fixed shunt (every one of the bus when id is empty)
        swshunt,      // remove a switched shunt (every one of the bus when id is empty)
        twotermdc,    // block a two-terminal DC line
        vscdc,        // block a VSC DC line
        facts,        // take a FACTS device out of service
        mtdc,         // block a multi-terminal DC line
        bus_load,     // change the loads of a bus
        unit_output,  // change a unit's PG
        unsupported
    } kind = Kind::unsupported;
    int i = 0, j = 0, k = 0; // k: third bus of a 3-winding transformer, else 0
    std::string id;          // circuit, unit, load or shunt id, DC line or FACTS device name, unquoted and trimmed
    // A change (bus_load, unit_output): to `amount` (set) or by it
    // (increase; negative for a decrease), in MW or in percent of what
    // the element has.
    bool set = false;
    bool percent = false;
    double amount = 0;
    std::string why;
};
Element parse_element(const std::string &line);

// Ids compare unquoted, trimmed and without regard to case.
bool same_id(const std::string &a, const std::string &b);
