// The run protocol that every record-walking operation follows: enter the running state,
// open the table, walk a fixed number of records with progress, a breather and the cancel
// check after each, finish with the completion message and return to idle on every way out.
#pragma once

#include "app/run/RunHost.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Table.h"

namespace fieldsmith::engine {
struct FormatSettings;
} // namespace fieldsmith::engine

namespace fieldsmith::run {

//! The cancel check after a record. When the flag is set, asks the abort question: Yes
//! returns the window to idle, clears the flag and returns true (leave the walk); No
//! clears the flag and returns false.
bool abortRequested(RunHost& host, std::string_view abortText);

//! A run's progress texts, made only where they are seen: when the host wants one
//! (RunHost::progressWanted), for the record a run ends with, and before the question a
//! press of Cancel asks. show(n) makes and gives the texts for record n.
class ProgressTexts {
public:
    //! shown: the record whose texts the panels already show (-1: none).
    explicit ProgressTexts(RunHost& host, std::function<void(std::int64_t n)> show,
                           std::int64_t shown = -1)
        : host_(host), show_(std::move(show)), shown_(shown) {}

    //! Record n is done: its texts are given when the host wants them, or when it is last.
    void done(std::int64_t n, bool last = false) {
        last_ = n;
        if (last || host_.progressWanted()) showFor(n);
    }
    //! Before Cancel's question: the texts of the last record done, unless shown already.
    void beforeQuestion() {
        if (host_.CancelRequested == 1) finish(last_);
    }
    //! The texts of record n, unless shown already (n < 0: nothing).
    void finish(std::int64_t n) {
        if (n >= 0 && n != shown_) showFor(n);
    }
    //! The last record done (-1 before the first).
    std::int64_t last() const { return last_; }

private:
    void showFor(std::int64_t n) {
        show_(n);
        shown_ = n;
    }

    RunHost& host_;
    std::function<void(std::int64_t)> show_;
    std::int64_t shown_;
    std::int64_t last_ = -1;
};

//! The running state for the length of a scope. The constructor shows the wait cursor (for
//! operations of that kind) and calls UpdateAnsicht(false); leave() and, failing that, the
//! destructor return the arrow cursor, the idle state and a cleared cancel flag, so that
//! an error cannot leave the window running.
class RunningState {
public:
    RunningState(RunHost& host, bool waitCursor);
    ~RunningState();
    RunningState(const RunningState&) = delete;
    RunningState& operator=(const RunningState&) = delete;

    //! The arrow cursor again, where the wait cursor was shown.
    void restoreCursor();
    //! Idle again and the flag cleared. Safe to call more than once.
    void leave();

private:
    RunHost& host_;
    bool waitCursor_;
    bool cursorRestored_ = false;
    bool left_ = false;
};

//! The table side of a walk: how the operation opens its table, counts and steps through
//! it. TableWalkCursor does it on a table of the engine.
class WalkCursor {
public:
    virtual ~WalkCursor() = default;
    //! Close, set up, open and go to the first record.
    virtual void open() = 0;
    virtual std::int64_t recordCount() = 0;
    //! Move to the next record; at the end the cursor stays where it is.
    virtual void next() = 0;
    //! After open: takes what writing needs, asking the user to try again while another
    //! program has it.
    virtual void reserve(RunHost&) {}
    //! Writes the walk's changes through to the disk before the run reports completion.
    virtual void finish() {}
    virtual void close() = 0;
};

//! A walk over an engine table: closes it, sets database and table name and the index
//! field names (empty: primary order), opens it shared, drops any range, refreshes and
//! goes to the first record. Before the first record it makes sure the run's changes can be
//! written and flushed. When the walk writes fields that its order depends on, it goes by
//! the identities of the records as they stood before the first write, so that a record
//! that moves is met exactly once.
class TableWalkCursor : public WalkCursor {
public:
    TableWalkCursor(engine::Table& table, std::string alias, std::string tableName,
                    std::string indexFieldNames = {}, std::vector<std::string> writtenFields = {});
    void open() override;
    std::int64_t recordCount() override;
    void next() override;
    //! The writer role of the table, with the retry question while another program writes.
    void reserve(RunHost& host) override;
    void finish() override;
    void close() override;

private:
    engine::Table& table_;
    std::string alias_, tableName_, indexFieldNames_;
    std::vector<std::string> writtenFields_;
    bool byIdentity_ = false;
    engine::IdentityList identities_;
    std::size_t at_ = 0;
};

enum class ProgressFormat {
    RecordsOfProcessed, //!< "{n} Records of {N} processed"
    ProcessedOf,        //!< "processed: {n} of {N}"
};

//! How one operation walks: the columns of the run protocol's table of differences.
struct WalkStyle {
    bool waitCursor = false;
    ProgressFormat format = ProgressFormat::RecordsOfProcessed;
    int firstShown = 0; //!< the panel's n for the first record: 0 or 1
    bool useChangedPanel = true;
    bool useDurationPanel = false;
    std::string abortText = "Abort process?";
    std::string completionEnding; //!< what follows "{processed} Records of {total} processed"
    //! Wait-cursor operations still show the completion message when an error ends the run.
    bool completionAfterError = false;
    //! Operations with fresh table objects write the panels after the move and count a
    //! record only after the cancel check, so an aborted record is not counted.
    bool freshTableOrder = false;
};

struct WalkCounters {
    std::int64_t total = 0;
    std::int64_t processed = 0;
    std::int64_t changed = 0;
};

//! One record's own work; returns true when it posted the record (counted as changed).
using RecordStep = std::function<bool()>;

//! Runs the protocol from the running state to idle: running state, open, total, the walk,
//! completion message, idle. An error that ends the run still closes the table and returns
//! the window to idle; it then propagates to the caller (the application's error box).
//! Validation is the caller's, before this call. formats gives the duration panel's time
//! format (may be null when the style does not use that panel).
WalkCounters runWalk(RunHost& host, WalkCursor& cursor, const WalkStyle& style,
                     const RecordStep& step, const engine::FormatSettings* formats = nullptr);

} // namespace fieldsmith::run
