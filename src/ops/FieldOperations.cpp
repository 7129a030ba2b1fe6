#include "FieldOperations.h"

#include "AddPrimary.h"
#include "OpsCommon.h"
#include "ValueRules.h"
#include "app/run/Operations.h"
#include "app/run/RunProtocol.h"
#include "app/run/Texts.h"
#include "engine/EngineError.h"
#include "engine/FileIo.h"
#include "engine/Table.h"

#include <fstream>
#include <memory>

namespace fieldsmith::ops {

using engine::DataSetState;
using engine::Table;

namespace {

// Writes one field of the current record: edit, set as text, and a post when the table
// is in edit or insert state. True when it posted.
bool writeField(Table& t, const std::string& field, const std::string& text) {
    t.edit();
    t.fieldByName(field).setAsString(text);
    if (t.state() == DataSetState::Edit || t.state() == DataSetState::Insert) {
        t.post();
        return true;
    }
    return false;
}

// A walk over a table with hooks around opening and closing.
class OperationCursor : public run::TableWalkCursor {
public:
    struct Options {
        bool closeAtEnd = true;
        bool suspendControls = false;      //!< no data-change signals during the walk
        std::function<void()> afterOpen{}; //!< runs once the table is open
    };
    //! written: the fields the walk writes, so that it can keep to the records as they
    //! stood when it began although they move in its order.
    OperationCursor(Table& table, std::string alias, std::string name, std::string indexFields,
                    std::vector<std::string> written, Options options)
        : TableWalkCursor(table, std::move(alias), std::move(name), std::move(indexFields),
                          std::move(written)),
          table_(table), options_(std::move(options)) {}
    void open() override {
        TableWalkCursor::open();
        if (options_.suspendControls) {
            table_.disableControls();
            disabled_ = true;
        }
        if (options_.afterOpen) options_.afterOpen();
    }
    void close() override {
        if (disabled_) {
            table_.enableControls();
            disabled_ = false;
        }
        if (options_.closeAtEnd) TableWalkCursor::close();
    }

private:
    Table& table_;
    Options options_;
    bool disabled_ = false;
};

// Folds a to z into capitals; every other byte stays.
std::string foldAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

bool isEmpty(const std::string& s) { return s.empty(); }

} // namespace

// ------------------------------------------------------------------------------ Copy Field

void executeMoveFelder(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::Seite1Inputs& in = ctx.inputs.Seite1;
    auto& fehler = ctx.shared.FehlerListe;
    host.CancelRequested = 0;
    fehler.clear();
    std::int64_t total = 0, processed = 0, changed = 0, notFound = 0;
    const char* message = nullptr;
    if (isEmpty(in.AliasBoxS1)) message = run::kAliasMustBeSpecified.data();
    else if (isEmpty(in.TableBoxS1)) message = run::kTableMustBeSpecified.data();
    else if (!in.GenNewRecsCheck && isEmpty(in.IndexFeld1Box)) message = "Index-Field1 must be specified!";
    else if (!in.GenNewRecsCheck && isEmpty(in.IndexFeld2Box)) message = "Index-Field2 must be specified!";
    else if (isEmpty(in.Feld2Box)) message = "Source Field must be specified!";
    else if (isEmpty(in.ZielFeldBox)) message = "Target field must be specified!";
    if (message) {
        host.showError(message);
        return;
    }

    auto source = std::make_unique<Table>(ctx.session);
    auto target = std::make_unique<Table>(ctx.session);
    std::exception_ptr failure;
    try {
        source->setDatabaseName(in.AliasBoxS1);
        source->setTableName(in.TableBoxS1);
        source->setIndexFieldNames("");
        source->open();
        source->refresh();
        source->first();
        target->setDatabaseName(in.AliasBox2);
        target->setTableName(in.TabellenBox2);
        target->setIndexFieldNames(in.GenNewRecsCheck ? "" : in.IndexFeld2Box);
        target->open();
        target->refresh();
        target->first();

        total = source->recordCount();
        host.UpdateAnsicht(false);
        for (std::int64_t i = 1; i <= total; ++i) {
            // The inputs are read afresh for every record.
            const std::string key = in.GenNewRecsCheck ? std::string() : source->fieldByName(in.IndexFeld1Box).asString();
            const std::string value = source->fieldByName(in.Feld2Box).asString();
            auto newValue = [&] { return in.LeereTarget ? std::string() : value; };
            if (!in.GenNewRecsCheck) {
                target->cancelRange();
                target->refresh();
                target->setRange({key}, {key});
                target->first();
                const std::int64_t inRange = target->recordCount();
                if (inRange == 0) {
                    ++notFound;
                    fehler.push_back(source->fieldByName(in.IndexFeld1Box).asString());
                }
                // The index may match without regard to case; only an exact key counts.
                auto writeHere = [&] {
                    if (target->fieldByName(in.IndexFeld2Box).asString() == key &&
                        writeField(*target, in.ZielFeldBox, newValue()))
                        ++changed;
                };
                if (target->orderDependsOn({in.ZielFeldBox})) {
                    // Writing the key field moves each record out of the range: the records
                    // are found again by identity, so that every one of them is written.
                    const engine::IdentityList ids = target->identities();
                    for (std::size_t r = 0; r < ids.size(); ++r)
                        if (target->gotoIdentity(ids.at(r))) writeHere();
                } else {
                    for (std::int64_t r = 0; r < inRange; ++r) {
                        writeHere();
                        target->next();
                    }
                }
            } else {
                target->insert();
                target->fieldByName(in.ZielFeldBox).setAsString(newValue());
                if (target->state() == DataSetState::Insert) {
                    target->post();
                    ++changed;
                }
            }
            source->next();
            host.setStatusText(1, run::processedOf(i, total));
            host.setStatusText(2, run::recordsChanged(changed));
            host.processPendingMessages();
            if (run::abortRequested(host, run::kAbortProcess)) break;
            ++processed;
        }
        host.showInformation(run::completionMessage(processed, total, "!\r\rNot found: " + std::to_string(notFound)));
    } catch (...) {
        failure = std::current_exception();
    }
    // Clean-up on every way out, then the offer to save the unmatched keys.
    try {
        source.reset();
        target.reset();
    } catch (...) {
    }
    host.UpdateAnsicht(true);
    host.CancelRequested = 0;
    try {
        if (!fehler.empty()) {
            if (auto path = host.saveFileDialog({GetExePath(), "MOVE_ERROR.TXT", "TXT"})) {
                std::string text;
                for (const auto& line : fehler) text += line + "\r\n";
                engine::writeWholeFile(*path, text);
            }
        }
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    if (failure) std::rethrow_exception(failure);
}

// ----------------------------------------------------------------------------- Change Field

void ExecuteFeldReplaceComplete(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::Seite2Inputs& in = ctx.inputs.Seite2;
    if (isEmpty(in.Change1Alias)) return host.showError(std::string(run::kAliasMustBeSpecified));
    if (isEmpty(in.Change1Table)) return host.showError(std::string(run::kTableMustBeSpecified));
    if (isEmpty(in.Change1Field)) return host.showError(std::string(run::kTargetFieldMustBeSpecified));
    if (in.ChangeSubBedBox) {
        for (const char* control : {"BedingungFeld", "Bedingung"}) {
            const std::string& text = std::string_view(control) == "BedingungFeld" ? in.BedingungFeld : in.Bedingung;
            if (!text.empty()) continue;
            host.showError("Option Field must be specified!");
            host.showPage("Seite2");
            host.focusControl(control);
            return;
        }
    }
    Table& t = ctx.shared.TempTable;
    // The table stays open after the run.
    OperationCursor cursor(t, in.Change1Alias, in.Change1Table, "", {in.Change1Field},
                           {false, false, [&] { host.setStatusText(2, run::recordsChanged(0)); }});
    run::WalkStyle style;
    style.waitCursor = true;
    style.completionAfterError = true;
    run::runWalk(host, cursor, style, [&] {
        const std::string value = t.fieldByName(in.Change1Field).asString();
        const bool match = in.CaseBox ? foldAscii(value) == foldAscii(in.vonEdit2) : value == in.vonEdit2;
        if (!match) return false;
        if (in.ChangeSubBedBox && t.fieldByName(in.BedingungFeld).asString().rfind(in.Bedingung, 0) != 0)
            return false;
        return writeField(t, in.Change1Field, in.zuEdit2);
    });
}

// ------------------------------------------------------------------- Change Field partially

void SuchenErsetzenSubStrings(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::Seite3Inputs& in = ctx.inputs.Seite3;
    host.showPage("Seite3");
    host.setStatusText(2, run::recordsChanged(0));
    auto fail = [&](const std::string& text, const char* focus) {
        host.showError(text);
        host.focusControl(focus);
    };
    if (isEmpty(in.Change2Alias)) return fail(std::string(run::kAliasMustBeSpecified), "Change2Alias");
    if (isEmpty(in.Change2Table)) return fail(std::string(run::kTableMustBeSpecified), "Change2Table");
    if (isEmpty(in.Change2Field)) return fail(std::string(run::kTargetFieldMustBeSpecified), "Change2Field");
    if (in.StringChange) {
        if (in.vonEdit.empty() &&
            !host.confirmInformation("String to be changed is empty!\rprocess empty Fields only?")) {
            host.focusControl("vonEdit");
            return;
        }
        if (in.zuEdit.empty()) return fail("New String must be specified!", "zuEdit");
    }
    // The length box is enabled only in the two modes that use it.
    if (in.SizeBox && (in.StringChange || in.AddSiteIDBtn)) {
        const auto size = pageInteger(in.SizeEdit);
        if (!size) return fail("Value must be a number!", "SizeEdit");
        if (*size < 1) return fail("Value must be > 0 !", "SizeEdit");
    }
    if (in.AddSiteIDBtn && in.zuEdit.empty()) return fail("New String must be specified!", "zuEdit");

    Table& t = ctx.shared.TempTable;
    const std::string order = in.Index3Check && !in.Index3Box.empty() ? in.Index3Box : std::string();
    OperationCursor cursor(t, in.Change2Alias, in.Change2Table, order, {in.Change2Field}, {true, true});
    run::WalkStyle style;
    style.waitCursor = true;
    style.useDurationPanel = true;
    style.completionAfterError = true;
    run::runWalk(
        host, cursor, style,
        [&]() -> bool {
            const std::string old = t.fieldByName(in.Change2Field).asString();
            std::optional<std::string> now;
            if (in.StringChange) {
                if (in.vonEdit.empty()) {
                    if (old.empty()) now = in.zuEdit;
                } else if (const auto at = old.find(in.vonEdit); at != std::string::npos) {
                    now = old.substr(0, at) + in.zuEdit + old.substr(at + in.vonEdit.size());
                }
                if (now && in.SizeBox && static_cast<long long>(old.size()) != requirePageInteger(in.SizeEdit))
                    now.reset();
            } else if (in.LeerFeld) {
                now = std::string();
            } else if (in.RemoveBlanks) {
                now = trimValue(old);
            } else if (in.OEMBtn) {
                now = ConvertOemToAnsi(old);
            } else if (in.UpperCaseBtn) {
                now = Setze_LowerCase(old);
            } else if (in.allUpperCaseBtn) {
                now = allUpperCase(old);
            } else if (in.allLowerCaseBtn) {
                now = allLowerCase(old);
            } else if (in.AddSiteIDBtn) {
                AddStringOptions o;
                o.zuEdit = in.zuEdit;
                o.SizeBox = in.SizeBox;
                if (in.SizeBox) o.size = requirePageInteger(in.SizeEdit);
                o.IfCheckAddString1 = in.IfCheckAddString1;
                o.contain = in.IfCheckAddContain;
                o.IfCheckAddString2 = in.IfCheckAddString2;
                now = addString(old, o);
            } else if (in.removeCRLFBtn) {
                now = blankLeadingCrLf(old, requirePageInteger(in.CRLFStellenEdit));
            }
            return now && writeField(t, in.Change2Field, *now);
        },
        &ctx.session.formats());
}

// ---------------------------------------------------------------------------- Merge Fields

void ExecuteMergeFelder(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::Seite4Inputs& in = ctx.inputs.Seite4;
    host.CancelRequested = 0;
    if (isEmpty(in.AliasMerge)) return host.showError("MERGE-ALIAS must be specified!");
    if (isEmpty(in.MergeTable)) return host.showError(std::string(run::kTableMustBeSpecified));
    if (isEmpty(in.MergeFeld1)) return host.showError("Field1 must be specified!");
    if (isEmpty(in.MergeTargetFeld)) return host.showError("Merge-Target-field must be specified!");
    Table t(ctx.session);
    OperationCursor cursor(t, in.AliasMerge, in.MergeTable, "", {in.MergeTargetFeld, in.MergeFeld1}, {});
    run::WalkStyle style;
    style.abortText = std::string(run::kAbortProcessCapital);
    style.completionEnding = "!";
    style.freshTableOrder = true;
    run::runWalk(host, cursor, style, [&] {
        // Built from the values as read before any write.
        const std::string first = t.fieldByName(in.MergeFeld1).asString();
        std::string merged = in.Trenn0Edit + first;
        if (!in.MergeFeld2.empty()) merged += in.Trenn1Edit + t.fieldByName(in.MergeFeld2).asString();
        if (!in.MergeFeld3.empty()) merged += in.Trenn2Edit + t.fieldByName(in.MergeFeld3).asString();
        if (!in.FeldLaengeCheck) return writeField(t, in.MergeTargetFeld, merged);
        if (static_cast<long long>(first.size()) <= requirePageInteger(in.NumCharsEdit)) return false;
        const bool posted = writeField(t, in.MergeTargetFeld, merged);
        if (in.DelSourceCheck) writeField(t, in.MergeFeld1, ""); // not counted
        return posted;
    });
}

// ---------------------------------------------------------------------------- New Value IF

void NeuValueIF(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::Seite7Inputs& in = ctx.inputs.Seite7;
    host.showPage("Seite7");
    host.setStatusText(2, run::recordsChanged(0));
    struct Check {
        bool failed;
        const char* message;
        const char* focus;
    } checks[] = {
        {isEmpty(in.Change3Alias), run::kAliasMustBeSpecified.data(), "Change3Alias"},
        {isEmpty(in.Change3Table), run::kTableMustBeSpecified.data(), "Change3Table"},
        {isEmpty(in.Change3Feld), "Test Field must be specified!", "Change3Feld"},
        {isEmpty(in.Change3Feld2), run::kTargetFieldMustBeSpecified.data(), "Change3Feld2"},
        {isEmpty(in.Change3If), "String for IF-value must be specified!", "Change3If"},
        {in.ChangeUseString && isEmpty(in.Change3Then), "New String (Target-field) must be specified!", "Change3Then"},
        {in.ChangeUseOtherField && isEmpty(in.OtherFieldBox), run::kTargetFieldMustBeSpecified.data(), "OtherFieldBox"},
    };
    for (const auto& c : checks) {
        if (!c.failed) continue;
        host.showError(c.message);
        host.focusControl(c.focus);
        return;
    }
    Table& t = ctx.shared.TempTable;
    OperationCursor cursor(t, in.Change3Alias, in.Change3Table, "", {in.Change3Feld2}, {});
    run::WalkStyle style;
    style.waitCursor = true;
    style.useDurationPanel = true;
    style.completionAfterError = true;
    run::runWalk(
        host, cursor, style,
        [&] {
            const std::string test = t.fieldByName(in.Change3Feld).asString();
            if (test.find(in.Change3If) == std::string::npos) return false;
            t.edit();
            const std::string value = in.ChangeUseString   ? in.Change3Then
                                      : in.ChangeUseIfField ? test
                                                            : t.fieldByName(in.OtherFieldBox).asString();
            t.fieldByName(in.Change3Feld2).setAsString(value);
            if (t.state() != DataSetState::Edit) return false;
            t.post();
            return true;
        },
        &ctx.session.formats());
}

// --------------------------------------------------------------------------- Format Prices

void ExecutePreisFeldFormatieren(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::Seite6Inputs& in = ctx.inputs.Seite6;
    host.CancelRequested = 0;
    if (isEmpty(in.PreisAlias1)) return host.showError(std::string(run::kAliasMustBeSpecified));
    if (isEmpty(in.PreisTable1)) return host.showError(std::string(run::kTableMustBeSpecified));
    if (isEmpty(in.PreisFeld1)) return host.showError("Price Field must be specified!");
    if (!host.confirm("Are you sure that the field \"" + in.PreisFeld1 + "\" is REALLY a \"price field\"?")) return;
    Table t(ctx.session);
    OperationCursor cursor(t, in.PreisAlias1, in.PreisTable1, "", {in.PreisFeld1}, {});
    run::WalkStyle style;
    style.format = run::ProgressFormat::ProcessedOf;
    style.firstShown = 1;
    style.completionEnding = "!";
    style.freshTableOrder = true;
    run::runWalk(host, cursor, style, [&] {
        return writeField(t, in.PreisFeld1, FormatPreisFeld(t.fieldByName(in.PreisFeld1).asString()));
    });
}

// -------------------------------------------------------------------------- Delete records

void executeDeleteRecs(run::RunContext& ctx) {
    run::RunHost& host = ctx.host;
    const run::DelPageInputs& in = ctx.inputs.DelPage;
    host.CancelRequested = 0;
    if (isEmpty(in.AliasDel)) return host.showError(std::string(run::kAliasMustBeSpecified));
    if (isEmpty(in.TableDel)) return host.showError(std::string(run::kTableMustBeSpecified));
    if (in.DelOpt1) {
        if (isEmpty(in.FieldDel)) return host.showError("Number of records must be specified!");
        if (!pageInteger(in.FieldDel)) return host.showError("No valid number specified for number of records!");
    } else if (isEmpty(in.DelFeldBox)) {
        return host.showError("Field must be specified!");
    }
    std::int64_t total = 0, processed = 0;
    run::RunningState running(host, false);
    auto t = std::make_unique<Table>(ctx.session);
    t->setDatabaseName(in.AliasDel);
    t->setTableName(in.TableDel);
    t->setIndexFieldNames("");
    t->open();
    t->refresh();
    t->first();
    total = t->recordCount();
    const std::int64_t steps = in.DelOpt1 ? requirePageInteger(in.FieldDel) : total;
    for (std::int64_t i = 1; i <= steps; ++i) {
        if (in.DelOpt1) {
            t->deleteRecord();
            t->first();
        } else if (t->fieldByName(in.DelFeldBox).asString().empty()) {
            t->deleteRecord(); // the record that followed comes next
        } else {
            t->next();
        }
        host.setStatusText(1, run::processedOf(i, total));
        host.processPendingMessages();
        if (run::abortRequested(host, run::kAbortProcess)) break;
        ++processed;
    }
    host.showInformation(run::completionMessage(processed, total, "!\r\rNot found: 0"));
    t.reset();
    running.leave();
}

void registerOperations(run::OperationTable& table) {
    table.add("executeMoveFelder", executeMoveFelder);
    table.add("ExecuteFeldReplaceComplete", ExecuteFeldReplaceComplete);
    table.add("SuchenErsetzenSubStrings", SuchenErsetzenSubStrings);
    table.add("ExecuteMergeFelder", ExecuteMergeFelder);
    table.add("NeuValueIF", NeuValueIF);
    table.add("ExecutePreisFeldFormatieren", ExecutePreisFeldFormatieren);
    table.add("executeDeleteRecs", executeDeleteRecs);
    table.add("ProcessAddPrimary", ProcessAddPrimary);
}

} // namespace fieldsmith::ops
