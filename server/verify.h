// Verifying a run: the shipped program's `--verify` in a child process that cannot hurt the
// service, and its lines read into a verdict. A board time is exactly what --verify printed.
#pragma once

#include <string>
#include <vector>

#include "server/store.h"

namespace board {

struct VerifierConfig {
    std::string program;           // the vornackle program that verifies
    std::string sheet;             // its sprite sheet, when it has none beside it ("" = its own)
    std::string scratch = "/tmp";  // where each verification gets a folder of its own
    int cpu_seconds = 20;          // processor time (the bot's two-minute game takes 0.2 s)
    int wall_seconds = 30;         // wall-clock time, then the child's process group is killed
    long memory_bytes = 1L << 30;  // address space
    int open_files = 32;
    long written_bytes = 1L << 20;  // bytes the child may write to any file
    long output_bytes = 64 * 1024;  // bytes read from its stdout and stderr (more: refused)
};

// What came of one verification. `machine` means it could not be carried out, through no
// fault of the run (the program missing, no processes left, the verifier's own exit code 3
// or 4): the claim is given back, not judged.
struct Outcome {
    bool machine = false;
    Verdict verdict;
    std::string detail;  // for the service's log when machine is set
};

// Runs the verifier on `bytes` under the limits, with no network.
Outcome verify_run(const VerifierConfig &config, const std::string &version,
                   const std::string &bytes);

// The program's version as --version prints it ("vornackle 1.0.0" gives "1.0.0"), also in a
// limited child; empty when it cannot be run.
std::string verifier_version(const VerifierConfig &config);

// Reads --verify's stdout and exit: the fastest completed game's total (the "fastest total"
// line) and that game's per-level times (each level's attempts added, so they sum to the
// total). `code` is the exit status; `last_error` its last stderr line.
Verdict read_verdict(const std::string &out, int code, const std::string &last_error,
                     const std::string &version);

}  // namespace board
