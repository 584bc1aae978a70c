#include "base/digest.h"

#include <array>
#include <stdexcept>

#include <openssl/evp.h>

namespace workbench {

std::string sha256_hex(const std::string& bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
    unsigned int n = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), md.data(), &n, EVP_sha256(), nullptr) != 1 || n != 32) {
        throw std::runtime_error("SHA-256: libcrypto failed");
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

}  // namespace workbench
