// Child processes of a run over several devices: each one a copy of this program started with its
// standard output and error on pipes, read here line by line; asked to stop, killed, reaped.
// POSIX: fork and exec, a process group of its own, SIGINT to cancel, SIGKILL, waitpid, and a
// death signal so that no child outlives the parent. Windows: CreateProcess in a job object that
// ends the children with the parent, the standard input a pipe whose closing is the cancel.
#pragma once
#include <memory>
#include <string>
#include <vector>

enum class ChildStream { OUTPUT, ERRORS };

// What the children did, handed over by ChildSet::wait.
class ChildReceiver {
public:
    // One whole line, without its line break (a last line without one comes at the end too).
    virtual void output_line(int id, ChildStream stream, const std::string& line) = 0;
    // The child ended and was reaped, after its last line. exited: code is its exit status;
    // otherwise the number of the signal that ended it (POSIX only).
    virtual void process_ended(int id, bool exited, int code) = 0;

protected:
    ~ChildReceiver() = default;
};

class ChildSet {
public:
    ChildSet();
    // Kills and reaps every child still running.
    ~ChildSet();
    ChildSet(const ChildSet&) = delete;
    ChildSet& operator=(const ChildSet&) = delete;

    // Starts program with the arguments (after its name) and exactly this environment ("NAME=value"
    // entries). The id (0, 1, ...), or -1 with *problem.
    int start(const std::string& program, const std::vector<std::string>& arguments,
              const std::vector<std::string>& environment, std::string* problem);
    // Asks the child to press its Cancel.
    void cancel(int id);
    // Ends the child now.
    void kill(int id);
    // Waits at most timeout_ms for output, an end or an interrupt, and hands what came over.
    void wait(int timeout_ms, ChildReceiver& receiver);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Ctrl-C and a request to end (SIGTERM) counted instead of ending this process; each one also ends
// a ChildSet::wait at once.
void interrupts_catch();
int interrupts_count();

// This process's environment, "NAME=value" entries.
std::vector<std::string> process_environment();
// This program's own file, so that each child runs the very same build (argv0 when the system does
// not say).
std::string own_program_path(const char* argv0);

