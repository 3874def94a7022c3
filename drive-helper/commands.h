#pragma once

#include <string>
#include <vector>

namespace ostrel::drive::helper {

// The program's arguments without its path; the first is the command word.
using Arguments = std::vector<std::string>;

// Runs the command the arguments name and returns the exit status; a failure
// prints its object and ends the process with status 1 itself.
int runCommand(const Arguments& args);

int cmdRegister(const Arguments& args);
int cmdRemove(const Arguments& args);
int cmdList(const Arguments& args);
// Never returns: the process ends when standard input does.
[[noreturn]] void cmdServe(const Arguments& args);

}  // namespace ostrel::drive::helper
