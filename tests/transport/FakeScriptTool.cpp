// A stand-in for the platform's script tool in the runner's tests. Like the real tool it reads the
// whole program from standard input; then it obeys one instruction per line (leading spaces and the
// timeout block's own lines are ignored):
//   out TEXT      write TEXT to standard output (\n \r \t \\ and \xHH escapes)
//   err TEXT      the same on standard error
//   echo          write the whole program as received to standard output
//   big-out N     write N bytes to standard output
//   flood         write to standard output without end
//   fds           write the numbers of its open file descriptors, in order, separated by spaces
//   env NAME      write the value of the environment variable NAME, or "(unset)"
//   touch PATH    create PATH
//   await PATH    wait until PATH exists
//   sleep S       sleep S seconds
//   ignore-term   ignore SIGTERM from here on
//   orphan S      leave a background process that holds standard output and error open for S
//                 seconds; writes "orphan PID" and a line feed
//   child S       the same, but the process stays in the tool's process group; writes "child PID"
//   exit CODE     exit with CODE
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

void writeAll(int fd, const std::string &text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count <= 0)
            std::exit(70);
        written += static_cast<std::size_t>(count);
    }
}

std::string unescaped(const std::string &text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            result += text[i];
            continue;
        }
        char next = text[++i];
        if (next == 'n')
            result += '\n';
        else if (next == 'r')
            result += '\r';
        else if (next == 't')
            result += '\t';
        else if (next == 'x' && i + 2 < text.size()) {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            result += next;
    }
    return result;
}

void sleepSeconds(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace

int main()
{
    std::string program;
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (count < 0)
            return 71;
        if (count == 0)
            break;
        program.append(buffer, static_cast<std::size_t>(count));
    }

    std::istringstream lines(program);
    std::string line;
    while (std::getline(lines, line)) {
        line.erase(0, line.find_first_not_of(' '));
        std::string command = line.substr(0, line.find(' '));
        std::string argument = line.size() > command.size() ? line.substr(command.size() + 1) : "";
        if (command == "out") {
            writeAll(STDOUT_FILENO, unescaped(argument));
        } else if (command == "err") {
            writeAll(STDERR_FILENO, unescaped(argument));
        } else if (command == "echo") {
            writeAll(STDOUT_FILENO, program);
        } else if (command == "big-out") {
            writeAll(STDOUT_FILENO, std::string(std::stoul(argument), 'x'));
        } else if (command == "flood") {
            for (std::string chunk(65536, 'x');;)
                writeAll(STDOUT_FILENO, chunk);
        } else if (command == "fds") {
            std::set<int> fds;
            for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
                fds.insert(std::stoi(entry.path().filename().string()));
            std::string list;
            for (int fd : fds) {
                // The listing's own descriptor is open only while it runs.
                if (::fcntl(fd, F_GETFD) < 0)
                    continue;
                // Appended piece by piece: GCC 12's -Wrestrict misreads "text" + std::string&& at -O3.
                if (!list.empty())
                    list += ' ';
                list += std::to_string(fd);
            }
            writeAll(STDOUT_FILENO, list);
        } else if (command == "env") {
            const char *value = std::getenv(argument.c_str());
            writeAll(STDOUT_FILENO, value ? value : "(unset)");
        } else if (command == "touch") {
            ::close(::open(argument.c_str(), O_WRONLY | O_CREAT, 0644));
        } else if (command == "await") {
            for (int i = 0; i < 60000 && !std::filesystem::exists(argument); ++i)
                sleepSeconds(0.001);
        } else if (command == "sleep") {
            sleepSeconds(std::stod(argument));
        } else if (command == "ignore-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (command == "orphan") {
            pid_t pid = ::fork();
            if (pid == 0) {
                ::setsid();
                sleepSeconds(std::stod(argument));
                ::_exit(0);
            }
            writeAll(STDOUT_FILENO, "orphan " + std::to_string(pid) + "\n");
        } else if (command == "child") {
            pid_t pid = ::fork();
            if (pid == 0) {
                sleepSeconds(std::stod(argument));
                ::_exit(0);
            }
            writeAll(STDOUT_FILENO, "child " + std::to_string(pid) + "\n");
        } else if (command == "exit") {
            return std::stoi(argument);
        }
    }
    return 0;
}
