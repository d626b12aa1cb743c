#pragma once

#include "lib/glib/GLibPointers.hpp"

#include <glib.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace wheelbox {

// Lines of a file descriptor (standard input), read on a GLib main context while it runs, without
// a thread and without changing the descriptor's flags (it may be shared with a terminal). Each
// line goes to the handler without its line break; the handler may hold the lines that follow
// until resume(). A last line without a line break counts as a line. Main thread only.
class StandardInputLines {
  public:
    enum class Flow { more, hold };

    struct Handlers {
        // Lines are numbered from 1.
        std::function<Flow(std::string_view line, std::size_t number)> line;
        // Input ended (or failed to read): called once, after the last line.
        std::function<void()> end;
        // A line longer than maximumLineBytes, skipped.
        std::function<void(std::size_t number)> overlong;
    };

    // Far above any message body the bridge accepts, so the bridge's own limit is what a test
    // meets; it only bounds what one line can make the console hold in memory.
    static constexpr std::size_t maximumLineBytes = 1 << 20;

    StandardInputLines(GMainContext *context, int descriptor, Handlers handlers);
    ~StandardInputLines();
    StandardInputLines(const StandardInputLines &) = delete;
    StandardInputLines &operator=(const StandardInputLines &) = delete;

    // Delivers the held lines, then reads on.
    void resume();
    // Stops for good: no more lines, and no end.
    void stop();

  private:
    static gboolean readable(gint descriptor, GIOCondition condition, gpointer self);
    void readChunk();
    void deliver();
    void watch();
    void unwatch();

    GMainContext *context_;
    int descriptor_;
    Handlers handlers_;
    glib::SourcePtr source_;
    std::string buffer_;
    std::size_t lineNumber_ = 0;
    bool skippingOverlong_ = false;
    bool inputEnded_ = false;
    bool held_ = false;
    bool stopped_ = false;
};

} // namespace wheelbox
