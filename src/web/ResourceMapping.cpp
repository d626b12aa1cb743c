#include "web/ResourceMapping.hpp"

#include "web/ResourceURL.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <utility>

namespace wheelbox {
namespace {

std::string lowerCased(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

WebResourceError urlError(WebResourceError::URLCode code)
{
    return WebResourceError::url(code);
}

// The path below velto://app/, decoded, without its leading slashes; nothing when the URL is not
// one of the firmware's or the path does not decode.
std::variant<std::string, WebResourceError> relativePath(const std::optional<std::string> &url,
                                                         const std::optional<std::string> &method)
{
    if (!url)
        return urlError(WebResourceError::badURL);
    if (method && *method != "GET")
        return urlError(WebResourceError::unsupportedURL);
    auto parsed = parseResourceURL(*url);
    if (!parsed)
        return urlError(WebResourceError::badURL);
    if (parsed->scheme != "velto" || !parsed->host || *parsed->host != "app")
        return urlError(WebResourceError::unsupportedURL);

    auto decoded = percentDecode(parsed->path);
    // A NUL would end the name early at the system call: refuse it rather than serve another file.
    if (!decoded || decoded->find('\0') != std::string::npos)
        return urlError(WebResourceError::badURL);
    decoded->erase(0, std::min(decoded->find_first_not_of('/'), decoded->size()));
    if (decoded->empty())
        return urlError(WebResourceError::badURL);
    return std::move(*decoded);
}

} // namespace

std::optional<ArtworkName> artworkRequestName(const std::optional<std::string> &url,
                                              const std::optional<std::string> &method)
{
    auto relative = relativePath(url, method);
    auto *path = std::get_if<std::string>(&relative);
    if (!path || !path->starts_with(artworkPathFolder))
        return std::nullopt;
    return parseArtworkName(std::string_view(*path).substr(artworkPathFolder.size()));
}

std::string_view mimeTypeForExtension(std::string_view extension) noexcept
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> types = {{
        {"html", "text/html"},
        {"css", "text/css"},
        {"js", "text/javascript"},
        {"json", "application/json"},
        {"svg", "image/svg+xml"},
        {"png", "image/png"},
        {"webp", "image/webp"},
        {"wav", "audio/wav"},
        {"mp3", "audio/mpeg"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
    }};
    for (const auto &[known, type] : types) {
        if (known == extension)
            return type;
    }
    return "application/octet-stream";
}

std::optional<std::string_view> textEncodingForExtension(std::string_view extension) noexcept
{
    for (std::string_view text : {"css", "html", "js", "json", "svg", "txt"}) {
        if (text == extension)
            return "utf-8";
    }
    return std::nullopt;
}

std::variant<ResourceFile, WebResourceError> mapResourceRequest(const std::filesystem::path &root,
                                                                const std::optional<std::string> &url,
                                                                const std::optional<std::string> &method)
{
    auto relativeOrError = relativePath(url, method);
    if (auto *error = std::get_if<WebResourceError>(&relativeOrError))
        return *error;
    const std::string &relative = std::get<std::string>(relativeOrError);

    // Links are resolved as far as the path exists, the rest is normalised by its text; so a ".."
    // after a link climbs from where the link leads, as the system would.
    std::error_code error;
    std::filesystem::path candidate =
        std::filesystem::weakly_canonical(root / relative, error).lexically_normal();
    if (error)
        return WebResourceError::fileSystem(error.value());
    // "css/.." normalises to "css/../" -> "<root>/": that names the root itself.
    if (candidate.has_relative_path() && !candidate.has_filename())
        candidate = candidate.parent_path();

    std::string prefix = root.native();
    if (!prefix.ends_with('/'))
        prefix += '/';
    if (!candidate.native().starts_with(prefix))
        return urlError(WebResourceError::noPermissionsToReadFile);

    struct stat status {};
    if (::stat(candidate.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return urlError(WebResourceError::fileDoesNotExist);
        return WebResourceError::fileSystem(errno);
    }
    if (!S_ISREG(status.st_mode))
        return urlError(WebResourceError::fileDoesNotExist);

    std::string extension = candidate.extension().native();
    if (!extension.empty())
        extension = lowerCased(std::string_view(extension).substr(1));
    ResourceFile file{candidate, std::string(mimeTypeForExtension(extension)), std::nullopt};
    if (auto encoding = textEncodingForExtension(extension))
        file.textEncoding = std::string(*encoding);
    return file;
}

} // namespace wheelbox
