// The process runner behind `call`: starts a child with its standard streams fed from
// bytes or a file, captured into bytes or appended to a file, waits for it and answers its
// exit status.
//
// All of a child's pipes are served together by one poll loop, so no order in which the
// child reads and writes (a child that floods its error stream before reading its input,
// say) can stall the runner or the child.
//
// A command runs directly (split into words at blanks, double quotes grouping) or through
// /bin/sh -c in shell mode; a command that cannot be found directly is tried once more
// through the shell.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zor::process_runner {

struct input_spec {
    enum kind_t { INHERIT, BYTES, FILE } kind = INHERIT;
    std::vector<uint8_t> bytes;  // BYTES: what the child reads
    std::string path;            // FILE: the file it reads
};

struct output_spec {
    enum kind_t { NONE, CAPTURE, FILE } kind = NONE;
    std::string path;               // FILE: appended to
    std::vector<uint8_t> captured;  // CAPTURE: what the child wrote
};

struct request {
    std::string command;
    bool wait = false;
    bool console = false;  // streams without a spec are the parent's (else the null device)
    bool shell = false;
    input_spec input;
    output_spec output;
    output_spec error;
};

enum failure : int64_t {
    FAILED = -1,                  // the child could not be started (or a pipe not made)
    OUTPUT_FILE_FAILED = -2,      // the output file could not be opened
    ERROR_FILE_FAILED = -3,       // the error file could not be opened
};

// Runs the request: answers the exit status (128 + the signal for a child killed by one)
// when it waited, the child's process id when it did not, or a failure code. Any spec
// other than INHERIT/NONE makes it wait. Children not waited for are reaped by later runs.
int64_t run(request& r);

}  // namespace zor::process_runner
