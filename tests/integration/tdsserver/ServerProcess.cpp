#include "ServerProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tdsserver {
namespace {

using Clock = std::chrono::steady_clock;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `pid` until `deadline`; true with `status` set when it exited.
bool WaitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 && errno != EINTR)
            return true; // not our child any more: nothing to wait for
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int DecodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return -WTERMSIG(status);
    return -1;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (auto& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

std::filesystem::path MakeTemporaryDirectory(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(Errno("cannot create a temporary directory " + pattern));
    return pattern;
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    Cleanup();
}

void ServerProcess::Cleanup() {
    if (drainer_.joinable())
        drainer_.join();
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
    }
    if (!dataDirectory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dataDirectory_, ignored);
        dataDirectory_.clear();
    }
}

void ServerProcess::Start(const std::vector<Login>& logins, std::chrono::milliseconds timeout) {
    if (pid_ > 0)
        throw std::runtime_error("the server is already running");
    if (dataDirectory_.empty())
        dataDirectory_ = MakeTemporaryDirectory("tdsserver-test-");
    laterOutput_.clear();

    std::vector<std::string> args = {ASE_TESTSERVER_PATH, "--port", "0", "--data-dir",
                                     dataDirectory_.string()};
    for (const Login& login : logins) {
        args.insert(args.end(), {"--user", login.user, "--password", login.password});
    }
    args.insert(args.end(), options_.begin(), options_.end());
    auto argv = CStrings(args); // built before fork: the child may only exec
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error(Errno("pipe"));
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw std::runtime_error(Errno("fork"));
    }
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        const char message[] = "cannot execute the test server\n";
        [[maybe_unused]] auto ignored = ::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    ::close(out[1]);
    pid_ = pid;
    stdoutFd_ = out[0];

    // The first line, read byte by byte so that nothing after it is consumed here.
    const auto deadline = Clock::now() + timeout;
    std::string line;
    for (;;) {
        pollfd p{stdoutFd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            Stop(std::chrono::seconds(2));
            throw std::runtime_error("the test server printed no listening line within " +
                                     std::to_string(timeout.count()) + " ms (got '" + line + "')");
        }
        char c = 0;
        const ssize_t n = ::read(stdoutFd_, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int status = Stop(std::chrono::seconds(2));
            throw std::runtime_error("the test server closed its output before the listening "
                                     "line (exit status " +
                                     std::to_string(status) + ", got '" + line + "')");
        }
        if (c == '\n')
            break;
        line += c;
    }
    listeningLine_ = line;
    static const std::string prefix = "listening on 127.0.0.1:";
    const std::string digits =
        line.compare(0, prefix.size(), prefix) == 0 ? line.substr(prefix.size()) : std::string();
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        Stop(std::chrono::seconds(2));
        throw std::runtime_error("unexpected first line from the test server: '" + line + "'");
    }
    port_ = std::stoi(digits);
    if (port_ <= 0 || port_ > 65535) {
        Stop(std::chrono::seconds(2));
        throw std::runtime_error("the listening line names no usable port: '" + line + "'");
    }
    // Keep reading so that the server never blocks on a full pipe.
    drainer_ = std::thread([this] { DrainOutput(); });
}

void ServerProcess::DrainOutput() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        std::lock_guard lock(outputMutex_);
        laterOutput_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string ServerProcess::LaterOutput() {
    std::lock_guard lock(outputMutex_);
    return laterOutput_;
}

int ServerProcess::Stop(std::chrono::milliseconds timeout, bool keepData) {
    if (pid_ <= 0)
        return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    int result;
    if (WaitUntil(pid_, Clock::now() + timeout, status)) {
        result = DecodeStatus(status);
    } else {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        result = -1000;
    }
    pid_ = -1;
    // The pipe reaches end of file once the server (and anything it started) has gone.
    if (drainer_.joinable())
        drainer_.join();
    if (stdoutFd_ >= 0) {
        ::close(stdoutFd_);
        stdoutFd_ = -1;
    }
    if (!keepData) {
        std::error_code ignored;
        std::filesystem::remove_all(dataDirectory_, ignored);
        dataDirectory_.clear();
    }
    return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& environment,
                         const std::string& input, std::chrono::milliseconds timeout) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const auto name = entry.substr(0, entry.find('='));
        if (environment.count(name) == 0)
            env.push_back(entry);
    }
    for (const auto& [name, value] : environment)
        env.push_back(name + "=" + value);
    std::vector<std::string> args = argv;

    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        throw std::runtime_error(Errno("pipe"));
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        throw std::runtime_error(Errno("pipe"));
    }
    auto a = CStrings(args);
    auto e = CStrings(env);
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error(Errno("fork"));
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(out[1], STDERR_FILENO);
        ::execvpe(a[0], a.data(), e.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::signal(SIGPIPE, SIG_IGN);

    ProcessResult result;
    const auto deadline = Clock::now() + timeout;
    std::size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    }
    for (;;) {
        pollfd fds[2] = {{out[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        const int ready = ::poll(fds, inFd >= 0 ? 2 : 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (inFd >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(inFd, input.data() + written, input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if (n < 0 || written == input.size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[4096];
            const ssize_t n = ::read(out[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            result.output.append(buffer, static_cast<std::size_t>(n));
        }
    }
    if (inFd >= 0)
        ::close(inFd);
    ::close(out[0]);
    int status = 0;
    if (!WaitUntil(pid, Clock::now() + std::chrono::seconds(5), status)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.timedOut = true;
    }
    result.exitStatus = DecodeStatus(status);
    return result;
}

} // namespace tdsserver
