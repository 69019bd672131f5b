#include "tests/e2e/process_runner.h"

#include "tests/support/file_bytes.h"

#include <algorithm>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#endif

namespace {

#ifdef _WIN32
std::wstring Widen(const std::string& text) {
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// No argument the suites pass holds a quote or ends in a backslash, so
// quotes around each are all the runtime's command-line parser needs.
std::wstring QuoteArgument(const std::wstring& argument) { return L"\"" + argument + L"\""; }

SECURITY_ATTRIBUTES inheritable{static_cast<DWORD>(sizeof(SECURITY_ATTRIBUTES)), nullptr, TRUE};

HANDLE InheritableFile(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

using Child = HANDLE;

Child Start(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& workDir, const std::filesystem::path& outPath,
            const std::filesystem::path& errPath, ChildOutput output, int& startError) {
    std::wstring commandLine = QuoteArgument(Widen(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + QuoteArgument(Widen(argument));
    HANDLE in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = INVALID_HANDLE_VALUE, reader = nullptr;
    if (output == ChildOutput::Caught)
        out = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    else if (CreatePipe(&reader, &out, &inheritable, 0))
        CloseHandle(reader);  // the reader is gone before the child writes
    HANDLE err = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    // Wine now and then fails to bring a new process up (a start that failed
    // before the program ran a line); it is tried again, and a start that
    // keeps failing is reported with its error code.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        started = CreateProcessW(Widen(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 0, nullptr, Widen(workDir).c_str(), &startup, &process) != 0;
        if (!started)
            startError = static_cast<int>(GetLastError());
    }
    for (HANDLE handle : {in, out, err})
        CloseHandle(handle);
    if (!started)
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

int Wait(Child child) {
    WaitForSingleObject(child, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child, &code);
    CloseHandle(child);
    return static_cast<int>(code);
}
#else
using Child = pid_t;

Child Start(const std::string& program, const std::vector<std::string>& arguments,
            const std::string& workDir, const std::filesystem::path& outPath,
            const std::filesystem::path& errPath, ChildOutput output, int& startError) {
    const bool outputClosed = output != ChildOutput::Caught;
    int pipeEnds[2] = {-1, -1};
    if (outputClosed && pipe(pipeEnds) == 0)
        close(pipeEnds[0]);  // the reader is gone already
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        signal(SIGPIPE, SIG_DFL);
        const int in = open("/dev/null", O_RDONLY);
        const int out =
            outputClosed ? pipeEnds[1] : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(workDir.c_str()) != 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (output == ChildOutput::Closed)
            close(1);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (outputClosed)
        close(pipeEnds[1]);
    if (pid < 0)
        startError = errno;
    return pid > 0 ? pid : 0;
}

int Wait(Child child) {
    int status = 0;
    // A child killed by a signal reports 128 + the signal, as shells do.
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

}  // namespace

std::string NativePath(const std::string& path) {
#ifdef _WIN32
    // Wine maps the whole POSIX file system to drive Z:.
    if (!path.empty() && path.front() == '/') {
        std::string windowsPath = "Z:" + path;
        std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
        return windowsPath;
    }
#endif
    return path;
}

std::vector<ProcessResult> RunProcesses(const std::string& program,
                                        const std::vector<std::vector<std::string>>& argumentLists,
                                        const std::string& workDir, ChildOutput output) {
    // The streams go to files beside the working folder rather than pipes, so
    // a chatty child can never block on a full pipe.
    std::vector<Child> children;
    std::vector<ProcessResult> results(argumentLists.size());
    for (std::size_t i = 0; i < argumentLists.size(); ++i) {
        const std::string base = workDir + "." + std::to_string(i);
        children.push_back(Start(program, argumentLists[i], workDir, base + ".stdout",
                                 base + ".stderr", output, results[i].startError));
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        const std::string base = workDir + "." + std::to_string(i);
        results[i].started = children[i] != Child{};
        if (results[i].started)
            results[i].exitStatus = Wait(children[i]);
        results[i].output = ReadFileBytes(base + ".stdout");
        results[i].errorOutput = ReadFileBytes(base + ".stderr");
        std::error_code ec;
        std::filesystem::remove(base + ".stdout", ec);
        std::filesystem::remove(base + ".stderr", ec);
    }
    return results;
}
