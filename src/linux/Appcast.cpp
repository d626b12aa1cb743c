#include "linux/Appcast.hpp"

#include "lib/glib/GLibPointers.hpp"

#include <glib.h>

#include <algorithm>
#include <cstring>

namespace wheelbox {
namespace {

// Walks the feed with GLib's markup parser: an element's text goes to the innermost field being
// collected, and each finished <item> with a version becomes a release.
struct FeedReader {
    std::vector<AppcastRelease> releases;
    std::vector<std::string> path;
    bool sawChannel = false;
    std::optional<AppcastRelease> item;
    std::string text;

    static void start(GMarkupParseContext *, const gchar *name, const gchar **attributes,
                      const gchar **values, gpointer data, GError **)
    {
        auto *self = static_cast<FeedReader *>(data);
        self->path.emplace_back(name);
        self->text.clear();
        std::string_view element = name;
        if (element == "channel")
            self->sawChannel = true;
        if (element == "item" && !self->item)
            self->item.emplace();
        if (element == "enclosure" && self->item) {
            for (int index = 0; attributes[index]; ++index) {
                std::string_view attribute = attributes[index];
                if (attribute == "sparkle:version" && self->item->version.empty())
                    self->item->version = values[index];
                else if (attribute == "sparkle:shortVersionString" && !self->item->shortVersion)
                    self->item->shortVersion = values[index];
                else if (attribute == "url" && !self->item->link)
                    self->item->link = values[index];
            }
        }
    }

    static void end(GMarkupParseContext *, const gchar *name, gpointer data, GError **)
    {
        auto *self = static_cast<FeedReader *>(data);
        std::string_view element = name;
        std::string value = trimmed(self->text);
        self->text.clear();
        if (self->item && self->path.size() >= 2 && self->path[self->path.size() - 2] == "item" &&
            !value.empty()) {
            if (element == "sparkle:version")
                self->item->version = value;
            else if (element == "sparkle:shortVersionString")
                self->item->shortVersion = value;
            else if (element == "title")
                self->item->title = value;
            else if (element == "link" || element == "sparkle:releaseNotesLink")
                self->item->link = value;
        }
        if (element == "item" && self->item) {
            if (!self->item->version.empty())
                self->releases.push_back(std::move(*self->item));
            self->item.reset();
        }
        if (!self->path.empty())
            self->path.pop_back();
    }

    static void textIn(GMarkupParseContext *, const gchar *text, gsize length, gpointer data, GError **)
    {
        auto *self = static_cast<FeedReader *>(data);
        self->text.append(text, length);
    }

    static std::string trimmed(const std::string &text)
    {
        auto first = text.find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            return {};
        auto last = text.find_last_not_of(" \t\r\n");
        return text.substr(first, last - first + 1);
    }
};

bool isDigit(char character)
{
    return character >= '0' && character <= '9';
}

// The next run of digits or of other characters, dots skipped.
std::string_view nextPart(std::string_view &text)
{
    while (!text.empty() && text.front() == '.')
        text.remove_prefix(1);
    if (text.empty())
        return {};
    bool digits = isDigit(text.front());
    std::size_t length = 1;
    while (length < text.size() && text[length] != '.' && isDigit(text[length]) == digits)
        ++length;
    auto part = text.substr(0, length);
    text.remove_prefix(length);
    return part;
}

} // namespace

std::vector<AppcastRelease> parseAppcast(std::string_view xml)
{
    FeedReader reader;
    GMarkupParser parser{&FeedReader::start, &FeedReader::end, &FeedReader::textIn, nullptr, nullptr};
    // The XML declaration and comments are passed over; the parser knows no DTD, so no entity can
    // expand into anything large.
    GMarkupParseContext *context =
        g_markup_parse_context_new(&parser, G_MARKUP_TREAT_CDATA_AS_TEXT, &reader, nullptr);
    GError *error = nullptr;
    bool parsed =
        g_markup_parse_context_parse(context, xml.data(), static_cast<gssize>(xml.size()), &error) &&
        g_markup_parse_context_end_parse(context, &error);
    g_markup_parse_context_free(context);
    if (!parsed) {
        glib::ErrorPtr owned(error);
        throw AppcastError(std::string("The update feed is not well-formed: ") +
                           (owned && owned->message ? owned->message : "unreadable"));
    }
    if (!reader.sawChannel)
        throw AppcastError("The update feed holds no channel.");
    return std::move(reader.releases);
}

std::optional<AppcastRelease> newestRelease(const std::vector<AppcastRelease> &releases)
{
    const AppcastRelease *newest = nullptr;
    for (const auto &release : releases) {
        if (!newest || compareVersions(release.displayVersion(), newest->displayVersion()) > 0)
            newest = &release;
    }
    if (!newest)
        return std::nullopt;
    return *newest;
}

int compareVersions(std::string_view left, std::string_view right)
{
    while (true) {
        auto a = nextPart(left);
        auto b = nextPart(right);
        if (a.empty() || b.empty()) {
            if (a.empty() && b.empty())
                return 0;
            // More parts make a later version ("1.0.1"), unless they start with text ("2.0b1").
            int longer = a.empty() ? -1 : 1;
            return isDigit((a.empty() ? b : a).front()) ? longer : -longer;
        }
        bool numbers = isDigit(a.front()) && isDigit(b.front());
        if (numbers) {
            // As numbers of any length: without leading zeros, the longer is the larger.
            a.remove_prefix(std::min(a.find_first_not_of('0'), a.size() - 1));
            b.remove_prefix(std::min(b.find_first_not_of('0'), b.size() - 1));
            if (a.size() != b.size())
                return a.size() < b.size() ? -1 : 1;
        } else if (isDigit(a.front()) != isDigit(b.front())) {
            // "1.0.1" is after "1.0b": a number outranks text in the same place.
            return isDigit(a.front()) ? 1 : -1;
        }
        if (int order = a.compare(b); order != 0)
            return order < 0 ? -1 : 1;
    }
}

} // namespace wheelbox
