// Children on Windows: CreateProcess with the standard handles on anonymous pipes, every child in
// one job object that ends them all when this process ends (its last handle closes with it). A
// thread per output pipe reads it (anonymous pipes have no overlapped reads); wait() hands the
// whole lines over. Cancel closes the child's standard input: the child watches it and presses its
// Cancel. A GUI program has no Ctrl-C: the list window's Stop button does its work.
#include <windows.h>

#include <mutex>

#include "platform/child_process.h"

namespace {

// The status a child ends with when it is killed: it gave no result, so it is a failure.
constexpr UINT KILLED_STATUS = 1;
// A child that ended while something else still holds its pipes is not waited for longer.
constexpr DWORD PIPES_GRACE_MS = 3000;

struct Stream {
    std::string pending;  // read, not yet handed over
    bool ended = false;
};

struct Child {
    HANDLE process = nullptr;
    HANDLE input = nullptr;  // our end of its standard input
    HANDLE readers[2] = {nullptr, nullptr};
    Stream streams[2];       // OUTPUT, ERRORS
    bool reaped = false;
    DWORD gone_at = 0;       // when its process was first seen ended
    bool gone = false;
};

struct Reading {
    Child* child;
    int stream;
    HANDLE pipe;
    std::mutex* lock;
    HANDLE wake;
};

DWORD WINAPI read_pipe(void* argument) {
    auto* reading = static_cast<Reading*>(argument);
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reading->pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> hold(*reading->lock);
        reading->child->streams[reading->stream].pending.append(buffer, got);
        SetEvent(reading->wake);
    }
    CloseHandle(reading->pipe);
    {
        std::lock_guard<std::mutex> hold(*reading->lock);
        reading->child->streams[reading->stream].ended = true;
    }
    SetEvent(reading->wake);
    delete reading;
    return 0;
}

void close_handle(HANDLE* handle) {
    if (*handle != nullptr) CloseHandle(*handle);
    *handle = nullptr;
}

// One argument as the C runtime splits a command line again: quoted when it holds a blank or a
// quote, backslashes doubled before a quote.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') text.append(backslashes * 2 + 1, '\\');
        else text.append(backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

std::string system_text(DWORD error) {
    char text[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "system error " + std::to_string(error) : message;
}

// A pipe whose one end the child inherits; our end is not inherited, so that no later child holds
// it (a child holding another's standard input would keep that one from seeing its cancel).
bool make_pipe(HANDLE* ours, HANDLE* theirs, bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!CreatePipe(&read_end, &write_end, &inherit, 0)) return false;
    *ours = child_reads ? write_end : read_end;
    *theirs = child_reads ? read_end : write_end;
    SetHandleInformation(*ours, HANDLE_FLAG_INHERIT, 0);
    return true;
}

}  // namespace

struct ChildSet::Impl {
    std::vector<std::unique_ptr<Child>> children;
    std::mutex lock;
    HANDLE wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE job = nullptr;
};

ChildSet::ChildSet() : impl_(std::make_unique<Impl>()) {
    impl_->job = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (impl_->job != nullptr) {
        SetInformationJobObject(impl_->job, JobObjectExtendedLimitInformation, &limits,
                                sizeof limits);
    }
}

ChildSet::~ChildSet() {
    for (auto& child : impl_->children) {
        if (!child->reaped) TerminateProcess(child->process, KILLED_STATUS);
    }
    for (auto& child : impl_->children) {
        if (!child->reaped) WaitForSingleObject(child->process, PIPES_GRACE_MS);
        close_handle(&child->input);
        close_handle(&child->process);
        // The readers end with the pipes; one held open elsewhere is left behind with its child.
        for (HANDLE& reader : child->readers) {
            if (reader != nullptr && WaitForSingleObject(reader, PIPES_GRACE_MS) != WAIT_OBJECT_0) {
                child.release();
                break;
            }
            close_handle(&reader);
        }
    }
    close_handle(&impl_->job);
    close_handle(&impl_->wake);
}

int ChildSet::start(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment, std::string* problem) {
    HANDLE ours[3] = {nullptr, nullptr, nullptr};
    HANDLE theirs[3] = {nullptr, nullptr, nullptr};
    bool piped = make_pipe(&ours[0], &theirs[0], true) && make_pipe(&ours[1], &theirs[1], false) &&
                 make_pipe(&ours[2], &theirs[2], false);
    DWORD error = GetLastError();
    std::string line = quoted(program);
    for (const std::string& argument : arguments) line += " " + quoted(argument);
    std::string block;
    for (const std::string& entry : environment) block.append(entry).push_back('\0');
    block.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = theirs[0];
    startup.hStdOutput = theirs[1];
    startup.hStdError = theirs[2];
    PROCESS_INFORMATION process{};
    // Suspended until it is in the job, so that not even its first instant is outside it.
    bool started = piped && CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                           CREATE_SUSPENDED, block.data(), nullptr, &startup,
                                           &process);
    if (piped) error = GetLastError();
    for (HANDLE& handle : theirs) close_handle(&handle);
    if (!started) {
        for (HANDLE& handle : ours) close_handle(&handle);
        *problem = "can't start " + program + ": " + system_text(error);
        return -1;
    }
    // A parent itself in a job that forbids another (before Windows 8) leaves the children to the
    // set's own end.
    if (impl_->job != nullptr) AssignProcessToJobObject(impl_->job, process.hProcess);
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    auto child = std::make_unique<Child>();
    child->process = process.hProcess;
    child->input = ours[0];
    for (int stream = 0; stream < 2; ++stream) {
        auto* reading = new Reading{child.get(), stream, ours[stream + 1], &impl_->lock, impl_->wake};
        child->readers[stream] = CreateThread(nullptr, 0, read_pipe, reading, 0, nullptr);
        if (child->readers[stream] == nullptr) {
            CloseHandle(reading->pipe);
            child->streams[stream].ended = true;
            delete reading;
        }
    }
    impl_->children.push_back(std::move(child));
    return static_cast<int>(impl_->children.size() - 1);
}

void ChildSet::cancel(int id) {
    Child& child = *impl_->children.at(static_cast<std::size_t>(id));
    close_handle(&child.input);
}

void ChildSet::kill(int id) {
    Child& child = *impl_->children.at(static_cast<std::size_t>(id));
    if (!child.reaped) TerminateProcess(child.process, KILLED_STATUS);
}

void ChildSet::wait(int timeout_ms, ChildReceiver& receiver) {
    WaitForSingleObject(impl_->wake, static_cast<DWORD>(timeout_ms));
    struct Line {
        int id;
        ChildStream stream;
        std::string text;
    };
    std::vector<Line> lines;
    std::vector<std::pair<int, DWORD>> ended;
    {
        std::lock_guard<std::mutex> hold(impl_->lock);
        for (std::size_t i = 0; i < impl_->children.size(); ++i) {
            Child& child = *impl_->children[i];
            if (child.reaped) continue;
            int id = static_cast<int>(i);
            if (!child.gone && WaitForSingleObject(child.process, 0) == WAIT_OBJECT_0) {
                child.gone = true;
                child.gone_at = GetTickCount();
            }
            bool pipes_done = child.streams[0].ended && child.streams[1].ended;
            bool done = child.gone && (pipes_done || GetTickCount() - child.gone_at >= PIPES_GRACE_MS);
            for (int s = 0; s < 2; ++s) {
                std::string& pending = child.streams[s].pending;
                auto stream = s == 0 ? ChildStream::OUTPUT : ChildStream::ERRORS;
                for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                    std::string text = pending.substr(0, end);
                    if (!text.empty() && text.back() == '\r') text.pop_back();
                    lines.push_back({id, stream, text});
                    pending.erase(0, end + 1);
                }
                if (done && !pending.empty()) lines.push_back({id, stream, pending});
                if (done) pending.clear();
            }
            if (!done) continue;
            child.reaped = true;
            DWORD code = KILLED_STATUS;
            GetExitCodeProcess(child.process, &code);
            close_handle(&child.input);
            ended.push_back({id, code});
        }
    }
    for (const Line& line : lines) receiver.output_line(line.id, line.stream, line.text);
    for (const auto& [id, code] : ended) receiver.process_ended(id, true, static_cast<int>(code));
}

void interrupts_catch() {}

int interrupts_count() { return 0; }

std::vector<std::string> process_environment() {
    std::vector<std::string> entries;
    char* block = GetEnvironmentStringsA();
    if (block == nullptr) return entries;
    // Entries the system keeps for the drives' folders ("=C:=C:\...") are kept as they are.
    for (const char* entry = block; *entry != 0; entry += entries.back().size() + 1) {
        entries.emplace_back(entry);
    }
    FreeEnvironmentStringsA(block);
    return entries;
}

std::string own_program_path(const char* argv0) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path) return argv0;
    return std::string(path, length);
}
