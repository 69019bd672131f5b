#include "tests/e2e/process_runner.h"

#include "tests/support/file_bytes.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

// Quotes one argument the way the C runtime's command-line parser reads it
// back: backslashes double only in front of a quote.
std::wstring QuoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') quoted.append(2 * backslashes + 1, L'\\');
        else quoted.append(backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

HANDLE InheritableFile(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.bInheritHandle = TRUE;
    return CreateFileW(path.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &security, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}
#endif

}  // namespace

std::string NativePath(const std::string& path) {
#ifdef _WIN32
    // Wine maps the whole POSIX file system to drive Z:.
    if (!path.empty() && path.front() == '/') {
        std::string windowsPath = "Z:" + path;
        for (char& c : windowsPath) {
            if (c == '/') c = '\\';
        }
        return windowsPath;
    }
#endif
    return path;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workDir) {
    ProcessResult result;
    // The streams go to files beside the working folder rather than pipes, so
    // a chatty child can never block on a full pipe.
    const std::filesystem::path outPath = workDir + ".stdout";
    const std::filesystem::path errPath = workDir + ".stderr";

#ifdef _WIN32
    std::wstring commandLine = QuoteArgument(Widen(program));
    for (const std::string& argument : arguments) commandLine += L" " + QuoteArgument(Widen(argument));

    HANDLE in = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const std::wstring dir = Widen(workDir);
    result.started = CreateProcessW(Widen(program).c_str(), commandLine.data(), nullptr, nullptr,
                                    TRUE, 0, nullptr, dir.c_str(), &startup, &process) != 0;
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (result.started) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitStatus = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
#else
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(workDir.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid > 0) {
        int status = 0;
        pid_t waited = -1;
        do {
            waited = waitpid(pid, &status, 0);
        } while (waited < 0 && errno == EINTR);
        result.started = waited == pid;
        // A child killed by a signal reports 128 + the signal, as shells do.
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
#endif
    result.output = ReadFileBytes(outPath);
    result.errorOutput = ReadFileBytes(errPath);
    std::error_code ec;
    std::filesystem::remove(outPath, ec);
    std::filesystem::remove(errPath, ec);
    return result;
}
