// bench_protocol: what the run protocol costs per record in the window (offscreen), apart
// from any table work: the same walk of N records with a step that does nothing, once with a
// host that does nothing and once with the window's host (status panels on every record,
// repaints coalesced, pending messages let run, the cancel check).
//
// Usage: bench_protocol [records]

#include "app/DialogService.h"
#include "app/FieldsmithForm.h"
#include "app/WindowRunHost.h"
#include "app/run/RunProtocol.h"
#include "app/run/TestHost.h"
#include "engine/Session.h"

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace fieldsmith;
using Clock = std::chrono::steady_clock;

// A table of n records that exists only as a count.
class CountingCursor : public run::WalkCursor {
public:
    explicit CountingCursor(std::int64_t n) : n_(n) {}
    void open() override {}
    std::int64_t recordCount() override { return n_; }
    void next() override {}
    void close() override {}

private:
    std::int64_t n_;
};

// A host that does nothing at all: the baseline of the walk itself.
class NullHost : public run::TestHost {
public:
    void setStatusText(int, const std::string&) override {}
    void processPendingMessages() override {}
};

double walk(run::RunHost& host, std::int64_t records, const engine::FormatSettings& formats) {
    CountingCursor cursor(records);
    run::WalkStyle style; // the shape of Change Field: panels 1 and 2 on every record
    style.waitCursor = true;
    const auto start = Clock::now();
    run::runWalk(host, cursor, style, [] { return false; }, &formats);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    const std::int64_t records = argc > 1 ? std::atol(argv[1]) : 1'000'000;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qargc = 1;
    QApplication app(qargc, argv);
    engine::Session session;
    app::TFieldsmithForm form(session, {});
    form.setDialogService(std::make_unique<app::ScriptedDialogs>());
    form.show();

    NullHost null;
    const double base = walk(null, records, session.formats());
    const double window = walk(form.runHost(), records, session.formats());
    // With the duration panel as well (Change Field partially, New Value IF).
    std::printf("bench_protocol: %lld records, step does nothing\n", static_cast<long long>(records));
    std::printf("  walk with a host that does nothing   %8.3fs  %6.3f us/record\n", base,
                base / static_cast<double>(records) * 1e6);
    std::printf("  walk with the window's host          %8.3fs  %6.3f us/record\n", window,
                window / static_cast<double>(records) * 1e6);
    std::printf("  run protocol overhead in the window  %15.3f us/record\n",
                (window - base) / static_cast<double>(records) * 1e6);
    return 0;
}
