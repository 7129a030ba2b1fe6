// A query dataset on an Oracle session: SQL text as lines, open runs any statement and
// fetches every row of a query, columns and values as text. The result of
// "SELECT T.ROWID, T.* FROM owner.table T" is editable: insert or edit, set values as
// text, post.
#pragma once

#include "OracleSession.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::oraclient {

class OracleQuery {
public:
    explicit OracleQuery(OracleSession& session);

    // --- statement
    //! The SQL text as a list of lines, sent as their text joined by line breaks.
    std::vector<std::string>& sql() { return sql_; }
    //! Replaces the SQL lines by the lines of text.
    void setSql(std::string_view text);
    //! Values for the placeholders (":1", ":name"), in the order they first appear.
    std::vector<OracleValue>& parameters() { return parameters_; }

    //! A unidirectional dataset fetches a query's rows one at a time as next() moves on and
    //! keeps only the current one: first() cannot go back, recordCount() is the number of
    //! rows fetched so far, and the result is not editable. Set before open().
    void setUniDirectional(bool on) { uniDirectional_ = on; }
    bool uniDirectional() const { return uniDirectional_; }

    //! Runs the statement; a query's rows are all fetched (unless unidirectional) and the
    //! cursor is on the first. Throws OracleError; the dataset is then closed.
    void open();
    void close();
    bool active() const { return active_; }
    StatementKind statementKind() const { return kind_; }
    //! Rows inserted, updated or deleted by the statement.
    std::int64_t rowsProcessed() const { return rowsProcessed_; }

    // --- columns
    int fieldCount() const { return static_cast<int>(columns_.size()); }
    const ColumnInfo& column(int index) const;
    const std::string& fieldName(int index) const { return column(index).name; }
    //! The column of this name, without regard to case.
    std::optional<int> findField(std::string_view name) const;
    //! As findField; an unknown name is ORA-00904 naming it.
    int fieldIndex(std::string_view name) const;

    // --- rows
    std::int64_t recordCount() const {
        return uniDirectional_ ? fetched_ : static_cast<std::int64_t>(rows_.size());
    }
    void first();
    //! Moves to the next row; after the last row eof() is true.
    void next();
    bool eof() const { return eof_; }
    //! The value of the current row (of the row being inserted or edited).
    std::string fieldText(int index) const;
    std::string fieldText(std::string_view name) const { return fieldText(fieldIndex(name)); }
    bool isNull(int index) const;
    const OracleValue& value(int index) const;

    // --- changes (the ROWID result only)
    //! Whether the result can be changed: a "SELECT x.ROWID, x.* FROM table x" query.
    bool editable() const { return !targetTable_.empty(); }
    //! Starts a new row with every column null.
    void insert();
    //! Starts changing the current row.
    void edit();
    //! Sets a column of the new or changed row from text, converted to the column's type
    //! with the session's formats; empty text is null. A bad value is ORA-01722 or
    //! ORA-01861 naming the value and the column.
    void setFieldText(int index, std::string_view text);
    void setFieldText(std::string_view name, std::string_view text) {
        setFieldText(fieldIndex(name), text);
    }
    //! Writes the new or changed row to the table (no commit). The row stays current.
    void post();
    //! Forgets the new or changed row.
    void cancel();
    //! Whether rows inserted through this dataset join its result (the default). A copy
    //! that only appends and never reads its rows back turns it off, so that its memory
    //! does not grow with every row it writes; its rows then go through the session's
    //! queue (OracleSession::queueInsert), and an error of a row may come from a later post
    //! or the commit.
    void setKeepInsertedRows(bool keep) { keepInserted_ = keep; }
    bool editing() const { return state_ != State::Browse; }

private:
    enum class State { Browse, Insert, Edit };
    OracleValue convert(int index, std::string_view text) const;
    //! Runs the INSERT of the new row; a kept row joins the result as the current row.
    void insertRow(const std::vector<OracleValue>& binds, const std::string& sql);
    void requireActive() const;

    OracleSession& session_;
    bool uniDirectional_ = false;
    std::unique_ptr<OracleCursor> cursor_; //!< unidirectional: the open result
    std::int64_t fetched_ = 0;
    std::vector<std::string> sql_;
    std::vector<OracleValue> parameters_;
    bool active_ = false;
    StatementKind kind_ = StatementKind::Query;
    std::int64_t rowsProcessed_ = 0;
    std::vector<ColumnInfo> columns_;
    std::vector<std::vector<OracleValue>> rows_;
    std::size_t current_ = 0;
    bool eof_ = true;
    // editing
    std::string targetTable_; //!< "owner.table" of an editable result, as written
    int rowIdColumn_ = -1;
    State state_ = State::Browse;
    bool keepInserted_ = true;
    std::vector<OracleValue> buffer_;
    std::vector<bool> changed_;
    //! The INSERT of the last new row and the columns it set: a copy inserting row after
    //! row with the same columns reuses the text instead of building it for every row.
    std::vector<bool> insertColumns_;
    std::string insertSql_;
};

} // namespace fieldsmith::oraclient
