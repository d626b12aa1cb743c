#include "ToolProcess.hpp"

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace wheelbox::osascript::test {

ToolResult runTool(const std::string &program, const std::map<std::string, std::string> &environment,
                   const ToolOptions &options)
{
    std::map<std::string, std::string> variables;
    for (char **entry = environ; *entry; ++entry) {
        std::string text(*entry);
        auto equals = text.find('=');
        variables[text.substr(0, equals)] = equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    for (const auto &[name, value] : environment) {
        if (value.empty())
            variables.erase(name);
        else
            variables[name] = value;
    }
    std::vector<std::string> texts;
    for (const auto &[name, value] : variables)
        texts.push_back(name + "=" + value);
    std::vector<char *> envp;
    for (auto &text : texts)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    int input[2], output[2], error[2];
    if (pipe(input) != 0 || pipe(output) != 0 || pipe(error) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_adddup2(&actions, error[1], 2);
    for (int fd : {input[0], input[1], output[0], output[1], error[0], error[1]})
        posix_spawn_file_actions_addclose(&actions, fd);
    std::string path = options.executable.empty() ? WHEELBOX_OSASCRIPT_PATH : options.executable;
    std::string dash = "-";
    char *argv[] = {path.data(), dash.data(), nullptr};
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    close(error[1]);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + path);
    if (options.started)
        options.started(pid);

    ToolResult result;
    std::size_t written = 0;
    bool inputOpen = true;
    pollfd descriptors[3] = {{input[1], POLLOUT, 0}, {output[0], POLLIN, 0}, {error[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 || inputOpen) {
        descriptors[0].fd = inputOpen ? input[1] : -1;
        if (poll(descriptors, 3, -1) < 0)
            break;
        if (inputOpen && (descriptors[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            auto count = write(input[1], program.data() + written, program.size() - written);
            if (count > 0)
                written += static_cast<std::size_t>(count);
            if (count <= 0 || written == program.size()) {
                close(input[1]);
                inputOpen = false;
            }
        }
        for (int i = 1; i < 3; ++i) {
            if (descriptors[i].fd < 0 || !(descriptors[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            auto count = read(descriptors[i].fd, buffer, sizeof buffer);
            if (count <= 0) {
                close(descriptors[i].fd);
                descriptors[i].fd = -1;
                --open;
            } else {
                (i == 1 ? result.output : result.error).append(buffer, static_cast<std::size_t>(count));
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

} // namespace wheelbox::osascript::test
