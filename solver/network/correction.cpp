#include "network/correction.h"

#include "raw/raw.h"

#include <utility>
#include <vector>

namespace {

// Linear interpolation in a table of (T, F) points, clamped at the ends; F
// complex, its imaginary parts in `im` (zeros or empty for a real table).
std::complex<double> interpolate(const std::vector<std::pair<double, double>> &pts, const std::vector<double> &im,
                                 double x)
{
    if (pts.empty()) {
        return 1.0;
    }
    const auto f = [&](size_t k) { return std::complex<double>(pts[k].second, k < im.size() ? im[k] : 0.0); };
    if (x <= pts.front().first) {
        return f(0);
    }
    for (size_t k = 1; k < pts.size(); ++k) {
        if (x <= pts[k].first) {
            const double x0 = pts[k - 1].first;
            const double x1 = pts[k].first;
            return f(k - 1) + (f(k) - f(k - 1)) * ((x - x0) / (x1 - x0));
        }
    }
    return f(pts.size() - 1);
}

} // namespace

std::complex<double> correction_factor(const ImpedanceTable &t, double x) { return interpolate(t.points, t.im, x); }
