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

// What an element line asks for:
//   OPEN|TRIP|DISCONNECT BRANCH|LINE FROM BUS i TO BUS j [TO BUS k] [CKT|CIRCUIT c]
//   REMOVE|TRIP|DISCONNECT UNIT|MACHINE c FROM BUS i
// Keywords in any case, any blanks between words, ids quoted or not, the
// circuit 1 when omitted. Anything else is unsupported.
struct Element {
    enum class Kind { branch, unit, unsupported } kind = Kind::unsupported;
    int i = 0, j = 0, k = 0; // k: third bus of a 3-winding transformer, else 0
    std::string id;          // circuit or unit id, unquoted and trimmed
};
Element parse_element(const std::string &line);

// Ids compare unquoted, trimmed and without regard to case.
bool same_id(const std::string &a, const std::string &b);
