#pragma once

namespace wheelbox::posix {

// Makes a write to a pipe or socket whose reader has gone fail with EPIPE instead of ending the
// program: libmpdclient sends without MSG_NOSIGNAL, so a server that hangs up mid-command would
// otherwise kill whoever was talking to it. Call first thing in main, before any thread starts.
// Children spawned by the program start with every signal at its default action, so they are not
// affected.
void ignoreBrokenPipes() noexcept;

} // namespace wheelbox::posix
