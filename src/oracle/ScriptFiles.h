// Files the Oracle exchange writes: written through a buffer into a file beside the target,
// which replaces the target only when it is complete, so a run that fails before that
// leaves an older file of the name as it was.
#pragma once

#include <string>
#include <string_view>

namespace fieldsmith::oracle {

class ScriptFileWriter {
public:
    //! Creates the file beside path that commit() renames to path. Throws
    //! std::runtime_error naming the file and the system's reason.
    explicit ScriptFileWriter(std::string path);
    //! Without commit(), removes what was written: the target stays untouched.
    ~ScriptFileWriter();
    ScriptFileWriter(const ScriptFileWriter&) = delete;
    ScriptFileWriter& operator=(const ScriptFileWriter&) = delete;

    void write(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= kBufferSize) flush();
    }
    //! Writes what is buffered, syncs, and replaces the target by the file.
    void commit();

private:
    static constexpr std::size_t kBufferSize = 1 << 20;
    void flush();
    [[noreturn]] void fail(const std::string& path, int error);

    std::string path_, partPath_;
    int fd_ = -1;
    std::string buffer_;
};

} // namespace fieldsmith::oracle
