// What the solver and ctgreport echo of their input: control bytes and bytes
// that are not UTF-8 shown as \xNN, valid text left alone, in messages, in
// result files and in the report.

#include "io/input_error.h"
#include "io/printable.h"
#include "report/report.h"
#include "report/summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// Whether the text holds a byte below 0x20 other than a line end, or DEL.
bool has_control(const std::string &s)
{
    return std::any_of(s.begin(), s.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\n') || b == 0x7f;
    });
}

} // namespace

TEST(Printable, EscapesControlsAndWhatIsNotUtf8)
{
    struct Case {
        const char *what;
        std::string in, out;
    };
    const std::vector<Case> cases = {
        {"plain ASCII", "BR_1_2 ckt '1', 3.5 / x", "BR_1_2 ckt '1', 3.5 / x"},
        {"empty", "", ""},
        {"an ESC sequence", "a\x1b[2Jb", "a\\x1b[2Jb"},
        {"NUL, tab, CR, LF", std::string("a\0b\tc\rd\n", 8), "a\\x00b\\x09c\\x0dd\\x0a"},
        {"DEL", "x\x7f", "x\\x7f"},
        {"two- to four-byte UTF-8", "é € 𝄞 \xef\xbf\xbf", "é € 𝄞 \xef\xbf\xbf"},
        {"a C1 control in UTF-8 (CSI)",
         "a\xc2\x9b"
         "2Jb\xc2\xa0",
         "a\\xc2\\x9b2Jb\xc2\xa0"},
        {"a byte that starts nothing",
         "a\xff"
         "b\xc0\xaf",
         "a\\xffb\\xc0\\xaf"},
        {"a lone continuation byte", "\x80x", "\\x80x"},
        {"a sequence cut short at the end", "a\xe2\x82", "a\\xe2\\x82"},
        {"a sequence cut short by ASCII",
         "\xe2\x82"
         "A\xf0\x9d\x84",
         "\\xe2\\x82A\\xf0\\x9d\\x84"},
        {"overlong forms", "\xe0\x80\xaf\xf0\x80\x80\xaf", "\\xe0\\x80\\xaf\\xf0\\x80\\x80\\xaf"},
        {"a surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"a backslash stays", "a\\x1b\\", "a\\x1b\\"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(printable(c.in), c.out);
        EXPECT_EQ(printable(c.out), c.out) << "printable twice";
    }
}

TEST(Printable, ErrorMessagesShowFileAndMessagePrintable)
{
    EXPECT_EQ(where_what(InputError("dir\x1b]0;x\x07/case.raw", 8, "not a number: '9\x1b[31m0\xff'")),
              "dir\\x1b]0;x\\x07/case.raw:8: not a number: '9\\x1b[31m0\\xff'");
    EXPECT_EQ(where_what(InputError("café.raw", 0, "bus 'Zürich'")), "café.raw: bus 'Zürich'");
}

// Results written raw by some other solver: the report files and the
// console summary still hold no control byte.
TEST(Printable, ReportAndSummaryHoldNoControlBytes)
{
    std::vector<std::string> f(results_columns.size());
    f[0] = "1";
    f[1] = "\x1b[31mred\xff";
    f[2] = "diverged";
    f[3] = "7";
    f[13] = "2\x1b[0m";
    f[14] = "12.5";
    f[16] = "no\x07te";
    Report rep;
    rep.ranks = 1;
    rep.blocks.resize(1);
    rep.rows.resize(1);
    rep.rows[0].rank = 0;
    rep.rows[0].index = 1;
    rep.rows[0].fields = f;
    rep.violations = {{"1", f[1], "overload", "1-2-\x01", "2", "1"}};
    const std::string text = summary(rep);
    for (const std::string &out : {text, report_csv(rep), violations_csv(rep)}) {
        EXPECT_FALSE(has_control(out)) << out;
    }
    EXPECT_NE(text.find("\n  \\x1b[31mred\\xff           7  no\\x07te\n"), std::string::npos) << text;
    EXPECT_NE(text.find("12.50 MW by \\x1b[31mred\\xff (2\\x1b[0m buses cut off)"), std::string::npos) << text;
}
