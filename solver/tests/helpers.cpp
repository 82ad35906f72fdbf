#include "helpers.h"

#include "io/csv.h"
#include "io/input_error.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    ASSERT_FALSE(out.fail()) << "can not write " << path;
}

std::string replaced(std::string text, const std::string &from, const std::string &to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::vector<std::vector<std::string>> csv_rows(const std::string &text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> fields;
    while (std::getline(in, line)) {
        EXPECT_TRUE(csv_fields(line, fields)) << "not a CSV record: " << line;
        rows.push_back(fields);
    }
    return rows;
}

std::vector<std::vector<std::string>> read_csv(const std::string &path) { return csv_rows(read_file(path)); }

std::string input_error_of(const std::function<void()> &f)
{
    try {
        f();
    } catch (const InputError &e) {
        return where_what(e);
    }
    return "";
}
