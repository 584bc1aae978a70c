// SHA-256 of the bytes of an input, for a report that names exactly what it
// was made from (OpenSSL's libcrypto computes it).
#ifndef UREA_WORKBENCH_IO_DIGEST_H
#define UREA_WORKBENCH_IO_DIGEST_H

#include <string>

namespace workbench {

// The SHA-256 digest of the bytes, as 64 lowercase hexadecimal digits.
std::string sha256_hex(const std::string& bytes);

}  // namespace workbench

#endif
