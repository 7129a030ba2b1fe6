// The database servers behind server aliases: one narrow connection interface (statements
// with parameters, transactions, the catalog) that SQLite files and PostgreSQL implement,
// so that the SQL table driver knows no server.
#pragma once

#include "../FieldDef.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldsmith::engine::sql {

//! One parameter or column value as the server exchanges it: null, or text (UTF-8, dates
//! and numbers in ISO form), or bytes for binary columns.
//! A whole number may be given as one (integer), so that a server that binds numbers takes
//! it without text in between.
struct SqlValue {
    bool isNull = true;
    bool binary = false;
    std::string text;
    bool integral = false;
    std::int64_t number = 0;

    static SqlValue null() { return {}; }
    static SqlValue of(std::string t) { return {false, false, std::move(t)}; }
    static SqlValue bytes(std::string b) { return {false, true, std::move(b)}; }
    static SqlValue integer(std::int64_t n) { return {false, false, {}, true, n}; }
    //! The value as text (a whole number in decimal).
    std::string asText() const { return integral ? std::to_string(number) : text; }
};

//! A column as the catalog describes it.
struct SqlColumn {
    std::string name;
    std::string type; //!< the declared type, lower case ("varchar", "integer", "numeric", ...)
    int length = 0;   //!< character length, 0 when none is declared
    int precision = 0;
    int scale = -1; //!< -1 when none is declared
    bool notNull = false;
};

struct SqlIndex {
    std::string name; // as the server knows it; see serverIndexName
    std::vector<std::string> columns;
    bool unique = false;
    bool primary = false;
    bool descending = false;      //!< every column in descending order
    bool caseInsensitive = false; //!< every column compared without regard to case
};

// Index names are unique per database on a server but only per table in our tables, so
// the index NAME of table T is stored as "T$NAME" and shown as NAME again. Indexes made
// by other programs keep their own names.
inline std::string serverIndexName(const std::string& table, const std::string& name) {
    return table + "$" + name;
}
inline std::string shownIndexName(const std::string& table, const std::string& serverName) {
    const std::string prefix = table + "$";
    return serverName.size() > prefix.size() && serverName.compare(0, prefix.size(), prefix) == 0
               ? serverName.substr(prefix.size())
               : serverName;
}

struct SqlTableShape {
    std::vector<SqlColumn> columns;
    std::vector<std::string> primaryKey; //!< column names, empty for none
    std::vector<SqlIndex> indexes;       //!< the primary key's index first when there is one
};

//! A whole number written in decimal, all of the text.
bool parseInteger(std::string_view text, std::int64_t& out);
//! A number as the servers write them ("12.5", "1e3"), all of the text.
bool parseReal(std::string_view text, double& out);
//! n rows of `width` parameters: "(?, ?), (?, ?)".
std::string parameterRows(std::size_t width, std::size_t n);

//! A column of a query's current row read with one call: a number the server keeps as a
//! number comes as one, anything else as its text (valid until the next row).
struct SqlCell {
    enum class Kind : std::uint8_t { Null, Integer, Real, Text };
    Kind kind = Kind::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string_view text;
};

//! A prepared statement. Parameters are written "?" in the text given to prepare().
class SqlStatement {
public:
    virtual ~SqlStatement() = default;
    //! Runs the statement with these parameters; a query's rows are read with next().
    virtual void execute(const std::vector<SqlValue>& params) = 0;
    //! The next row of a query; false after the last.
    virtual bool next() = 0;
    virtual int columnCount() const = 0;
    virtual SqlValue column(int i) const = 0;
    // The current row's columns without copies, for walks that read a million rows.
    virtual bool isNull(int i) const = 0;
    //! A whole number; false when the column does not hold one.
    virtual bool integer(int i, std::int64_t& out) const = 0;
    //! A number; false when the column does not hold one.
    virtual bool real(int i, double& out) const = 0;
    //! The column as text (UTF-8); valid until the next row.
    virtual std::string_view text(int i) const = 0;
    //! The column as the server holds it; a server that sends only text gives text.
    virtual SqlCell cell(int i) const {
        if (isNull(i)) return {};
        return {SqlCell::Kind::Text, 0, 0, text(i)};
    }
    //! Rows an INSERT, UPDATE or DELETE changed.
    virtual std::int64_t changes() const = 0;
};

class SqlBackend {
public:
    virtual ~SqlBackend() = default;

    //! The tables of the database, without the server's own.
    virtual std::vector<std::string> tableNames() = 0;
    //! An unknown table is an EngineError of kind Database.
    virtual SqlTableShape describe(const std::string& table) = 0;
    virtual std::unique_ptr<SqlStatement> prepare(const std::string& sql) = 0;
    //! A query whose rows are few (a LIMIT, a list of keys): a server may send them at once.
    virtual std::unique_ptr<SqlStatement> prepareBatch(const std::string& sql) {
        return prepare(sql);
    }
    //! Runs a statement without parameters and without rows.
    virtual void execute(const std::string& sql) = 0;
    //! Whether each statement is a round trip to a server (rather than a call into a library
    //! that reads the file itself): a walk then fetches rows in larger batches.
    virtual bool remote() const { return false; }

    //! A change of one record in a write transaction (an UPDATE or DELETE that must find its
    //! row when mustFindRow, or an INSERT), whose only result is its success. A failed change
    //! leaves the transaction's other changes as they were. A server may send changes ahead
    //! and report a failure at a later call on this connection; `record` is the record's
    //! identity, named in that report by the function given to nameRecordsWith.
    virtual void change(SqlStatement& st, const std::vector<SqlValue>& params,
                        std::string_view record, bool mustFindRow);
    //! How a failed change names its record ("record id = 12 of table kunden"): asked only
    //! when a change fails, so that a walk does not build a name per record.
    void nameRecordsWith(std::function<std::string(std::string_view record)> name) {
        recordName_ = std::move(name);
    }
    //! A change whose rows are read (RETURNING), run at once; a failure leaves the
    //! transaction's other changes as they were.
    virtual void changeNow(SqlStatement& st, const std::vector<SqlValue>& params) {
        st.execute(params);
    }

    //! Starts a transaction without locking a table (a table that does not exist yet).
    virtual void begin() = 0;
    //! Starts the one write transaction of a run and takes the table's writer role; false
    //! when another session writes the table (nothing started then).
    virtual bool beginWrite(const std::string& table) = 0;
    //! Starts a transaction that holds the table for this connection alone (structural
    //! changes); false when anyone else has it open.
    virtual bool lockExclusive(const std::string& table) = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual bool inTransaction() const = 0;
    //! Something another session committed since the last call (for tables read before).
    virtual bool changedByOthers() = 0;

    //! The name as an identifier of this server, quoted.
    virtual std::string quote(std::string_view identifier) const = 0;
    //! The column that identifies a row of a table without a primary key ("rowid", "ctid"),
    //! and the SQL that casts a parameter to it ("?", "?::tid").
    virtual std::string rowIdColumn() const = 0;
    virtual std::string rowIdParameter() const = 0;
    //! The condition that a row's columns (a parenthesised list of `width` columns) equal
    //! those of one of n rows of parameters.
    virtual std::string rowsIn(const std::string& columns, std::size_t width, std::size_t n) const;
    //! How a SELECT reads a column: as it is, unless the server writes its values in a form
    //! that depends on the server's settings.
    virtual std::string selectColumn(const SqlColumn& column) const { return quote(column.name); }
    //! A column of CREATE INDEX compared without regard to case, where the server has a
    //! way to say so; else the column as it is.
    virtual std::string caseInsensitiveColumn(const std::string& quoted) const { return quoted; }
    //! The column type for a field of the engine in CREATE TABLE.
    virtual std::string columnTypeFor(const FieldDef& field) const = 0;
    //! The statements that make the table's secondary indexes again exactly as they are
    //! (uniqueness, order, expressions, conditions), each with the index's name.
    virtual std::vector<std::pair<std::string, std::string>>
    indexStatements(const std::string& table) = 0;
    //! The SQL that drops a table's primary key; throws where the server cannot.
    virtual std::string dropPrimaryKey(const std::string& table) = 0;
    //! The SQL that gives a table a primary key; throws where the server cannot.
    virtual std::string addPrimaryKey(const std::string& table,
                                      const std::vector<std::string>& columns) = 0;
    //! What the server is, for messages ("SQLite file /data/x.sqlite").
    virtual std::string description() const = 0;

protected:
    std::string recordName(std::string_view record) const {
        return recordName_ ? recordName_(record) : "record";
    }

private:
    std::function<std::string(std::string_view)> recordName_;
};

//! Connects to the database of a server alias from its parameters (TYPE, SERVER NAME, USER
//! NAME). password: asked for when the server wants one and none was found by the client's
//! own means (environment, password file); empty optional for Cancel.
std::unique_ptr<SqlBackend>
connectBackend(const std::vector<std::pair<std::string, std::string>>& aliasParams,
               const std::string& alias,
               const std::function<std::optional<std::string>(const std::string& alias,
                                                              const std::string& user)>& password);

//! Whether an alias type names a server this driver reaches ("SQLITE", "POSTGRESQL").
bool isSqlAliasType(std::string_view type);

} // namespace fieldsmith::engine::sql
