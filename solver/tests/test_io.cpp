// The shared input and output: whole-file reads and their messages, CSV
// fields both ways, and writes that replace a file in one step.

#include "helpers.h"
#include "io/atomic_file.h"
#include "io/csv.h"
#include "io/input_error.h"
#include "io/text_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A fresh empty folder under the test's temporary directory.
std::string fresh_dir(const std::string &name)
{
    const fs::path dir = fs::path(::testing::TempDir()) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir.string();
}

std::string read_error(const std::string &path)
{
    return input_error_of([&] { read_text_file(path); });
}

} // namespace

TEST(TextFile, ReadsEveryByteAndNamesTheFileItCanNotRead)
{
    const std::string dir = fresh_dir("io_text_file");
    // NUL, CR LF and a last line without its end survive as they are, and a
    // file larger than one read chunk is read whole.
    std::string text("a\0b\r\nlast", 9);
    text += std::string(70000, 'x');
    write_file(dir + "/data", text);
    EXPECT_EQ(read_text_file(dir + "/data"), text);
    write_file(dir + "/empty", "");
    EXPECT_EQ(read_text_file(dir + "/empty"), "");

    EXPECT_EQ(read_error(dir + "/missing"), dir + "/missing: can not open the file");
    EXPECT_EQ(read_error(dir), dir + ": can not read the file: it is a directory");
    std::istringstream in("from a stream");
    EXPECT_EQ(read_stream(in, "s"), "from a stream");
}

TEST(Csv, FieldsReadBackAsWritten)
{
    // Each text is written as one field and must read back the same; the
    // quotes appear only where a reader needs them.
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain", "plain"},     {"", ""},
        {"a,b", "\"a,b\""},     {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {" edge", "\" edge\""}, {"edge ", "\"edge \""},
        {"in side", "in side"},
    };
    std::vector<std::string> fields;
    for (const auto &[text, written] : cases) {
        EXPECT_EQ(csv_text(text), written) << text;
        ASSERT_TRUE(csv_fields(csv_text(text) + "," + csv_text(text), fields)) << text;
        EXPECT_EQ(fields, (std::vector<std::string>{text, text})) << text;
    }
    // A line end can not break a record: it is written escaped.
    EXPECT_EQ(csv_text("two\nlines"), "two\\x0alines");

    ASSERT_TRUE(csv_fields("1,,x,", fields));
    EXPECT_EQ(fields, (std::vector<std::string>{"1", "", "x", ""}));
    EXPECT_FALSE(csv_fields("\"open", fields)) << "a quote left open";
    EXPECT_FALSE(csv_fields("\"q\"x,1", fields)) << "text after a closing quote";
}

TEST(AtomicFile, ReplacesTheFileWholeAndLeavesNothingOnFailure)
{
    const std::string dir = fresh_dir("io_atomic_file");
    const std::string path = dir + "/out.csv";
    write_file(path, "old contents, longer than the new\n");
    write_file_atomically(path, "new\n");
    EXPECT_EQ(read_file(path), "new\n");

    // A target whose folder does not exist: an InputError naming it, and no
    // temporary file left behind.
    const std::string bad = dir + "/no/such/folder/out.csv";
    EXPECT_EQ(input_error_of([&] { write_file_atomically(bad, "x"); }), bad + ": can not write the file");
    // A directory in the way of the rename: the temporary file is removed.
    fs::create_directory(dir + "/taken");
    fs::create_directory(dir + "/taken/inside");
    EXPECT_THROW(write_file_atomically(dir + "/taken", "x"), InputError);
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out.csv", "taken"}));
}
