// Runs the built fieldsmith-batch as a user would, in a shell, with its configuration
// directory set: what it printed, what it said on standard error, and its exit status.
#pragma once

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace fieldsmith::test {

struct BatchResult {
    std::string out, err;
    int status = -1;
};

//! args is shell text (quote what needs it); standard error goes through a file in home.
inline BatchResult runBatchProgram(const std::string& program, const std::filesystem::path& home,
                                   const std::string& args) {
    const std::string errFile = (home / "stderr.txt").string();
    const std::string command =
        "FIELDSMITH_HOME='" + home.string() + "' '" + program + "' " + args + " 2>'" + errFile + "'";
    BatchResult r;
    FILE* p = ::popen(command.c_str(), "r");
    std::array<char, 4096> buf{};
    for (std::size_t n; p && (n = std::fread(buf.data(), 1, buf.size(), p)) > 0;) r.out.append(buf.data(), n);
    const int rc = p ? ::pclose(p) : -1;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::ifstream e(errFile);
    r.err.assign(std::istreambuf_iterator<char>(e), {});
    return r;
}

} // namespace fieldsmith::test
