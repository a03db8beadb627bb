// A helper program run by a test, talking lines over its stdin and stdout.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace kesttest {

class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args)
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<char*> argv;
            for (const std::string& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }
    ~ChildProcess()
    {
        closeInput();
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
        if (stdout_ >= 0)
            ::close(stdout_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }

    // True when output waits to be read within timeoutMs.
    bool hasOutput(int timeoutMs)
    {
        pollfd watched{stdout_, POLLIN, 0};
        return ::poll(&watched, 1, timeoutMs) > 0;
    }
    // One line without its line feed; empty after timeoutMs or at end of output.
    std::string readLine(int timeoutMs = 10000)
    {
        std::string line;
        char c;
        while (true) {
            pollfd watched{stdout_, POLLIN, 0};
            if (::poll(&watched, 1, timeoutMs) <= 0 || ::read(stdout_, &c, 1) != 1 || c == '\n')
                return line;
            line += c;
        }
    }
    void writeLine(const std::string& line)
    {
        const std::string text = line + "\n";
        if (::write(stdin_, text.data(), text.size()) < 0)
            closeInput();
    }
    void closeInput()
    {
        if (stdin_ >= 0)
            ::close(stdin_);
        stdin_ = -1;
    }
    void kill(int signal) { ::kill(pid_, signal); }
    // Exit status, or -1 when it did not exit normally.
    int wait()
    {
        int status = 0;
        if (!waited_ && ::waitpid(pid_, &status, 0) == pid_)
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        waited_ = true;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    bool waited_ = false;
    int status_ = -1;
};

} // namespace kesttest
