// Starting a program with a file: directly, never through a shell, detached from this
// process, with the result codes the open-with messages speak of.
#pragma once

#include <string>
#include <vector>

namespace fieldsmith::viewer {

//! Result codes of a start: above 32 success; 0 out of resources, 2 program not found,
//! 3 working directory not found, 5 access denied, 8 not enough memory, 11 not a program.
enum StartResult : int {
    kStartOutOfResources = 0,
    kStartFileNotFound = 2,
    kStartPathNotFound = 3,
    kStartAccessDenied = 5,
    kStartNoMemory = 8,
    kStartBadFormat = 11,
    kStartOk = 42,
};

//! Runs program (a path, or a name looked up in PATH) with arguments, each passed as it
//! is, in workingDirectory (the current one when empty), in a session of its own that
//! outlives this process. The result tells whether the program itself began to run.
int startProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& workingDirectory);

} // namespace fieldsmith::viewer
