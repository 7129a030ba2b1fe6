// What the engine tells a preview run: a preview works on shadow copies of the file
// tables it touches, and hears of every record change it would make, so that the user can
// see a run's effect before anything is written.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fieldsmith::engine {

enum class ChangeKind { Changed, Inserted, Deleted };

//! A field whose value a change gives another text.
struct FieldChange {
    std::string field;
    std::string before, after;
};

//! One record's change as the user would see it.
struct RecordChange {
    std::string table;  //!< the table's name as the run named it
    std::string record; //!< the key values, or the record's number in an unkeyed table
    ChangeKind kind = ChangeKind::Changed;
    std::vector<FieldChange> fields;
};

class PreviewSink {
public:
    virtual ~PreviewSink() = default;
    //! The file a preview uses in place of this one: a copy of the file (with its table's
    //! whole family) made on first use, or the place where a new file would go.
    virtual std::filesystem::path shadowOf(const std::filesystem::path& original) = 0;
    //! A record change of table. detail gives what the user sees; a sink calls it only for
    //! the changes it lists, so that counting the rest costs next to nothing.
    virtual void recordChange(const std::string& table, ChangeKind kind,
                              const std::function<RecordChange()>& detail) = 0;
};

} // namespace fieldsmith::engine
