#pragma once

// The machine's processes as /proc shows them, for tests that look for what a program left
// running. A process may end while its files are read: it is then simply not there (a stream
// would throw from its buffer when the read fails with ESRCH).

#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace wheelbox::test {

// The whole of /proc/<pid>/<file>; empty once the process is gone.
inline std::string procText(pid_t pid, const char *file)
{
    std::string text;
    const std::string path = "/proc/" + std::to_string(pid) + "/" + file;
    if (FILE *stream = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        while (std::size_t got = std::fread(buffer, 1, sizeof buffer, stream))
            text.append(buffer, got);
        std::fclose(stream);
    }
    return text;
}

struct ProcessStat {
    pid_t pid = 0;
    std::string name;
    char state = 0; // 'Z' for a zombie
    pid_t parent = 0;
};

// "pid (name) state ppid ..."; the name may hold spaces and parentheses. Nothing once it is gone.
inline std::optional<ProcessStat> processStat(pid_t pid)
{
    const std::string text = procText(pid, "stat");
    const auto open = text.find('(');
    const auto close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return std::nullopt;
    ProcessStat stat{pid, text.substr(open + 1, close - open - 1)};
    int parent = 0;
    if (std::sscanf(text.c_str() + close + 1, " %c %d", &stat.state, &parent) != 2)
        return std::nullopt;
    stat.parent = parent;
    return stat;
}

// Every process there is now, zombies included.
inline std::vector<ProcessStat> processes()
{
    std::vector<ProcessStat> found;
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/proc", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (auto stat = processStat(std::stoi(name)))
            found.push_back(*stat);
    }
    return found;
}

// The processes whose parent is this one, zombies included.
inline std::vector<pid_t> childProcesses()
{
    std::vector<pid_t> children;
    for (const auto &process : processes()) {
        if (process.parent == ::getpid())
            children.push_back(process.pid);
    }
    return children;
}

} // namespace wheelbox::test
