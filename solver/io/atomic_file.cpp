#include "io/atomic_file.h"

#include "io/input_error.h"

#include <cstdio>
#include <fstream>
#include <unistd.h>

void write_file_atomically(const std::string &path, const std::string &text)
{
    // rename(2) within one file system replaces the target in one step.
    const std::string tmp = path + ".tmp." + std::to_string(::getpid());
    bool ok = false;
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (out.is_open()) {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
            out.close();
            ok = !out.fail();
        }
    }
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw InputError(path, 0, "can not write the file");
    }
}
