#include "lib/glib/AsyncWait.hpp"

#include <algorithm>

namespace wheelbox::glib {

AsyncWait::AsyncWait(std::chrono::steady_clock::time_point deadline)
    : deadline_(deadline), context_(g_main_context_new()), cancellable_(g_cancellable_new())
{
    g_main_context_push_thread_default(context_.get());
}

AsyncWait::~AsyncWait()
{
    g_main_context_pop_thread_default(context_.get());
}

void AsyncWait::ready(GObject *, GAsyncResult *result, gpointer self) noexcept
{
    static_cast<AsyncWait *>(self)->result_.reset(G_ASYNC_RESULT(g_object_ref(result)));
}

GAsyncResult *AsyncWait::wait()
{
    bool expired = false;
    auto left =
        std::max(deadline_ - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
    auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    SourcePtr timer(
        g_timeout_source_new(static_cast<guint>(std::min<decltype(milliseconds)>(milliseconds, G_MAXUINT))));
    g_source_set_callback(
        timer.get(),
        [](gpointer flag) {
            *static_cast<bool *>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &expired, nullptr);
    g_source_attach(timer.get(), context_.get());
    while (!result_ && !expired)
        g_main_context_iteration(context_.get(), TRUE);
    if (!result_) {
        timedOut_ = true;
        g_cancellable_cancel(cancellable_.get());
        while (!result_)
            g_main_context_iteration(context_.get(), TRUE);
    }
    return result_.get();
}

} // namespace wheelbox::glib
