// Many ranks, long lists and long lines, each checked block for block.

#include "harness.h"

using Scale = RunLayout;

TEST_F(Scale, ThirtyTwoRanksOnAFewCores)
{
    REQUIRE_REAL_LISTS();
    std::string list = real_list("list377_crlf.con");
    write_list(list);
    run(32);
    expect_ranks_started(32);
    expect_split_as_model(list, 32);
}

TEST_F(Scale, HundredThousandContingencies)
{
    std::string list = "title\n";
    for (int i = 0; i < 100000; ++i) {
        list += "CONTINGENCY CTG_" + std::to_string(i) + "\r\nOPEN BRANCH FROM BUS " + std::to_string(i % 977) +
                " TO BUS " + std::to_string(i % 1013) + " CIRCUIT 1\r\nEND\r\n";
    }
    list += "END\r\n";
    write_list(list);
    run(3);
    expect_ranks_started(3);
    expect_split_as_model(list, 3);
}

TEST_F(Scale, TenMebibyteLine)
{
    std::string huge(10 << 20, 'x');
    huge.replace(huge.size() / 2, 11, "CONTINGENCY");
    std::string list = "CONTINGENCY A\nOPEN\nEND\n" + huge + "\n" + huge + "\nEND\nCONTINGENCY C\n";
    write_list(list);
    run(2);
    expect_ranks_started(2);
    expect_split_as_model(list, 2);
}
