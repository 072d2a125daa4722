// What the fresh-process benchmarks share: the clock, running this program again as a child, the
// median, and a temporary folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The processor time of this process in nanoseconds (user and system, page faults included, every
// thread): on a machine busy with other work a wall clock mostly measures the waits for a core.
int64_t FreshProcessNanoseconds();
// Runs the command (this program again) and returns the first number it printed, or -1 when it
// failed.
int64_t RunFreshChild(const std::string& strCommand);
// The median of the times in milliseconds.
double FreshMedianMs(std::vector<int64_t> v);
// The path of this program, or "" when it cannot be had.
std::string FreshSelfPath();
// A new empty folder under the system's temporary folder, named after pszStem, or "".
std::string FreshTempFolder(const char* pszStem);
