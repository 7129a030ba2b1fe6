#include "viewer/ProgramStart.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fieldsmith::viewer {

namespace {

// The file that exec would run: a name with a "/" as it is, else the first executable
// match in PATH; empty when there is none.
std::string resolve(const std::string& program) {
    if (program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        std::size_t end = dirs.find(':', pos);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = end > pos ? dirs.substr(pos, end - pos) : std::string(".");
        candidate += '/';
        candidate += program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        pos = end + 1;
    }
    return {};
}

int resultOf(int error, bool inChdir) {
    if (inChdir) return kStartPathNotFound;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return kStartFileNotFound;
    case EACCES:
    case EPERM:
        return kStartAccessDenied;
    case ENOEXEC:
    case ELIBBAD:
    case ETXTBSY:
        return kStartBadFormat;
    case ENOMEM:
    case E2BIG:
        return kStartNoMemory;
    default:
        return kStartOutOfResources;
    }
}

} // namespace

int startProgram(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& workingDirectory) {
    const std::string file = resolve(program);
    if (file.empty()) return kStartFileNotFound;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) return resultOf(errno, false);
    if (S_ISDIR(st.st_mode)) return kStartAccessDenied;
    if (!workingDirectory.empty() &&
        (::stat(workingDirectory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        return kStartPathNotFound;

    // Everything exec needs is prepared before the fork.
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    // The grandchild reports a failed chdir or exec through the pipe, which closes
    // unwritten when exec succeeds; the child in between ends at once, so the program
    // belongs to no one here and leaves no zombie.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return kStartOutOfResources;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return kStartNoMemory;
    }
    if (child == 0) {
        ::close(report[0]);
        const pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        ::setsid();
        int message[2] = {0, 0};
        if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) {
            message[0] = errno;
            message[1] = 1;
        } else {
            ::execv(file.c_str(), argv.data());
            message[0] = errno;
        }
        [[maybe_unused]] const auto n = ::write(report[1], message, sizeof message);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int message[2] = {0, 0};
    ssize_t got;
    while ((got = ::read(report[0], message, sizeof message)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0) return kStartNoMemory;
    if (got == static_cast<ssize_t>(sizeof message)) return resultOf(message[0], message[1] != 0);
    return kStartOk;
}

} // namespace fieldsmith::viewer
