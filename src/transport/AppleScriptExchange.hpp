#pragma once

#include "transport/ChildProcess.hpp"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace wheelbox::AppleScript {

// Far beyond any answer of the players (the longest holds 200 track identifiers).
inline constexpr std::size_t outputLimit = 16 << 20;

struct Exchange {
    enum class Outcome {
        ended,
        timedOut,
        sendFailed,
        // The child ended with more output than the limit; what it wrote is cut.
        overflowed,
    };
    Outcome outcome = Outcome::ended;
    std::string output;
    std::string error;
};

// Feeds the script to the child and collects its output until it ends or the deadline passes. The
// output is read while the child runs, so a long answer can never stall it on a full pipe, and once
// it has ended what remains is read without waiting for end of file, which a background process it
// left behind could hold off indefinitely. Output and error together never hold more than
// outputLimit bytes. Throws std::bad_alloc.
Exchange exchange(ChildProcess::Spawned &child, std::string_view input,
                  std::chrono::steady_clock::time_point deadline);

// Writes the whole script for a started script, which has no output to collect, and closes its
// input. False when the child stopped reading or the deadline passed.
bool send(FileDescriptor &input, std::string_view text, std::chrono::steady_clock::time_point deadline);

} // namespace wheelbox::AppleScript
