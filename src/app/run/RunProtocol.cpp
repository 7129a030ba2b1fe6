#include "app/run/RunProtocol.h"

#include "app/run/Texts.h"
#include "engine/EngineError.h"
#include "engine/FormatSettings.h"
#include "engine/Table.h"

#include <algorithm>
#include <chrono>

namespace fieldsmith::run {

bool abortRequested(RunHost& host, std::string_view abortText) {
    if (host.CancelRequested != 1) return false;
    const bool yes = host.confirm(std::string(abortText));
    if (yes) host.UpdateAnsicht(true);
    // A press of Cancel while the question was open counts as answered by it.
    host.CancelRequested = 0;
    return yes;
}

RunningState::RunningState(RunHost& host, bool waitCursor) : host_(host), waitCursor_(waitCursor) {
    if (waitCursor_) host_.WarteMaus();
    host_.UpdateAnsicht(false);
}

RunningState::~RunningState() {
    try {
        restoreCursor();
        leave();
    } catch (...) {
        // A host that fails while restoring the window has nothing better to do here.
    }
}

void RunningState::restoreCursor() {
    if (cursorRestored_) return;
    cursorRestored_ = true;
    if (waitCursor_) host_.PfeilMaus();
}

void RunningState::leave() {
    if (left_) return;
    left_ = true;
    host_.UpdateAnsicht(true);
    host_.CancelRequested = 0;
}

TableWalkCursor::TableWalkCursor(engine::Table& table, std::string alias, std::string tableName,
                                 std::string indexFieldNames, std::vector<std::string> writtenFields)
    : table_(table), alias_(std::move(alias)), tableName_(std::move(tableName)),
      indexFieldNames_(std::move(indexFieldNames)), writtenFields_(std::move(writtenFields)) {}

void TableWalkCursor::open() {
    table_.close();
    table_.setDatabaseName(alias_);
    table_.setTableName(tableName_);
    table_.setIndexFieldNames(indexFieldNames_);
    table_.open();
    table_.cancelRange();
    table_.refresh();
    table_.requireWritable();
    byIdentity_ = table_.orderDependsOn(writtenFields_);
    at_ = 0;
    if (byIdentity_) {
        identities_ = table_.identities();
        if (identities_.size() > 0) table_.gotoIdentity(identities_.at(0));
        return;
    }
    table_.first();
}

std::int64_t TableWalkCursor::recordCount() {
    return byIdentity_ ? static_cast<std::int64_t>(identities_.size()) : table_.recordCount();
}

void TableWalkCursor::next() {
    if (!byIdentity_) {
        table_.next();
        return;
    }
    if (at_ + 1 >= identities_.size()) {
        table_.next(); // past the last record, as a walk in order ends
        return;
    }
    ++at_;
    if (!table_.gotoIdentity(identities_.at(at_)))
        throw engine::EngineError(engine::ErrorKind::NoRecord,
                                  "A record of table " + tableName_ + " disappeared during the run");
}

void TableWalkCursor::reserve(RunHost& host) {
    for (;;) {
        try {
            table_.beginWriting();
            return;
        } catch (const engine::EngineError& e) {
            if (!e.isDatabaseError() ||
                !host.askRetry("Table " + tableName_ + " is in use by someone else - OK to try again?"))
                throw;
        }
    }
}

void TableWalkCursor::finish() {
    table_.flush();
}

void TableWalkCursor::close() {
    table_.close();
}

namespace {

void progressText(std::string& out, const WalkStyle& style, std::int64_t n, std::int64_t total) {
    if (style.format == ProgressFormat::ProcessedOf)
        processedOf(out, n, total);
    else
        recordsOfProcessed(out, n, total);
}

// The duration panel of a walk. It shows whole seconds, so the clock is read only every
// few records, the fewer the faster they go, and the text is made anew only when the second
// it shows changes: reading the clock and formatting a time for each of a million records
// cost a walk more than its writes.
class DurationPanel {
public:
    using Clock = std::chrono::steady_clock;

    DurationPanel(RunHost& host, const WalkStyle& style, const engine::FormatSettings* formats)
        : host_(host), formats_(style.useDurationPanel ? formats : nullptr),
          started_(Clock::now()), checked_(started_) {}

    //! Shows the time now, as at the start and the end of the walk.
    void show() {
        if (formats_) showAt(Clock::now());
    }

    //! Called once per record.
    void tick() {
        if (!formats_ || --countdown_ > 0) return;
        const auto now = Clock::now();
        const auto since = now - checked_;
        if (since < std::chrono::milliseconds(1)) stride_ = std::min(stride_ * 2, kMaxStride);
        else if (since > std::chrono::milliseconds(20)) stride_ = std::max(stride_ / 2, 1);
        countdown_ = stride_;
        checked_ = now;
        showAt(now);
    }

private:
    // A walk that turns slow (a server that starts to answer late) shows a stale second for
    // at most this many of its records.
    static constexpr int kMaxStride = 16;

    void showAt(Clock::time_point now) {
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(now - started_).count();
        if (seconds == shown_) return;
        shown_ = seconds;
        host_.setStatusText(0, executionDuration(seconds * 1000, *formats_));
    }

    RunHost& host_;
    const engine::FormatSettings* formats_;
    Clock::time_point started_, checked_;
    std::int64_t shown_ = -1;
    int stride_ = 1;
    int countdown_ = 1;
};

} // namespace

WalkCounters runWalk(RunHost& host, WalkCursor& cursor, const WalkStyle& style,
                     const RecordStep& step, const engine::FormatSettings* formats) {
    DurationPanel duration(host, style, formats);
    WalkCounters c;
    host.CancelRequested = 0;
    RunningState running(host, style.waitCursor);
    std::string progress, changed;
    std::int64_t changedShown = -1;
    ProgressTexts panels(host, [&](std::int64_t i) {
        progressText(progress, style, i + style.firstShown, c.total);
        host.setStatusText(1, progress);
        // The changed count is told again only when it changed: every host shows a
        // panel's text as it last got it.
        if (style.useChangedPanel && changedShown != c.changed) {
            recordsChanged(changed, c.changed);
            changedShown = c.changed;
            host.setStatusText(2, changed);
        }
    });
    try {
        cursor.open();
        cursor.reserve(host);
        c.total = cursor.recordCount();
        duration.show();
        for (std::int64_t i = 0; i < c.total; ++i) {
            if (step()) ++c.changed;
            if (style.freshTableOrder) cursor.next();
            panels.done(i, i + 1 == c.total);
            duration.tick();
            if (!style.freshTableOrder) {
                cursor.next();
                ++c.processed;
            }
            host.processPendingMessages();
            panels.beforeQuestion();
            if (abortRequested(host, style.abortText)) break;
            if (style.freshTableOrder) ++c.processed;
        }
        duration.show();
        // A run that cannot leave its table written and indexed did not complete.
        cursor.finish();
        running.restoreCursor();
        host.showInformation(completionMessage(c.processed, c.total, style.completionEnding));
        running.leave();
        cursor.close();
    } catch (...) {
        // The panels tell how far the walk came; what was posted is written through and the
        // table closed as far as they go; the first error is the one the user needs to see.
        try {
            panels.finish(panels.last());
        } catch (...) {
        }
        try {
            cursor.finish();
        } catch (...) {
        }
        try {
            cursor.close();
        } catch (...) {
        }
        running.restoreCursor();
        if (style.completionAfterError)
            host.showInformation(completionMessage(c.processed, c.total, style.completionEnding));
        running.leave();
        throw;
    }
    return c;
}

} // namespace fieldsmith::run
