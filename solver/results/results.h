// Result files. Every file is written in full under a temporary name in its
// own directory and renamed into place, so a reader sees either the old file
// or the whole new one, never a torn one; P ranks may write the same file.
#pragma once

#include "powerflow/base_case.h"
#include "powerflow/control_loop.h"
#include "powerflow/flows.h"

#include <string>
#include <vector>

// base_buses.csv: every energised RAW bus in file order,
//   bus,name,base_kv,vm_pu,va_deg,pg_mw,qg_mvar,pd_mw,qd_mvar
// generation and load in MW/Mvar (load with its V-dependent parts at the
// solved voltage), angles in degrees. A bus of a tie node shows the node's
// voltage, its own load and its units' share of the node's output
// (tie_node_output).
std::string base_buses_csv(const Network &net, const BaseCase &bc);

// base_branches.csv: every in-service branch of the solved island,
//   from,to,k,ckt,winding,p_from_mw,q_from_mvar,p_to_mw,q_to_mvar,loading_pct
// flows into the branch at each end (charging included, end shunts not);
// loading = 100·max(|S_from|, |S_to|)/rating, the rating in the column the
// options name for the base case (A by default), empty where it is 0. A
// 3-winding transformer gives one row per winding (k and winding set), its
// "to" end being the star point. A tie is a row like any branch, its flow
// found from the injections around it (fill_tie_flows).
std::string base_branches_csv(const Network &net, const BaseCase &bc, int rating_set);

// base_dclines.csv: every DC line of the network in RAW order, two-terminal
// lines first,
//   name,type,status,bus_1,bus_2,p_1_mw,q_1_mvar,p_2_mw,q_2_mvar,idc_a,
//   vdc_1_kv,vdc_2_kv,angle_1_deg,angle_2_deg,tap_1,tap_2,mode,note
// type "two-terminal" (converter 1 the rectifier, 2 the inverter; angles α
// and γ) or "VSC" (converters in file order; no angles or taps); status
// "in service", "blocked" or "cut off" (an end outside the solved islands).
// P and Q are what each converter injects into its AC bus: the rectifier's
// P and both converters' Q of a two-terminal line are negative.
std::string base_dclines_csv(const Network &net, const BaseCase &bc);

// base_violations.csv: kind,element,value,limit, the violations of the base
// case (limits NVLO/NVHI and the base rating).
std::string base_violations_csv(const Assessment &a);

// One row of base_controls.csv: a control (or any device that holds a
// quantity within a band), the band and where it ended.
struct ControlRow {
    std::string kind;      // switched_shunt, tap_voltage, tap_reactive, phase_shifter
    std::string device;    // a shunt as BUS-ID, a winding as its branch label (from-to[-k]-ckt)
    int winding = 0;       // 1 to 3 for a 3-winding transformer's winding, else 0 (empty)
    int regulated_bus = 0; // RAW number of the bus whose voltage it holds, 0 (empty) for a flow
    double low = 0, high = 0;
    double value = 0;   // the quantity held: pu, or MW/Mvar for a flow; NaN (empty) when off
    double setting = 0; // ratio as WINDV, angle in degrees, shunt Mvar at 1 pu
    std::string state;  // control_state_name
};

// The rows of every control acting in the base case, in network order
// (switched shunts in RAW order, then windings).
std::vector<ControlRow> base_control_rows(const Network &net, const ControlsOutcome &out);

// base_controls.csv:
//   kind,device,winding,regulated_bus,band_low,band_high,value,setting,at_limit,state
// at_limit 1 where the state is at_limit, else 0.
std::string controls_csv(const std::vector<ControlRow> &rows);

// A row per bus held by remote regulation in the base case: kind
// remote_voltage, device its plants' buses (space-separated), the band VS..VS,
// value its |V|, setting the plants' total Mvar, at_limit where every plant
// is held at a reactive limit.
std::vector<ControlRow> regulation_rows(const Network &net, const BaseCase &bc);

// One number as the result files print it: 12 significant digits, no "-0".
std::string num(double x);
