#include "base/digest.h"

#include <array>
#include <stdexcept>

#include <openssl/evp.h>

namespace workbench {

namespace {

std::string hex_of(const std::array<unsigned char, EVP_MAX_MD_SIZE>& md, unsigned int n) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < n; ++i) {
        out += hex[md[i] >> 4];
        out += hex[md[i] & 15];
    }
    return out;
}

}  // namespace

std::string sha256_hex(const std::string& bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
    unsigned int n = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), md.data(), &n, EVP_sha256(), nullptr) != 1 || n != 32) {
        throw std::runtime_error("SHA-256: libcrypto failed");
    }
    return hex_of(md, n);
}

sha256_stream::sha256_stream() : ctx_(EVP_MD_CTX_new()) {
    if (ctx_ == nullptr || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
        throw std::runtime_error("SHA-256: libcrypto failed");
    }
}

sha256_stream::~sha256_stream() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void sha256_stream::add(const char* bytes, std::size_t n) {
    if (EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), bytes, n) != 1) throw std::runtime_error("SHA-256: libcrypto failed");
}

std::string sha256_stream::hex() {
    std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
    unsigned int n = 0;
    if (EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), md.data(), &n) != 1 || n != 32) {
        throw std::runtime_error("SHA-256: libcrypto failed");
    }
    return hex_of(md, n);
}

std::string sha256_stream::hex_so_far() const {
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
    unsigned int n = 0;
    const bool ok = copy != nullptr && EVP_MD_CTX_copy_ex(copy, static_cast<const EVP_MD_CTX*>(ctx_)) == 1 &&
                    EVP_DigestFinal_ex(copy, md.data(), &n) == 1 && n == 32;
    EVP_MD_CTX_free(copy);
    if (!ok) throw std::runtime_error("SHA-256: libcrypto failed");
    return hex_of(md, n);
}

}  // namespace workbench
