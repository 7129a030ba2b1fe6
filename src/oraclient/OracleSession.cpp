#include "OracleSession.h"

namespace fieldsmith::oraclient {

namespace {

// The rows of a result fetched whole, handed out one at a time.
class FetchedCursor final : public OracleCursor {
public:
    explicit FetchedCursor(StatementResult result) : rows_(std::move(result.rows)) {
        kind = result.kind;
        columns = std::move(result.columns);
        rowsAffected = result.rowsAffected;
    }
    bool fetch(std::vector<OracleValue>& row) override {
        if (next_ >= rows_.size()) return false;
        row = std::move(rows_[next_++]);
        return true;
    }

private:
    std::vector<std::vector<OracleValue>> rows_;
    std::size_t next_ = 0;
};

// A backend's cursor whose texts come back in the client code page.
class ClientCursor final : public OracleCursor {
public:
    ClientCursor(const OracleSession& session, std::unique_ptr<OracleCursor> inner)
        : session_(session), inner_(std::move(inner)) {
        kind = inner_->kind;
        columns = inner_->columns;
        rowsAffected = inner_->rowsAffected;
        for (auto& c : columns)
            c.name = session_.toClient(c.name);
    }
    bool fetch(std::vector<OracleValue>& row) override {
        if (!inner_->fetch(row)) return false;
        if (session_.clientCodePage() != 65001)
            for (auto& v : row)
                if (v.kind == ValueKind::Text) v.text = session_.toClient(v.text);
        return true;
    }

private:
    const OracleSession& session_;
    std::unique_ptr<OracleCursor> inner_;
};

} // namespace

std::unique_ptr<OracleCursor> OracleBackend::openCursor(const std::string& sql,
                                                        const std::vector<OracleValue>& binds) {
    return std::make_unique<FetchedCursor>(execute(sql, binds));
}

void OracleBackend::executeMany(const std::string& sql,
                                const std::vector<std::vector<OracleValue>>& rows,
                                std::size_t& written) {
    written = 0;
    for (const auto& row : rows) {
        execute(sql, row);
        ++written;
    }
}

OracleSession::OracleSession(std::filesystem::path configDir) : configDir_(std::move(configDir)) {
    setClientCodePage(1252);
}

OracleSession::~OracleSession() {
    try {
        logOff();
    } catch (const OracleError&) {
        // Nothing to tell anyone at this point; uncommitted work is rolled back.
    }
}

void OracleSession::setClientCodePage(int codePage) {
    codePage_ = codePage;
    toUtf8_ = engine::CodePageConverter(codePage, 65001);
    fromUtf8_ = engine::CodePageConverter(65001, codePage);
}

std::string OracleSession::toClient(std::string_view utf8) const {
    return codePage_ == 65001 ? std::string(utf8) : fromUtf8_.convert(utf8);
}

std::string OracleSession::fromClient(std::string_view text) const {
    return codePage_ == 65001 ? std::string(text) : toUtf8_.convert(text);
}

void OracleSession::setFormats(const engine::FormatSettings& formats) {
    formats_ = formats;
    if (backend_) backend_->setFormats(formats_);
}

void OracleSession::logOn() {
    logOff();
    LogonRequest request = logon_;
    request.username = fromClient(request.username);
    request.password = fromClient(request.password);
    request.database = fromClient(request.database);
    backend_ = connectBackend(configDir_, request);
    backend_->setFormats(formats_);
}

void OracleSession::logOff() {
    if (!backend_) return;
    // The queued rows belong to the transaction that the logoff commits.
    std::exception_ptr failure;
    try {
        writeQueued();
    } catch (...) {
        failure = std::current_exception();
    }
    std::unique_ptr<OracleBackend> backend = std::move(backend_);
    backend->commit();
    if (failure) std::rethrow_exception(failure);
}

OracleBackend& OracleSession::backend() {
    if (!backend_) throw OracleError(3114, "not connected to ORACLE");
    return *backend_;
}

void OracleSession::commit() {
    writeQueued();
    backend().commit();
}

void OracleSession::rollback() {
    queued_.clear(); // rows of the transaction that is undone
    backend().rollback();
}

void OracleSession::queueInsert(const std::string& sql, std::vector<OracleValue> binds) {
    if (!queued_.empty() && sql != queuedSql_) writeQueued();
    for (auto& v : binds)
        if (v.kind == ValueKind::Text) v.text = fromClient(v.text);
    if (queued_.empty()) queuedSql_ = sql;
    queued_.push_back(std::move(binds));
    if (queued_.size() >= kQueuedRows) writeQueued();
}

void OracleSession::writeQueued() {
    if (queued_.empty()) return;
    std::vector<std::vector<OracleValue>> rows;
    rows.swap(queued_);
    std::size_t written = 0;
    try {
        backend().executeMany(fromClient(queuedSql_), rows, written);
    } catch (...) {
        droppedRows_ = rows.size() - written;
        throw;
    }
    droppedRows_ = 0;
}

void OracleSession::callProcedure(const std::string& name, const std::vector<NamedArgument>& args) {
    writeQueued();
    std::vector<NamedArgument> converted;
    for (const auto& [param, value] : args)
        converted.emplace_back(fromClient(param), fromClient(value));
    backend().callProcedure(fromClient(name), converted);
}

std::unique_ptr<OracleCursor> OracleSession::openCursor(const std::string& sql,
                                                        const std::vector<OracleValue>& binds) {
    writeQueued();
    OracleBackend& b = backend();
    std::vector<OracleValue> converted = binds;
    for (auto& v : converted)
        if (v.kind == ValueKind::Text) v.text = fromClient(v.text);
    return std::make_unique<ClientCursor>(*this, b.openCursor(fromClient(sql), converted));
}

StatementResult OracleSession::execute(const std::string& sql,
                                       const std::vector<OracleValue>& binds) {
    writeQueued();
    OracleBackend& b = backend();
    std::vector<OracleValue> converted = binds;
    for (auto& v : converted)
        if (v.kind == ValueKind::Text) v.text = fromClient(v.text);
    StatementResult result = b.execute(fromClient(sql), converted);
    for (auto& c : result.columns)
        c.name = toClient(c.name);
    if (codePage_ != 65001)
        for (auto& row : result.rows)
            for (auto& v : row)
                if (v.kind == ValueKind::Text) v.text = toClient(v.text);
    return result;
}

} // namespace fieldsmith::oraclient
