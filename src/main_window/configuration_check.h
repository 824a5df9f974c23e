#pragma once
// The configuration check: the configuration read as a start reads it (the same files, the same
// defaults) and every folder the cycle needs looked at, one line each, with the verdict whether
// the program would convert result files now. It needs no window and writes nothing: no
// per-user folder, no log, no configuration file. In the transfer folder it makes a probe file
// under the program's own temporary name and removes it at once, and it makes the lock file
// there when it is missing, as every start does.

#include <string>
#include <vector>

namespace kelvad {

struct check_report {
    // Each line begins with its mark: "ok    ", "FAIL  " or six blanks for a plain statement.
    std::vector<std::string> lines;
    int problems = 0;  // lines marked FAIL
    bool would_convert() const { return problems == 0; }
};

check_report check_configuration();

// The transfer folder as the start-up composes it from orvel_scanner.ini, without a separator
// at its end; "(none)" when none is configured. Raises kelvad_error for a file that cannot be
// read, as the start-up does.
std::string configured_transfer_folder();

}  // namespace kelvad
