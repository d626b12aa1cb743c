#include "lib/glib/StringVariant.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <memory>

namespace wheelbox::glib {

GVariant *takeStringVariant(std::string text)
{
    // g_utf8_validate_len refuses NUL within the length, and g_utf8_make_valid replaces it.
    if (!g_utf8_validate_len(text.data(), text.size(), nullptr))
        text = CharPtr(g_utf8_make_valid(text.data(), gssize(text.size()))).get();
    auto owned = std::make_unique<std::string>(std::move(text));
    // The serialised form of a string is its bytes and the terminating NUL std::string keeps.
    GBytes *bytes = g_bytes_new_with_free_func(
        owned->data(), owned->size() + 1, [](gpointer data) { delete static_cast<std::string *>(data); },
        owned.get());
    owned.release();
    GVariant *variant = g_variant_new_from_bytes(G_VARIANT_TYPE_STRING, bytes, TRUE);
    g_bytes_unref(bytes);
    return variant;
}

} // namespace wheelbox::glib
