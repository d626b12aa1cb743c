#pragma once

#include "lib/glib/GLibPointers.hpp"

#include <chrono>

namespace wheelbox::glib {

// Waits, with a deadline, for one asynchronous GIO call made on this thread. The call runs on a
// private main context that this object makes the thread's default while it lives, so nothing else
// is dispatched meanwhile. Start the call with cancellable(), ready and this object as its user
// data, then wait():
//
//     AsyncWait call(deadline);
//     g_dbus_connection_new_for_address(address, flags, nullptr, call.cancellable(), AsyncWait::ready,
//     &call); GAsyncResult *result = call.wait();
//     ... g_dbus_connection_new_for_address_finish(result, &error) ...
//
// At the deadline the call is cancelled and its completion still awaited, so no callback can reach
// a finished caller; its finish function then reports G_IO_ERROR_CANCELLED and timedOut() is true.
// Calls made one after another share the deadline: after each wait(), next() makes the object
// ready for the next call on the same context (one past the deadline fails at once, cancelled).
class AsyncWait {
  public:
    explicit AsyncWait(std::chrono::steady_clock::time_point deadline);
    ~AsyncWait();
    AsyncWait(const AsyncWait &) = delete;
    AsyncWait &operator=(const AsyncWait &) = delete;

    GCancellable *cancellable() const noexcept { return cancellable_.get(); }
    static void ready(GObject *source, GAsyncResult *result, gpointer self) noexcept;

    // The call's result, valid until next() or the end of this object.
    GAsyncResult *wait();
    void next() noexcept { result_.reset(); }
    bool timedOut() const noexcept { return timedOut_; }

  private:
    std::chrono::steady_clock::time_point deadline_;
    MainContextPtr context_;
    ObjectPtr<GCancellable> cancellable_;
    ObjectPtr<GAsyncResult> result_;
    bool timedOut_ = false;
};

} // namespace wheelbox::glib
