#include "bench/peak_memory.h"

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <fstream>

namespace ob310 {

namespace {

long ReadHighWaterMarkKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

}  // namespace

// The child's getrusage figure (ru_maxrss) is no use here: Linux folds the
// high-water mark of the memory the child had before exec, a copy of this
// benchmark process, into it. Instead the child is traced, stopped on its way
// out (PTRACE_O_TRACEEXIT) while its memory still exists, and its own VmHWM
// read from /proc.
long PeakResidentKiB(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& workDir, int& exitStatus) {
    exitStatus = -1;
    const pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        if (null < 0 || chdir(workDir.c_str()) != 0) {
            _exit(127);
        }
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }

    long peak = -1;
    int status = 0;
    // The first stop is the SIGTRAP that follows a traced exec.
    if (waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
        ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        while (waitpid(pid, &status, 0) == pid) {
            if (WIFEXITED(status) || WIFSIGNALED(status)) {
                break;
            }
            if (!WIFSTOPPED(status)) {
                continue;
            }
            long signal = 0;
            if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                peak = ReadHighWaterMarkKiB(pid);
            } else {
                signal = WSTOPSIG(status);  // pass on any other signal
            }
            ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void*>(signal));
        }
    }
    if (WIFEXITED(status)) {
        exitStatus = WEXITSTATUS(status);
    }
    return peak;
}

}  // namespace ob310
