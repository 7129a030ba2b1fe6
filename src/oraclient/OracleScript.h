// The script runner: SQL statements ending with ";" at a line end, PL/SQL blocks ending
// with a line holding only "/", and SQL*Plus commands, run one after the other on a
// session without autocommit and without stopping at a failing statement. Every echo,
// feedback, row and error is reported as one text through the output handler.
#pragma once

#include "OracleSession.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fieldsmith::oraclient {

//! Which kinds of output the runner reports.
struct ScriptOutputOptions {
    bool sql = true;      //!< the text of each statement
    bool nonSql = true;   //!< each SQL*Plus command and each lone "/"
    bool data = true;     //!< the rows of queries
    bool feedback = true; //!< "1 row created.", "Table created.", ...
    bool errors = true;   //!< the ORA- text of a failing statement
};

//! What a run did.
struct ScriptSummary {
    int statements = 0; //!< statements sent to the database
    int failed = 0;     //!< of those, how many failed
    int commands = 0;   //!< SQL*Plus commands and lone "/" lines
};

class OracleScript {
public:
    explicit OracleScript(OracleSession& session);

    //! The script as lines; clears a file set by loadFromFile.
    std::vector<std::string>& lines();
    //! Runs the script from this file; it is read statement by statement during execute,
    //! never whole. Throws std::runtime_error when the file cannot be opened.
    void loadFromFile(const std::filesystem::path& file);
    void clear();

    void setOutputHandler(std::function<void(const std::string&)> handler) {
        output_ = std::move(handler);
    }
    ScriptOutputOptions& outputOptions() { return options_; }

    //! Runs every statement in order. A failing statement is reported and the run goes
    //! on; EXIT or QUIT ends it. Throws only when the script cannot be read.
    ScriptSummary execute();

private:
    class LineSource;
    void emit(bool wanted, const std::string& text);
    void runStatement(const std::vector<std::string>& lines, bool block, ScriptSummary& summary);

    OracleSession& session_;
    std::vector<std::string> lines_;
    std::filesystem::path file_;
    std::function<void(const std::string&)> output_;
    ScriptOutputOptions options_;
};

} // namespace fieldsmith::oraclient
