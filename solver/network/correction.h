// Impedance correction tables: the factor a transformer's impedance is
// scaled by at its winding ratio or angle.
#pragma once

#include <complex>

struct ImpedanceTable;

// Factor of impedance correction table `t` at x (linear between points,
// the end point's factor beyond the ends).
std::complex<double> correction_factor(const ImpedanceTable &t, double x);
