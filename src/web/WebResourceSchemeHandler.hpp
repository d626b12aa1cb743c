#pragma once

#include "platform/Artwork.hpp"
#include "platform/MainLoop.hpp"
#include "platform/SerialQueue.hpp"
#include "web/SchemeTask.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wheelbox {

// Serves the firmware folder under velto://app/, and the covers' cache entries under
// velto://app/artwork/ when given them. File checks and reads run one request at a time on the
// queue "com.velto.app.web-resources" (a cover still to be read is read elsewhere); the task
// bookkeeping and every call on a task run on the main thread, the only thread on which WebKitGTK
// lets a request be answered. There is no cache of firmware files: each request reads its file
// from disk.
class WebResourceSchemeHandler {
  public:
    // "velto://app/index.html", the page the device loads.
    static const std::string &startURL();

    // The folder holding the firmware's index.html: the installed one
    // (<prefix>/share/wheelbox/Web, found from the running program), else the copy in the build
    // tree; nothing when neither exists.
    static std::optional<std::filesystem::path> firmwareRoot();

    // Nothing without a root. The root's links are resolved and its "." and ".." removed. Without
    // `artwork` every entry name is a missing file; with it, it must outlive the handler.
    static std::unique_ptr<WebResourceSchemeHandler> make(const std::optional<std::filesystem::path> &root,
                                                          MainLoop &mainLoop,
                                                          ArtworkEntries *artwork = nullptr);

    // Waits for the file work under way; queued work and answers not yet given are dropped.
    ~WebResourceSchemeHandler();
    WebResourceSchemeHandler(const WebResourceSchemeHandler &) = delete;
    WebResourceSchemeHandler &operator=(const WebResourceSchemeHandler &) = delete;

    const std::filesystem::path &root() const noexcept { return root_; }

    // Main thread. The task is answered later, on the main thread.
    void start(std::shared_ptr<SchemeTask> task);
    // Main thread. The task receives no call afterwards; a read not yet begun is skipped and one
    // under way is dropped.
    void stop(const SchemeTask &task);
    // The same stop for whoever learns late that a request's page is gone, safe to call after this
    // handler has gone too (it then does nothing). Main thread.
    std::function<void(const SchemeTask &)> stopper() const;

    struct State;

  private:
    WebResourceSchemeHandler(std::filesystem::path root, MainLoop &mainLoop, ArtworkEntries *artwork);

    std::filesystem::path root_;
    MainLoop &mainLoop_;
    ArtworkEntries *artwork_;
    SerialQueue worker_;
    // Declared after the queue, so it goes first: work still queued then finds it gone.
    std::shared_ptr<State> state_;
};

} // namespace wheelbox
