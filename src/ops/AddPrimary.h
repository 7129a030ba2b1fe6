// Add Primary: new key values written into one field of every record of a table, running
// numbers or numbers from the counter tables, between index removal and restore.
#pragma once

namespace fieldsmith::run {
struct RunContext;
}

namespace fieldsmith::ops {

void ProcessAddPrimary(run::RunContext& context);

} // namespace fieldsmith::ops
