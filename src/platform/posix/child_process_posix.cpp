// Children on POSIX: fork and exec with the output on pipes, poll, SIGINT to cancel, SIGKILL,
// waitpid; Ctrl-C caught and turned into a count that wakes the poll.
#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace {

volatile sig_atomic_t interrupts = 0;
int wake_pipe[2] = {-1, -1};

void on_interrupt(int) {
    interrupts = interrupts + 1;
    int saved = errno;
    [[maybe_unused]] ssize_t written = write(wake_pipe[1], "!", 1);
    errno = saved;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}

void close_fd(int* fd) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
}

struct Pipe {
    int fd = -1;
    std::string pending;  // a line not yet whole
};

struct Child {
    pid_t pid = -1;
    Pipe output;
    Pipe errors;
    bool reaped = false;
};

// Reads what the pipe holds and hands over each whole line; at its end (or an error) the last part
// too, and the pipe is closed.
void drain(int id, ChildStream stream, Pipe* pipe, ChildReceiver& receiver) {
    if (pipe->fd < 0) return;
    char buffer[4096];
    bool at_end = false;
    for (;;) {
        ssize_t got = read(pipe->fd, buffer, sizeof buffer);
        if (got > 0) {
            pipe->pending.append(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        at_end = !(got < 0 && errno == EAGAIN);
        break;
    }
    for (std::size_t end; (end = pipe->pending.find('\n')) != std::string::npos;) {
        std::string line = pipe->pending.substr(0, end);
        pipe->pending.erase(0, end + 1);
        receiver.output_line(id, stream, line);
    }
    if (at_end) {
        if (!pipe->pending.empty()) receiver.output_line(id, stream, pipe->pending);
        pipe->pending.clear();
        close_fd(&pipe->fd);
    }
}

}  // namespace

struct ChildSet::Impl {
    std::vector<Child> children;
};

ChildSet::ChildSet() : impl_(std::make_unique<Impl>()) {}

ChildSet::~ChildSet() {
    for (Child& child : impl_->children) {
        if (!child.reaped) {
            ::kill(child.pid, SIGKILL);
            waitpid(child.pid, nullptr, 0);
        }
        close_fd(&child.output.fd);
        close_fd(&child.errors.fd);
    }
}

int ChildSet::start(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment, std::string* problem) {
    int output[2];
    int errors[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        *problem = std::strerror(errno);
        return -1;
    }
    if (pipe2(errors, O_CLOEXEC) != 0) {
        *problem = std::strerror(errno);
        close(output[0]);
        close(output[1]);
        return -1;
    }
    std::vector<std::string> argument_texts{program};
    argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment_texts = environment;
    std::vector<char*> argv = pointers(argument_texts);
    std::vector<char*> envp = pointers(environment_texts);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // A group of its own, so that the terminal's Ctrl-C reaches the parent alone, which
        // passes it on once; and no child outlives a parent that was killed.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        int nothing = open("/dev/null", O_RDONLY);
        if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(output[1], 1) < 0 ||
            dup2(errors[1], 2) < 0) {
            _exit(127);
        }
        execve(program.c_str(), argv.data(), envp.data());
        static const char failed[] = "tev-upgrade: can't start the program for this device\n";
        [[maybe_unused]] ssize_t written = write(2, failed, sizeof failed - 1);
        _exit(127);
    }
    int saved = errno;
    close(output[1]);
    close(errors[1]);
    if (pid < 0) {
        *problem = std::strerror(saved);
        close(output[0]);
        close(errors[0]);
        return -1;
    }
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    fcntl(errors[0], F_SETFL, O_NONBLOCK);
    Child child;
    child.pid = pid;
    child.output.fd = output[0];
    child.errors.fd = errors[0];
    impl_->children.push_back(child);
    return static_cast<int>(impl_->children.size() - 1);
}

void ChildSet::cancel(int id) {
    Child& child = impl_->children.at(static_cast<std::size_t>(id));
    if (!child.reaped) ::kill(child.pid, SIGINT);
}

void ChildSet::kill(int id) {
    Child& child = impl_->children.at(static_cast<std::size_t>(id));
    if (!child.reaped) ::kill(child.pid, SIGKILL);
}

void ChildSet::wait(int timeout_ms, ChildReceiver& receiver) {
    std::vector<pollfd> fds;
    if (wake_pipe[0] >= 0) fds.push_back({wake_pipe[0], POLLIN, 0});
    for (const Child& child : impl_->children) {
        if (child.output.fd >= 0) fds.push_back({child.output.fd, POLLIN, 0});
        if (child.errors.fd >= 0) fds.push_back({child.errors.fd, POLLIN, 0});
    }
    if (poll(fds.data(), fds.size(), timeout_ms) > 0 && wake_pipe[0] >= 0 && fds[0].revents != 0) {
        char drained[64];
        [[maybe_unused]] ssize_t got = read(wake_pipe[0], drained, sizeof drained);
    }
    for (std::size_t i = 0; i < impl_->children.size(); ++i) {
        Child& child = impl_->children[i];
        if (child.reaped) continue;
        int id = static_cast<int>(i);
        drain(id, ChildStream::OUTPUT, &child.output, receiver);
        drain(id, ChildStream::ERRORS, &child.errors, receiver);
        // A child is done once it ended and its pipes were read to their end; a grandchild that
        // held a pipe open is not waited for.
        int status = 0;
        if (waitpid(child.pid, &status, WNOHANG) != child.pid) continue;
        child.reaped = true;
        drain(id, ChildStream::OUTPUT, &child.output, receiver);
        drain(id, ChildStream::ERRORS, &child.errors, receiver);
        close_fd(&child.output.fd);
        close_fd(&child.errors.fd);
        bool exited = WIFEXITED(status);
        receiver.process_ended(id, exited, exited ? WEXITSTATUS(status) : WTERMSIG(status));
    }
}

void interrupts_catch() {
    if (wake_pipe[0] < 0 && pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interrupts_count() { return interrupts; }

std::vector<std::string> process_environment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
    return entries;
}

std::string own_program_path(const char* argv0) {
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return argv0;
    return std::string(path, static_cast<std::size_t>(length));
}
