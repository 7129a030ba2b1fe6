// Helpers the write and operation benchmarks share: the people table's data, SQLite calls
// that stop the program on error, timing, and measuring a step in a child process.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline const char* const kCities[] = {
    "Berlin",    "Hamburg",     "Muenchen", "Koeln",    "Frankfurt am Main",
    "Stuttgart", "Duesseldorf", "Leipzig",  "Dortmund", "Essen"};

// The record i of every table: deterministic, so that Paradox and SQLite hold the same data.
inline std::string nameOf(long i) {
    return "Customer " + std::to_string(i * 7919 % 1000003);
}
inline const char* cityOf(long i) {
    return kCities[i % 10];
}
inline double amountOf(long i) {
    return static_cast<double>(i % 100000) / 100.0;
}
//! The memo of one record in ten (a sub-allocated blob of about 100 bytes), else empty.
inline std::string noteOf(long i) {
    if (i % 10 != 0) return {};
    return "Note for record " + std::to_string(i) +
           ": delivered on time, invoice sent, customer asked for a call back next week.";
}

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline void check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

inline void exec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s: %s\n", sql.c_str(), err ? err : "?");
        std::exit(1);
    }
}

//! What a measured step hands back to the parent process.
struct Result {
    double seconds = 0;
    long count = 0;   //!< records written, changed or deleted, for the sanity check
    long peakKiB = 0; //!< filled in by the parent: the child's peak resident size
};

//! Runs a step in a child process and returns its result and the child's peak RSS.
inline Result inChild(const std::function<Result()>& step) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(1);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const Result r = step();
        if (write(fds[1], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Result r;
    const bool got = read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!got || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a measured step failed\n");
        std::exit(1);
    }
    r.peakKiB = usage.ru_maxrss;
    return r;
}

inline double mib(std::uintmax_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

//! Bytes of every file of a table family (same stem) in dir.
inline std::uintmax_t familySize(const fs::path& dir, const std::string& stem) {
    std::uintmax_t total = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().stem() == stem) total += e.file_size();
    return total;
}

//! A fresh directory under the system's temporary directory (or dir, created, if given).
inline fs::path workDirectory(const char* prefix, const fs::path& keep) {
    if (!keep.empty()) {
        fs::create_directories(keep);
        return keep;
    }
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    return fs::path(mkdtemp(pattern.data()));
}

//! One line of the figures table: Paradox, SQLite, their ratio and both peaks.
inline void printRow(const char* what, const Result& px, const Result& sq) {
    std::printf("%-44s %9.2fs %9.2fs %7.2fx %8.1fMB %8.1fMB\n", what, px.seconds, sq.seconds,
                px.seconds / sq.seconds, px.peakKiB / 1024.0, sq.peakKiB / 1024.0);
}
inline void printHeader(const char* ours = "Paradox", const char* theirs = "SQLite",
                        const char* oursPeak = "peak px", const char* theirsPeak = "peak sq") {
    std::printf("\n%-44s %10s %10s %8s %10s %10s\n", "", ours, theirs, "ratio", oursPeak,
                theirsPeak);
}

} // namespace bench
