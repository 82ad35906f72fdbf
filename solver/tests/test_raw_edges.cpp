// What the RAW format allows at its edges, read with a warning where the
// reader chooses a meaning: a winding ratio of 0, a transformer naming an
// impedance correction table the file lacks, a rectifier's ANMX of 90
// degrees. Each on the six-bus network edited by hand.

#include "helpers.h"
#include "io/input_error.h"
#include "network/build.h"
#include "network/network.h"
#include "powerflow/base_case.h"
#include "powerflow/state.h"
#include "raw/raw.h"
#include "raw/sections.h"
#include "test_paths.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::string six_bus() { return read_file(std::string(paths::solver_test_data) + "/revisions/six_bus_v33.raw"); }

RawCase parse(const std::string &text)
{
    std::istringstream in(text);
    return parse_raw(in, "t.raw");
}

// The series admittance, ratio and shift of every branch.
void expect_same_branches(const Network &a, const Network &b)
{
    ASSERT_EQ(a.branches.size(), b.branches.size());
    for (std::size_t k = 0; k < a.branches.size(); ++k) {
        EXPECT_EQ(a.branches[k].ys, b.branches[k].ys) << k;
        EXPECT_EQ(a.branches[k].tap, b.branches[k].tap) << k;
        EXPECT_EQ(a.branches[k].shift, b.branches[k].shift) << k;
    }
}

} // namespace

TEST(RawEdges, AWindingRatioOfZeroReadsAsOne)
{
    // Transformer 3-4's WINDV1 (line 30), CW 1: 0 is read as 1.
    const std::string zero = replaced(six_bus(), "0.97800,  0.000,   0.000", "0.00000,  0.000,   0.000");
    const RawCase raw = parse(zero);
    EXPECT_EQ(raw.notes, std::vector<std::string>{"t.raw:30: transformer 3-4-1: WINDV1 = 0 is read as 1 (a winding "
                                                  "ratio of 1)"});
    EXPECT_EQ(raw.transformers.at(0).windings[0].windv, 1.0);
    expect_same_branches(build_network(raw),
                         build_network(parse(replaced(six_bus(), "0.97800,  0.000,", "1.00000,  0.000,"))));
    // With CW 2 WINDV is in kV: 0 reads as the bus's base voltage.
    const std::string kv = replaced(zero, "'1 ',1,1,1, 0.00000", "'1 ',2,1,1, 0.00000");
    EXPECT_EQ(parse(kv).notes, std::vector<std::string>{"t.raw:30: transformer 3-4-1: WINDV1 = 0 is read as 138 kV, "
                                                        "the bus's base voltage (a winding ratio of 1)"});
    // A negative ratio is still refused.
    EXPECT_EQ(
        input_error_of([&] { build_network(parse(replaced(six_bus(), "0.97800,  0.000,", "-0.97800,  0.000,"))); }),
        "t.raw:28: transformer 3-4-1 has a winding ratio that is not positive");
}

TEST(RawEdges, AMissingImpedanceCorrectionTableIsIgnored)
{
    // TAB1 = 7 on transformer 3-4, and no impedance correction data.
    const RawCase raw = parse(replaced(six_bus(), "  33, 0, 0.00000", "  33, 7, 0.00000"));
    EXPECT_EQ(raw.notes, std::vector<std::string>{"t.raw:28: transformer 3-4-1 winding 1 names impedance correction "
                                                  "table 7, which is not in the impedance correction data; its "
                                                  "impedance is not corrected"});
    EXPECT_EQ(raw.transformers.at(0).windings[0].tab, 0);
    expect_same_branches(build_network(raw), build_network(parse(six_bus())));
}

TEST(RawEdges, ARectifierAngleLimitOfNinetyDegreesIsAccepted)
{
    const std::string lcc = "'L1', 1, 5.0, 50.0, 400.0, 300.0, 0.0, 0.1, 'I', 0.0, 20, 1.0\n"
                            "3, 2, 90.0, 10.0, 0.0, 5.0, 138.0, 0.8, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n"
                            "5, 2, 25.0, 18.0, 0.0, 5.0, 69.0, 1.6, 1.0, 1.2, 0.8, 0.01, 0, 0, 0, '1', 0.0\n";
    const auto with = [](const std::string &record) {
        return parse(
            replaced(six_bus(), "0 / END OF TWO-TERMINAL DC DATA", record + "0 / END OF TWO-TERMINAL DC DATA"));
    };
    const Network net = build_network(with(lcc));
    ASSERT_EQ(net.lcc.size(), 1U);
    EXPECT_EQ(net.lcc[0].d.rectifier.anmx_deg, 90.0);
    const BaseCase bc = solve_base_case(net, PfOptions{});
    EXPECT_TRUE(bc.sol.converged) << bc.sol.failure;
    // Beyond 90 degrees, or ANMN at 90, it is refused.
    const std::string refused = "t.raw:39: two-terminal DC line 'L1': rectifier angle limits ANMX and ANMN must lie in "
                                "0..90 degrees, ANMN below 90";
    EXPECT_EQ(input_error_of([&] { build_network(with(replaced(lcc, "3, 2, 90.0, 10.0", "3, 2, 90.5, 10.0"))); }),
              refused);
    EXPECT_EQ(input_error_of([&] { build_network(with(replaced(lcc, "3, 2, 90.0, 10.0", "3, 2, 90.0, 90.0"))); }),
              refused);
}
