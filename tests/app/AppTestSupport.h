// Helpers of the window and run-protocol tests: temporary directories, tables made through
// the engine, and a walk cursor that stands in for a table.
#pragma once

#include "app/run/RunProtocol.h"
#include "support/TempDir.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fieldsmith::engine {
class Session;
}

namespace fieldsmith::apptest {

using TempDir = test::TempDir;

//! Creates a Paradox table of string fields (size 20) with the given rows. keyFields > 0
//! makes the leading fields the primary key.
void makeTable(engine::Session& session, const std::string& alias, const std::string& name,
               const std::vector<std::string>& fields,
               const std::vector<std::vector<std::string>>& rows, int keyFields = 0);

//! One column of a table in primary order.
std::vector<std::string> column(engine::Session& session, const std::string& alias,
                                const std::string& name, const std::string& field);

//! A table of n records that exists only in memory, for walks whose table does not matter.
class FakeCursor : public run::WalkCursor {
public:
    explicit FakeCursor(std::int64_t records) : records_(records) {}

    bool failOpen = false;
    bool failFinish = false; //!< flushing the walk's changes fails (a full disk, say)
    //! Called by open(), recordCount(), next() so tests can grow the table or fail.
    std::function<void()> onNext;
    int opened = 0, closed = 0, nexts = 0, finished = 0;
    std::int64_t countAfterFirstCall = -1; //!< >= 0: the count reads differently later

    void open() override {
        ++opened;
        if (failOpen) throw std::runtime_error("Table does not exist: MISSING.DB");
    }
    std::int64_t recordCount() override {
        const auto n = records_;
        if (countAfterFirstCall >= 0) records_ = countAfterFirstCall;
        return n;
    }
    void next() override {
        ++nexts;
        if (onNext) onNext();
    }
    void finish() override {
        ++finished;
        if (failFinish) throw std::runtime_error("Cannot write KUNDEN.PX: No space left on device");
    }
    void close() override { ++closed; }

private:
    std::int64_t records_;
};

} // namespace fieldsmith::apptest
