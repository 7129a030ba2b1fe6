#include "OracleSession.h"

namespace fieldsmith::oraclient {

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
    std::unique_ptr<OracleBackend> backend = std::move(backend_);
    backend->commit();
}

OracleBackend& OracleSession::backend() {
    if (!backend_) throw OracleError(3114, "not connected to ORACLE");
    return *backend_;
}

void OracleSession::commit() {
    backend().commit();
}

void OracleSession::rollback() {
    backend().rollback();
}

void OracleSession::callProcedure(const std::string& name, const std::vector<NamedArgument>& args) {
    std::vector<NamedArgument> converted;
    for (const auto& [param, value] : args)
        converted.emplace_back(fromClient(param), fromClient(value));
    backend().callProcedure(fromClient(name), converted);
}

StatementResult OracleSession::execute(const std::string& sql,
                                       const std::vector<OracleValue>& binds) {
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
