// A benchmark program's main that, after every case has run, prints each goal as the ratio of
// a case's time to its baseline's, both measured in this same run (absolute times vary from
// machine to machine and with the load; ratios hold). One line per ratio:
//
//   RATIO <label> cpu=<x> real=<y> goal=<g> <met|MISSED>
//
// cpu compares CPU time (the process's own work, unaffected by other processes waiting for the
// processor), real compares wall-clock time (or the time a case measured itself); the goal is
// judged on the one the ratio names. With repetitions, each side is its median; the repetitions
// of all cases are interleaved at random unless the command line sets
// --benchmark_enable_random_interleaving itself.
#pragma once

#include <initializer_list>

namespace bench {

struct Ratio {
    const char* label;
    const char* subject;   // the case's function name, e.g. "BM_InvokeValuePut"
    const char* baseline;  // the baseline's
    double goal;           // the ratio not to exceed
    // Which time the goal is judged on: CPU time, or wall-clock time (for cases that time
    // other processes, whose CPU time is not this process's).
    enum Judge { kCpu, kReal } judge = kCpu;
};

int MainWithRatios(int argc, char** argv, std::initializer_list<Ratio> ratios);

}  // namespace bench
