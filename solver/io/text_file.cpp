#include "io/text_file.h"

#include "io/input_error.h"

#include <array>
#include <cstddef>
#include <filesystem>
#include <fstream>

std::string read_stream(std::istream &in, const std::string &file)
{
    // Chunks of 64 KiB until a short read; badbit (not eof or failbit) is an
    // I/O error.
    std::string text;
    std::array<char, 65536> chunk{};
    while (in.read(chunk.data(), chunk.size()) || in.gcount() > 0) {
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        throw InputError(file, 0, "can not read the file");
    }
    return text;
}

std::string read_text_file(const std::string &path)
{
    // A directory opens as a stream on Linux and only fails at the first
    // read, so it is told apart before opening.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        throw InputError(path, 0, "can not read the file: it is a directory");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        throw InputError(path, 0, "can not open the file");
    }
    return read_stream(in, path);
}
