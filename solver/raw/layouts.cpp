#include "raw/layouts.h"

#include <algorithm>
#include <array>

namespace {

// One row of the table: the fields of `rec` in revisions first..last, blank
// separated. '#' stands for the winding number; a leading '%' marks a rating
// (RATEA, RATE1, ...), in rating order.
struct Row {
    Rec rec;
    int first, last;
    const char *fields;
};

// Owner pairs and the like are listed where they come before a field the
// solver reads; trailing ones are not.
constexpr std::array<Row, 53> rows{{
    {Rec::case_id, 23, 36, "IC SBASE REV XFRRAT NXFRAT BASFRQ"},

    // Version 23 carries the bus's load and shunt; 24 to 30 its shunt.
    {Rec::bus, 23, 23, "I IDE PL QL GL BL AREA VM VA NAME BASKV ZONE"},
    {Rec::bus, 24, 30, "I NAME BASKV IDE GL BL AREA ZONE VM VA OWNER"},
    {Rec::bus, 31, 32, "I NAME BASKV IDE AREA ZONE OWNER VM VA"},
    {Rec::bus, 33, 36, "I NAME BASKV IDE AREA ZONE OWNER VM VA NVHI NVLO EVHI EVLO"},

    {Rec::load, 24, 30, "I ID STATUS AREA ZONE PL QL IP IQ YP YQ OWNER"},
    {Rec::load, 31, 32, "I ID STATUS AREA ZONE PL QL IP IQ YP YQ OWNER SCALE"},
    {Rec::load, 33, 33, "I ID STATUS AREA ZONE PL QL IP IQ YP YQ OWNER SCALE INTRPT"},
    {Rec::load, 34, 36, "I ID STATUS AREA ZONE PL QL IP IQ YP YQ OWNER SCALE INTRPT DGENP DGENQ DGENF LOADTYPE"},

    {Rec::fixed_shunt, 31, 36, "I ID STATUS GL BL"},

    {Rec::generator, 23, 23, "I ID PG QG QT QB VS IREG MBASE ZR ZX RT XT GTAP STAT RMPCT PT PB"},
    {Rec::generator, 24, 30,
     "I ID PG QG QT QB VS IREG MBASE ZR ZX RT XT GTAP STAT RMPCT PT PB O1 F1 O2 F2 O3 F3 O4 F4"},
    {Rec::generator, 31, 33,
     "I ID PG QG QT QB VS IREG MBASE ZR ZX RT XT GTAP STAT RMPCT PT PB O1 F1 O2 F2 O3 F3 O4 F4 WMOD WPF"},
    // Version 34 appends the node fields (NREG, NODE, ND) to its records;
    // 35 puts them after the bus they belong to.
    {Rec::generator, 34, 34,
     "I ID PG QG QT QB VS IREG MBASE ZR ZX RT XT GTAP STAT RMPCT PT PB O1 F1 O2 F2 O3 F3 O4 F4 WMOD WPF NREG"},
    {Rec::generator, 35, 36,
     "I ID PG QG QT QB VS IREG NREG MBASE ZR ZX RT XT GTAP STAT RMPCT PT PB BASLOD O1 F1 O2 F2 O3 F3 O4 F4 WMOD WPF"},

    // Up to version 25 a transformer is a branch with a RATIO and an ANGLE.
    {Rec::branch, 23, 25, "I J CKT R X B %RATEA %RATEB %RATEC RATIO ANGLE GI BI GJ BJ ST"},
    {Rec::branch, 26, 30, "I J CKT R X B %RATEA %RATEB %RATEC GI BI GJ BJ ST LEN O1 F1"},
    {Rec::branch, 31, 33, "I J CKT R X B %RATEA %RATEB %RATEC GI BI GJ BJ ST MET LEN O1 F1"},
    {Rec::branch, 34, 36,
     "I J CKT R X B NAME %RATE1 %RATE2 %RATE3 %RATE4 %RATE5 %RATE6 %RATE7 %RATE8 %RATE9 %RATE10 %RATE11 %RATE12 "
     "GI BI GJ BJ ST MET LEN O1 F1"},

    {Rec::switching_device, 34, 36,
     "I J CKT X %RATE1 %RATE2 %RATE3 %RATE4 %RATE5 %RATE6 %RATE7 %RATE8 %RATE9 %RATE10 %RATE11 %RATE12 "
     "STAT NSTAT MET STYPE NAME"},

    {Rec::transformer_1, 26, 32, "I J K CKT CW CZ CM MAG1 MAG2 NMETR NAME STAT O1 F1 O2 F2 O3 F3 O4 F4"},
    {Rec::transformer_1, 33, 33, "I J K CKT CW CZ CM MAG1 MAG2 NMETR NAME STAT O1 F1 O2 F2 O3 F3 O4 F4 VECGRP"},
    {Rec::transformer_1, 34, 36, "I J K CKT CW CZ CM MAG1 MAG2 NMETR NAME STAT O1 F1 O2 F2 O3 F3 O4 F4 VECGRP ZCOD"},

    {Rec::transformer_2, 26, 36, "R1-2 X1-2 SBASE1-2 R2-3 X2-3 SBASE2-3 R3-1 X3-1 SBASE3-1 VMSTAR ANSTAR"},

    {Rec::winding, 26, 33,
     "WINDV# NOMV# ANG# %RATA# %RATB# %RATC# COD# CONT# RMA# RMI# VMA# VMI# NTP# TAB# CR# CX# CNXA#"},
    {Rec::winding, 34, 34,
     "WINDV# NOMV# ANG# %RATE#-1 %RATE#-2 %RATE#-3 %RATE#-4 %RATE#-5 %RATE#-6 %RATE#-7 %RATE#-8 %RATE#-9 "
     "%RATE#-10 %RATE#-11 %RATE#-12 COD# CONT# RMA# RMI# VMA# VMI# NTP# TAB# CR# CX# CNXA# NODE#"},
    {Rec::winding, 35, 36,
     "WINDV# NOMV# ANG# %RATE#-1 %RATE#-2 %RATE#-3 %RATE#-4 %RATE#-5 %RATE#-6 %RATE#-7 %RATE#-8 %RATE#-9 "
     "%RATE#-10 %RATE#-11 %RATE#-12 COD# CONT# NODE# RMA# RMI# VMA# VMI# NTP# TAB# CR# CX# CNXA#"},
    {Rec::winding_short, 26, 36, "WINDV# NOMV#"},

    {Rec::transformer_adj, 23, 25, "I J CKT ICONT RMA RMI VMA VMI STEP TABLE CNTRL CR CX"},

    {Rec::switched_shunt, 23, 28, "I MODSW VSWHI VSWLO SWREM BINIT N1 B1"},
    {Rec::switched_shunt, 29, 31, "I MODSW VSWHI VSWLO SWREM RMPCT RMIDNT BINIT N1 B1"},
    {Rec::switched_shunt, 32, 33, "I MODSW ADJM STAT VSWHI VSWLO SWREM RMPCT RMIDNT BINIT N1 B1"},
    {Rec::switched_shunt, 34, 34,
     "I MODSW ADJM STAT VSWHI VSWLO SWREG RMPCT RMIDNT BINIT N1 B1 N2 B2 N3 B3 N4 B4 N5 B5 N6 B6 N7 B7 N8 B8 NREG"},
    {Rec::switched_shunt, 35, 36, "I ID MODSW ADJM STAT VSWHI VSWLO SWREG NREG RMPCT RMIDNT BINIT S1 N1 B1"},

    // A two-terminal DC line is named by number up to version 29.
    {Rec::dc_line, 23, 29, "I MDC RDC SETVL VSCHD VCMOD RCOMP DELTI METER DCVMIN CCCITMX CCCACC"},
    {Rec::dc_line, 30, 36, "NAME MDC RDC SETVL VSCHD VCMOD RCOMP DELTI METER DCVMIN CCCITMX CCCACC"},
    {Rec::dc_converter, 23, 33, "IP NB ANMX ANMN RC XC EBAS TR TAP TMX TMN STP IC IF IT ID XCAP"},
    {Rec::dc_converter, 34, 34, "IP NB ANMX ANMN RC XC EBAS TR TAP TMX TMN STP IC IF IT ID XCAP ND"},
    {Rec::dc_converter, 35, 36, "IP NB ANMX ANMN RC XC EBAS TR TAP TMX TMN STP IC ND IF IT ID XCAP"},

    {Rec::vsc_line, 23, 36, "NAME MDC RDC O1 F1 O2 F2 O3 F3 O4 F4"},
    {Rec::vsc_converter, 23, 33, "IBUS TYPE MODE DCSET ACSET ALOSS BLOSS MINLOSS SMAX IMAX PWF MAXQ MINQ REMOT RMPCT"},
    {Rec::vsc_converter, 34, 34,
     "IBUS TYPE MODE DCSET ACSET ALOSS BLOSS MINLOSS SMAX IMAX PWF MAXQ MINQ VSREG RMPCT NREG"},
    {Rec::vsc_converter, 35, 36,
     "IBUS TYPE MODE DCSET ACSET ALOSS BLOSS MINLOSS SMAX IMAX PWF MAXQ MINQ VSREG NREG RMPCT"},

    // A FACTS device is numbered (N) up to version 30 and named after; the
    // remote bus is REMOT up to 33, FCREG (with its node NREG) after.
    {Rec::facts, 23, 30, "N I J MODE PDES QDES VSET SHMX TRMX VTMN VTMX VSMX IMX LINX RMPCT OWNER SET1 SET2 VSREF"},
    {Rec::facts, 31, 33,
     "NAME I J MODE PDES QDES VSET SHMX TRMX VTMN VTMX VSMX IMX LINX RMPCT OWNER SET1 SET2 VSREF REMOT MNAME"},
    {Rec::facts, 34, 34,
     "NAME I J MODE PDES QDES VSET SHMX TRMX VTMN VTMX VSMX IMX LINX RMPCT OWNER SET1 SET2 VSREF FCREG MNAME NREG"},
    {Rec::facts, 35, 36,
     "NAME I J MODE PDES QDES VSET SHMX TRMX VTMN VTMX VSMX IMX LINX RMPCT OWNER SET1 SET2 VSREF FCREG NREG MNAME"},
    // A multi-terminal DC line is named by number up to version 29; its DC
    // links have a metered end (MET) from version 31.
    {Rec::mtdc_line, 23, 29, "I NCONV NDCBS NDCLN MDC VCONV VCMOD VCONVN"},
    {Rec::mtdc_line, 30, 36, "NAME NCONV NDCBS NDCLN MDC VCONV VCMOD VCONVN"},
    {Rec::mtdc_converter, 23, 36, "IB N ANGMX ANGMN RC XC EBAS TR TAP TPMX TPMN TSTP SETVL DCPF MARG CNVCOD"},
    {Rec::mtdc_bus, 23, 36, "IDC IB AREA ZONE DCNAME IDC2 RGRND OWNER"},
    {Rec::mtdc_link, 23, 30, "IDC JDC DCCKT RDC LDC"},
    {Rec::mtdc_link, 31, 36, "IDC JDC DCCKT MET RDC LDC"},
}};

// The sections of each revision range, in file order.
struct SectionRow {
    int first, last;
    std::vector<Sec> sections;
};

const std::vector<SectionRow> &section_rows()
{
    using S = Sec;
    static const std::vector<SectionRow> table{
        {23,
         23,
         {S::bus, S::generator, S::branch, S::transformer_adj, S::area, S::two_terminal_dc, S::switched_shunt,
          S::impedance_correction, S::multi_terminal_dc, S::multi_section, S::zone, S::inter_area, S::owner, S::facts}},
        {24,
         25,
         {S::bus, S::load, S::generator, S::branch, S::transformer_adj, S::area, S::two_terminal_dc, S::switched_shunt,
          S::impedance_correction, S::multi_terminal_dc, S::multi_section, S::zone, S::inter_area, S::owner, S::facts}},
        {26,
         28,
         {S::bus, S::load, S::generator, S::branch, S::transformer, S::area, S::two_terminal_dc, S::switched_shunt,
          S::impedance_correction, S::multi_terminal_dc, S::multi_section, S::zone, S::inter_area, S::owner, S::facts}},
        {29,
         30,
         {S::bus, S::load, S::generator, S::branch, S::transformer, S::area, S::two_terminal_dc, S::vsc_dc,
          S::switched_shunt, S::impedance_correction, S::multi_terminal_dc, S::multi_section, S::zone, S::inter_area,
          S::owner, S::facts}},
        {31,
         32,
         {S::bus, S::load, S::fixed_shunt, S::generator, S::branch, S::transformer, S::area, S::two_terminal_dc,
          S::vsc_dc, S::impedance_correction, S::multi_terminal_dc, S::multi_section, S::zone, S::inter_area, S::owner,
          S::facts, S::switched_shunt, S::gne}},
        {33,
         33,
         {S::bus, S::load, S::fixed_shunt, S::generator, S::branch, S::transformer, S::area, S::two_terminal_dc,
          S::vsc_dc, S::impedance_correction, S::multi_terminal_dc, S::multi_section, S::zone, S::inter_area, S::owner,
          S::facts, S::switched_shunt, S::gne, S::induction_machine}},
        {34, 36, {S::system_wide,       S::bus,           S::load,
                  S::fixed_shunt,       S::generator,     S::branch,
                  S::switching_device,  S::transformer,   S::area,
                  S::two_terminal_dc,   S::vsc_dc,        S::impedance_correction_complex,
                  S::multi_terminal_dc, S::multi_section, S::zone,
                  S::inter_area,        S::owner,         S::facts,
                  S::switched_shunt,    S::gne,           S::induction_machine,
                  S::substation}},
    };
    return table;
}

} // namespace

std::size_t Layout::at(std::string_view name) const
{
    const auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? 0 : static_cast<std::size_t>(it - names.begin()) + 1;
}

Layout layout_of(Rec rec, int rev, int winding)
{
    Layout l;
    const auto *const row = std::find_if(rows.begin(), rows.end(),
                                         [&](const Row &r) { return r.rec == rec && r.first <= rev && rev <= r.last; });
    if (row == rows.end()) {
        return l;
    }
    const Row &found = *row;
    const std::string_view text(found.fields);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(' ', pos);
        end = end == std::string_view::npos ? text.size() : end;
        std::string name(text.substr(pos, end - pos));
        pos = end + 1;
        if (name.empty()) {
            continue;
        }
        if (name.front() == '%') {
            name.erase(0, 1);
            l.ratings.push_back(l.names.size() + 1);
        }
        std::replace(name.begin(), name.end(), '#', static_cast<char>('0' + winding));
        l.names.push_back(std::move(name));
    }
    return l;
}

std::vector<Sec> sections_of(int rev)
{
    const std::vector<SectionRow> &table = section_rows();
    const auto row = std::find_if(table.begin(), table.end(),
                                  [rev](const SectionRow &r) { return r.first <= rev && rev <= r.last; });
    if (row == table.end()) {
        return {};
    }
    const SectionRow &found = *row;
    return found.sections;
}
