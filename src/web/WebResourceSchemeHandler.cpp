#include "web/WebResourceSchemeHandler.hpp"

#include "lib/posix/RegularFile.hpp"
#include "web/ResourceMapping.hpp"

#include <atomic>
#include <cerrno>
#include <limits>
#include <map>

namespace wheelbox {

namespace {

// WHEELBOX_FIRMWARE_FROM_BINDIR: the installed firmware relative to the program's folder.
// WHEELBOX_FIRMWARE_IN_BUILD_TREE: the copy the build makes, for programs run from the build tree.
#ifndef WHEELBOX_FIRMWARE_FROM_BINDIR
#define WHEELBOX_FIRMWARE_FROM_BINDIR "../share/wheelbox/Web"
#endif
#ifndef WHEELBOX_FIRMWARE_IN_BUILD_TREE
#define WHEELBOX_FIRMWARE_IN_BUILD_TREE ""
#endif

// One started task, made on the main thread, so the worker never touches the task's request.
struct SchemeTaskBox {
    std::shared_ptr<SchemeTask> task;
    std::optional<std::string> requestURL;
    std::optional<std::string> requestMethod;
    // Set by stop(); lets the worker skip a read nobody will receive.
    std::atomic<bool> stopped = false;
};

struct Loaded {
    SchemeResponse response;
    std::vector<std::byte> data;
};

std::variant<std::vector<std::byte>, WebResourceError> readWholeFile(const std::filesystem::path &path)
{
    // Without waiting: a FIFO swapped in after the check must not hang the queue. Without following
    // links: the path is resolved, so a link appearing there now is refused.
    auto read = posix::readRegularFile(path, std::numeric_limits<std::size_t>::max(), posix::FollowLinks::no);
    if (auto *data = std::get_if<std::vector<std::byte>>(&read))
        return std::move(*data);
    const int error = std::get<posix::ReadFailure>(read).error;
    if (error == ENODEV)
        return WebResourceError::url(WebResourceError::fileDoesNotExist);
    return WebResourceError::fileSystem(error);
}

std::variant<Loaded, WebResourceError> load(const std::filesystem::path &root, const SchemeTaskBox &box)
{
    auto mapped = mapResourceRequest(root, box.requestURL, box.requestMethod);
    if (auto *error = std::get_if<WebResourceError>(&mapped))
        return *error;
    auto &file = std::get<ResourceFile>(mapped);
    auto read = readWholeFile(file.path);
    if (auto *error = std::get_if<WebResourceError>(&read))
        return *error;
    Loaded loaded;
    loaded.data = std::move(std::get<std::vector<std::byte>>(read));
    // The bytes actually read: a file that changed since it was checked still goes out whole and
    // with a length that matches it.
    loaded.response = {*box.requestURL, file.mimeType, loaded.data.size(), file.textEncoding};
    return loaded;
}

} // namespace

struct WebResourceSchemeHandler::State {
    // Tasks started and not yet answered or stopped. Main thread only.
    std::map<const SchemeTask *, std::shared_ptr<SchemeTaskBox>> activeTasks;
};

namespace {

void deliver(const std::weak_ptr<WebResourceSchemeHandler::State> &weakState, SchemeTaskBox &box,
             std::variant<Loaded, WebResourceError> outcome)
{
    auto state = weakState.lock();
    if (!state)
        return;
    auto found = state->activeTasks.find(box.task.get());
    if (found == state->activeTasks.end() || found->second.get() != &box)
        return;
    state->activeTasks.erase(found);
    if (auto *error = std::get_if<WebResourceError>(&outcome)) {
        box.task->didFailWithError(*error);
        return;
    }
    auto &loaded = std::get<Loaded>(outcome);
    box.task->didReceiveResponse(loaded.response);
    box.task->didReceiveData(std::move(loaded.data));
    box.task->didFinish();
}

void stopIn(WebResourceSchemeHandler::State &state, const SchemeTask &task)
{
    auto found = state.activeTasks.find(&task);
    if (found == state.activeTasks.end())
        return;
    found->second->stopped = true;
    state.activeTasks.erase(found);
}

} // namespace

const std::string &WebResourceSchemeHandler::startURL()
{
    static const std::string url = "velto://app/index.html";
    return url;
}

std::optional<std::filesystem::path> WebResourceSchemeHandler::firmwareRoot()
{
    std::vector<std::filesystem::path> candidates;
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error)
        candidates.push_back(self.parent_path() / WHEELBOX_FIRMWARE_FROM_BINDIR);
    if (std::string_view(WHEELBOX_FIRMWARE_IN_BUILD_TREE) != "")
        candidates.emplace_back(WHEELBOX_FIRMWARE_IN_BUILD_TREE);
    for (const auto &folder : candidates) {
        if (std::filesystem::is_regular_file(folder / "index.html", error))
            return folder.lexically_normal();
    }
    return std::nullopt;
}

std::unique_ptr<WebResourceSchemeHandler>
WebResourceSchemeHandler::make(const std::optional<std::filesystem::path> &root, MainLoop &mainLoop,
                               ArtworkEntries *artwork)
{
    if (!root)
        return nullptr;
    std::error_code error;
    std::filesystem::path resolved =
        std::filesystem::weakly_canonical(std::filesystem::absolute(*root), error);
    if (error)
        resolved = std::filesystem::absolute(*root).lexically_normal();
    // "Web/" and "Web" are one root.
    if (resolved.has_relative_path() && !resolved.has_filename())
        resolved = resolved.parent_path();
    return std::unique_ptr<WebResourceSchemeHandler>(
        new WebResourceSchemeHandler(std::move(resolved), mainLoop, artwork));
}

WebResourceSchemeHandler::WebResourceSchemeHandler(std::filesystem::path root, MainLoop &mainLoop,
                                                   ArtworkEntries *artwork)
    : root_(std::move(root)), mainLoop_(mainLoop), artwork_(artwork), worker_("com.velto.app.web-resources"),
      state_(std::make_shared<State>())
{}

WebResourceSchemeHandler::~WebResourceSchemeHandler() = default;

void WebResourceSchemeHandler::start(std::shared_ptr<SchemeTask> task)
{
    auto box = std::make_shared<SchemeTaskBox>();
    box->requestURL = task->requestURL();
    box->requestMethod = task->requestMethod();
    box->task = std::move(task);
    state_->activeTasks.insert_or_assign(box->task.get(), box);

    worker_.submit([weakState = std::weak_ptr<State>(state_), root = root_, box, &mainLoop = mainLoop_,
                    artwork = artwork_] {
        // The handler may be gone, but its main loop outlives it (the handler is the loop's user).
        if (weakState.expired() || box->stopped)
            return;
        auto answer = [weakState, box, &mainLoop](std::variant<Loaded, WebResourceError> outcome) {
            mainLoop.post([weakState, box, outcome = std::move(outcome)]() mutable {
                deliver(weakState, *box, std::move(outcome));
            });
        };
        if (auto name = artwork ? artworkRequestName(box->requestURL, box->requestMethod) : std::nullopt) {
            // The entry may have to be read first: that happens off this queue, so firmware files
            // never wait behind a cover.
            artwork->open(*name, [answer, url = *box->requestURL](std::optional<ArtworkEntry> entry) {
                if (!entry)
                    return answer(WebResourceError::url(WebResourceError::fileDoesNotExist));
                Loaded loaded;
                loaded.response = {url, std::move(entry->mimeType), entry->data.size(), std::nullopt};
                loaded.data = std::move(entry->data);
                answer(std::move(loaded));
            });
            return;
        }
        answer(load(root, *box));
    });
}

void WebResourceSchemeHandler::stop(const SchemeTask &task)
{
    stopIn(*state_, task);
}

std::function<void(const SchemeTask &)> WebResourceSchemeHandler::stopper() const
{
    return [weakState = std::weak_ptr<State>(state_)](const SchemeTask &task) {
        if (auto state = weakState.lock())
            stopIn(*state, task);
    };
}

} // namespace wheelbox
