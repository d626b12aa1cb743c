#pragma once

#include <gio/gio.h>
#include <glib.h>

#include <memory>
#include <stdexcept>
#include <string>

// One owner per GLib handle.
namespace wheelbox::glib {

struct ObjectDeleter {
    void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
struct ErrorDeleter {
    void operator()(GError *error) const noexcept { g_error_free(error); }
};
struct VariantDeleter {
    void operator()(GVariant *variant) const noexcept { g_variant_unref(variant); }
};
struct FreeDeleter {
    void operator()(gpointer memory) const noexcept { g_free(memory); }
};
struct MainContextDeleter {
    void operator()(GMainContext *context) const noexcept { g_main_context_unref(context); }
};
struct MainLoopDeleter {
    void operator()(GMainLoop *loop) const noexcept { g_main_loop_unref(loop); }
};
// A source of ours: when we let go it stops firing as well, wherever it was attached.
struct SourceDeleter {
    void operator()(GSource *source) const noexcept
    {
        g_source_destroy(source);
        g_source_unref(source);
    }
};

template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectDeleter>;
using ErrorPtr = std::unique_ptr<GError, ErrorDeleter>;
using VariantPtr = std::unique_ptr<GVariant, VariantDeleter>;
using CharPtr = std::unique_ptr<gchar, FreeDeleter>;
using MainContextPtr = std::unique_ptr<GMainContext, MainContextDeleter>;
using MainLoopPtr = std::unique_ptr<GMainLoop, MainLoopDeleter>;
using SourcePtr = std::unique_ptr<GSource, SourceDeleter>;

// A GError turned into an exception, keeping its domain and code.
class GLibError : public std::runtime_error {
  public:
    explicit GLibError(const GError &error)
        : std::runtime_error(error.message ? error.message : "Unknown error"), domain_(error.domain),
          code_(error.code)
    {}

    GQuark domain() const noexcept { return domain_; }
    int code() const noexcept { return code_; }

  private:
    GQuark domain_;
    int code_;
};

// Throws GLibError when a call reported one, freeing it.
inline void throwIfError(GError *error)
{
    if (!error)
        return;
    ErrorPtr owned(error);
    throw GLibError(*owned);
}

} // namespace wheelbox::glib
