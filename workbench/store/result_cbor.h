// A monitor's result as bytes, for the store: every field of it in CBOR
// (nlohmann-json's), NaN and every double kept bit for bit, with a version.
// What `watch` reads back from the store prints, writes and draws as
// `monitor` does from the result it computed.
#ifndef UREA_WORKBENCH_STORE_RESULT_CBOR_H
#define UREA_WORKBENCH_STORE_RESULT_CBOR_H

#include <string>

#include "analysis/monitor.h"

namespace workbench {

std::string monitor_result_bytes(const monitor_result& m);
// Throws database_error for bytes of another version or not a result.
monitor_result monitor_result_of(const std::string& bytes);

}  // namespace workbench

#endif
