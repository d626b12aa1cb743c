#include "StandardInputLines.hpp"

#include <glib-unix.h>

#include <cerrno>
#include <unistd.h>

namespace wheelbox {
namespace {

constexpr std::size_t chunkBytes = 64 * 1024;

} // namespace

StandardInputLines::StandardInputLines(GMainContext *context, int descriptor, Handlers handlers)
    : context_(context), descriptor_(descriptor), handlers_(std::move(handlers))
{
    watch();
}

StandardInputLines::~StandardInputLines()
{
    unwatch();
}

void StandardInputLines::watch()
{
    if (source_ || inputEnded_ || stopped_)
        return;
    source_.reset(
        g_unix_fd_source_new(descriptor_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR)));
    g_source_set_callback(source_.get(), G_SOURCE_FUNC(&StandardInputLines::readable), this, nullptr);
    g_source_attach(source_.get(), context_);
}

void StandardInputLines::unwatch()
{
    source_.reset();
}

gboolean StandardInputLines::readable(gint, GIOCondition, gpointer self)
{
    static_cast<StandardInputLines *>(self)->readChunk();
    // The source stays only while it is still ours: a held or ended input has removed it.
    return G_SOURCE_CONTINUE;
}

void StandardInputLines::readChunk()
{
    char chunk[chunkBytes];
    // One read per readiness report never blocks, whatever the descriptor's flags.
    ssize_t count = ::read(descriptor_, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        inputEnded_ = true;
        unwatch();
    } else {
        buffer_.append(chunk, static_cast<std::size_t>(count));
    }
    deliver();
}

void StandardInputLines::deliver()
{
    std::size_t start = 0;
    while (!held_ && !stopped_) {
        auto end = buffer_.find('\n', start);
        if (end == std::string::npos) {
            if (!inputEnded_ || start == buffer_.size())
                break;
            end = buffer_.size(); // the last line, without a line break
        }
        std::string_view line(buffer_.data() + start, end - start);
        start = std::min(end + 1, buffer_.size());
        ++lineNumber_;
        if (skippingOverlong_) {
            skippingOverlong_ = false; // the rest of a line already reported
            continue;
        }
        if (line.size() > maximumLineBytes) {
            handlers_.overlong(lineNumber_);
            continue;
        }
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (handlers_.line(line, lineNumber_) == Flow::hold)
            held_ = true;
    }
    buffer_.erase(0, start);

    if (!skippingOverlong_ && buffer_.size() > maximumLineBytes && buffer_.find('\n') == std::string::npos) {
        skippingOverlong_ = true;
        handlers_.overlong(lineNumber_ + 1);
    }
    if (skippingOverlong_ && buffer_.find('\n') == std::string::npos)
        buffer_.clear();

    if (held_ || stopped_) {
        unwatch();
        return;
    }
    if (inputEnded_) {
        stopped_ = true;
        handlers_.end();
        return;
    }
    watch();
}

void StandardInputLines::resume()
{
    if (!held_ || stopped_)
        return;
    held_ = false;
    deliver();
}

void StandardInputLines::stop()
{
    stopped_ = true;
    unwatch();
}

} // namespace wheelbox
