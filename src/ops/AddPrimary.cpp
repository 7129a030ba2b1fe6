#include "AddPrimary.h"

#include "CounterTables.h"
#include "OpsCommon.h"
#include "app/run/Operations.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"
#include "engine/EngineError.h"
#include "engine/Session.h"
#include "engine/Table.h"
#include "tables/IndexRestore.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <optional>

namespace fieldsmith::ops {

namespace {

// The first failing check's message, and the control that gets the focus.
struct Check {
    const char* message = nullptr;
    const char* focus = nullptr;
};

Check validate(const run::Seite5Inputs& in) {
    if (in.AliasBox.empty()) return {run::kAliasMustBeSpecified.data()};
    if (in.TabellenBox.empty()) return {run::kTableMustBeSpecified.data()};
    if (in.FeldBox.empty()) return {"Target field must be specified!"};
    if (in.getPrimRadio && in.PrimaryBox.empty()) return {"Primary field must be specified!"};
    if (in.useNumberRadio && in.NumberEdit.empty()) return {"Primary field START-VALUE must be specified!"};
    if (in.useNumberRadio && !pageInteger(in.NumberEdit)) return {"START-VALUE must be a NUMBER!"};
    if (in.ChangeOnFeldChangeCheck && in.ChangeOnFeldBox.empty())
        return {"Change value-in-field must be specified!", "ChangeOnFeldBox"};
    if (in.AddPrimUsePrefixCheck && in.AddPrimPrefixEdit.empty())
        return {"no prefix specified! Unselect option or specify prefix"};
    if (!pageInteger(in.AddPrimStartRecordEdit)) return {"START with record-VALUE must be a NUMBER!"};
    return {};
}

// The largest number a field takes as a key value after this prefix; none for the types
// whose own checks refuse a number anyway.
std::optional<std::int64_t> largestNumberFor(engine::FieldType type, int size, std::size_t prefix) {
    using engine::FieldType;
    switch (type) {
    case FieldType::ftSmallint: return 32767;
    case FieldType::ftWord: return 65535;
    case FieldType::ftInteger:
    case FieldType::ftAutoInc: return 2147483647;
    case FieldType::ftLargeint:
    case FieldType::ftFloat:
    case FieldType::ftCurrency:
    case FieldType::ftBCD: return std::int64_t(1) << 53; // whole numbers a double keeps exactly
    case FieldType::ftString:
    case FieldType::ftFixedChar:
    case FieldType::ftWideString: {
        const int digits = size - static_cast<int>(prefix);
        if (digits <= 0) return 0;
        if (digits >= 18) return std::numeric_limits<std::int64_t>::max();
        std::int64_t limit = 1;
        for (int i = 0; i < digits; ++i) limit *= 10;
        return limit - 1;
    }
    default: return std::nullopt;
    }
}

// How many numbers the walk from record `start` draws: one per record, or with "new number
// when field value changes" one per change of that field's value.
std::int64_t numbersNeeded(engine::Table& t, const run::Seite5Inputs& in, std::int64_t start) {
    const std::int64_t walked = std::max<std::int64_t>(0, t.recordCount() - start + 1);
    if (!in.ChangeOnFeldChangeCheck) return walked;
    std::int64_t needed = 0;
    std::string previous;
    t.first();
    if (start > 1) t.moveBy(start - 1);
    for (std::int64_t i = 0; i < walked && !t.eof(); ++i, t.next()) {
        const std::string value = t.fieldByName(in.ChangeOnFeldBox).asString();
        if (value != previous) ++needed;
        previous = value;
    }
    return needed;
}

// The check that a run's numbers fit the target field, made before anything is opened for
// writing; an empty text when they fit or when the table cannot be read yet (the run
// itself then reports why).
std::string numbersCheck(engine::Session& session, const run::Seite5Inputs& in, std::int64_t start) {
    try {
        engine::Table t(session);
        t.setDatabaseName(in.AliasBox);
        t.setTableName(in.TabellenBox);
        t.open();
        const engine::Field target = t.fieldByName(in.FeldBox);
        const std::size_t prefix = in.AddPrimUsePrefixCheck ? in.AddPrimPrefixEdit.size() : 0;
        auto limit = largestNumberFor(target.type(), target.size(), prefix);
        std::int64_t last = 0;
        if (in.getPrimRadio) {
            engine::Table counter(session);
            const auto names = counterNamesFor(in.PrimaryBox);
            counter.setDatabaseName("KESTREL");
            counter.setTableName(names.table);
            counter.open();
            last = counter.fieldByName(names.field).asInteger();
        } else {
            last = *pageInteger(in.NumberEdit);
            // The number box holds signed 32-bit numbers.
            limit = std::min<std::int64_t>(limit.value_or(2147483647), 2147483647);
        }
        if (!limit) return {};
        last += numbersNeeded(t, in, start);
        if (last <= *limit) return {};
        return (in.getPrimRadio ? "The counter of " + in.PrimaryBox + " is too high"
                                : std::string("START-VALUE is too high")) +
               ": this run needs numbers up to " + std::to_string(last) + ", but field " +
               in.FeldBox + " holds at most " + std::to_string(*limit) + "!";
    } catch (const std::exception&) {
        return {};
    }
}

std::string panelTwo(std::int64_t updated, std::int64_t assigned) {
    return std::to_string(updated) + " records updated; - " + std::to_string(assigned) +
           " values assigned to empty records!";
}

} // namespace

void ProcessAddPrimary(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    run::Seite5Inputs& in = ctx.inputs.Seite5;
    engine::Table& temp = ctx.shared.TempTable;
    engine::Table& prim = ctx.shared.PrimTable;
    host.showPage("Seite5");
    if (const Check c = validate(in); c.message) {
        host.showError(c.message);
        if (c.focus) host.focusControl(c.focus);
        return;
    }
    std::int32_t start = *pageInteger(in.AddPrimStartRecordEdit);
    if (start < 1) {
        in.AddPrimStartRecordEdit = "1";
        host.inputWritten("AddPrimStartRecordEdit");
        start = 1;
    }

    if (const std::string problem = numbersCheck(ctx.session, in, start); !problem.empty()) {
        host.showError(problem);
        return;
    }

    run::RunningState running(host, true);
    std::int64_t processed = 0, updated = 0, assigned = 0, total = 0;
    std::exception_ptr failure;
    try {
        if (in.getPrimRadio) openCounterTable(host, prim, in.PrimaryBox);
        tables::DeleteAllIndexes(host, ctx.session, in.AliasBox, in.TabellenBox);

        temp.close();
        temp.setDatabaseName(in.AliasBox);
        temp.setTableName(in.TabellenBox);
        temp.setIndexFieldNames("");
        temp.open();
        temp.cancelRange();
        temp.refresh();
        temp.first();
        total = temp.recordCount();
        if (start > 1) temp.moveBy(start - 1);

        std::int64_t current = 0;
        std::string previous;
        for (std::int64_t step = 0; step < total && !temp.eof(); ++step) {
            bool takesNumber = true;
            if (in.ChangeOnFeldChangeCheck)
                takesNumber = temp.fieldByName(in.ChangeOnFeldBox).asString() != previous;
            if (takesNumber) {
                if (in.getPrimRadio) {
                    current = GetNewNumber(prim, in.PrimaryBox);
                } else {
                    const auto last = pageInteger(in.NumberEdit);
                    if (!last) throw engine::EngineError("'" + in.NumberEdit + "' is not a valid integer value");
                    current = static_cast<std::int64_t>(*last) + 1;
                    in.NumberEdit = std::to_string(current);
                    host.inputWritten("NumberEdit");
                }
            }
            bool stop = false;
            if (current > 0) {
                const std::string key = (in.AddPrimUsePrefixCheck ? in.AddPrimPrefixEdit : std::string()) +
                                        std::to_string(current);
                engine::Field target = temp.fieldByName(in.FeldBox);
                if (engine::isStringType(target.type()) && static_cast<int>(key.size()) > target.size())
                    throw engine::EngineError(engine::ErrorKind::BadValue,
                                              "Key value " + key + " does not fit field " + in.FeldBox +
                                                  " (" + std::to_string(target.size()) + " characters)");
                const bool write = !in.LeerFeldCheck || target.asString().empty();
                if (write) {
                    temp.edit();
                    target.setAsString(key);
                    temp.post();
                    ++(in.LeerFeldCheck ? assigned : updated);
                }
            } else {
                stop = host.confirm("Field not updated!\rStop Process?");
            }
            if (stop) break;
            host.setStatusText(1, std::to_string(processed + 1) + " records of " + std::to_string(total) + " processed");
            host.setStatusText(2, panelTwo(updated, assigned));
            if (in.ChangeOnFeldChangeCheck) previous = temp.fieldByName(in.ChangeOnFeldBox).asString();
            temp.next();
            ++processed;
            host.processPendingMessages();
            if (run::abortRequested(host, run::kAbortProcessCapital)) break;
        }
    } catch (...) {
        failure = std::current_exception();
    }

    // The finish runs on every way out, then an error is reported.
    running.restoreCursor();
    host.showInformation(run::completionMessage(processed, total));
    running.leave();
    try {
        closeCounterTable(prim);
        temp.close();
        const std::string name = tables::tableNameWithExtension(in.TabellenBox);
        if (std::filesystem::exists(tables::indexListPath(ctx.session, in.AliasBox, name)))
            tables::RestoreAllIndexes(host, ctx.session, in.AliasBox, name);
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
}

} // namespace fieldsmith::ops
