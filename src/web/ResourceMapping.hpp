#pragma once

#include "platform/Artwork.hpp"
#include "web/WebResourceError.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// From a request for velto://app/... to a file under the firmware folder. Nothing outside the
// folder is ever named: not through "..", percent-encoded separators or dots, NUL, symbolic links
// leading out, nor another host. Free of side effects beyond the file-system lookups it makes.
namespace wheelbox {

struct ResourceFile {
    // Resolved: no symbolic link, no "." or ".." component, strictly inside the root.
    std::filesystem::path path;
    std::string mimeType;
    // "utf-8" for text files, else nothing.
    std::optional<std::string> textEncoding;
};

// `root` must be a resolved folder path (as WebResourceSchemeHandler keeps it). The request URL
// is absent when the task had none; an absent method counts as "GET".
std::variant<ResourceFile, WebResourceError> mapResourceRequest(const std::filesystem::path &root,
                                                                const std::optional<std::string> &url,
                                                                const std::optional<std::string> &method);

// The cache entry a request names: a GET of velto://app/artwork/ and an entry's exact name (after
// percent-decoding, leading slashes dropped). Every other request, hostile names under artwork/
// included, is nothing here and goes to mapResourceRequest like any other path, so it meets the
// firmware folder's guard and never the cache's folder.
std::optional<ArtworkName> artworkRequestName(const std::optional<std::string> &url,
                                              const std::optional<std::string> &method);

// By the lower-cased extension (without the dot): "html" text/html, "css" text/css, "js"
// text/javascript, "json" application/json, "svg" image/svg+xml, "png" image/png, "webp"
// image/webp, "wav" audio/wav, "mp3" audio/mpeg, "woff" font/woff, "woff2" font/woff2, anything
// else application/octet-stream.
std::string_view mimeTypeForExtension(std::string_view extension) noexcept;
// "utf-8" for css, html, js, json, svg and txt.
std::optional<std::string_view> textEncodingForExtension(std::string_view extension) noexcept;

} // namespace wheelbox
