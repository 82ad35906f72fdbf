// The multi-terminal DC lines' part of the DC rounds (powerflow/dc_rounds.h):
// what their converters draw from their AC buses at the voltages found.
#pragma once

#include "powerflow/state.h"

#include <vector>

// Appends to `draws` what every converter of the in-service multi-terminal
// lines draws at voltages v, each line from its converters' taps in sch;
// `taps` receives the taps their operating points moved to. A line with a
// converter cut off, or with no operating point, draws nothing.
void add_mtdc_draws(const Network &net, const BusSchedule &sch, const Voltages &v, std::vector<double> &taps,
                    std::vector<DcDraw> &draws);

// Whether any multi-terminal line is in service.
bool any_mtdc_in_service(const Network &net);
