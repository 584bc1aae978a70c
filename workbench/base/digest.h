// SHA-256 of the bytes of an input, for a report that names exactly what it
// was made from (OpenSSL's libcrypto computes it).
#ifndef UREA_WORKBENCH_IO_DIGEST_H
#define UREA_WORKBENCH_IO_DIGEST_H

#include <cstddef>
#include <string>

namespace workbench {

// The SHA-256 digest of the bytes, as 64 lowercase hexadecimal digits.
std::string sha256_hex(const std::string& bytes);

// The same for bytes that come in pieces (a file read in parts).
class sha256_stream {
public:
    sha256_stream();
    ~sha256_stream();
    sha256_stream(const sha256_stream&) = delete;
    sha256_stream& operator=(const sha256_stream&) = delete;

    void add(const char* bytes, std::size_t n);
    // The digest of everything added; once.
    std::string hex();
    // The digest of what was added so far, the stream going on.
    std::string hex_so_far() const;

private:
    void* ctx_;  // EVP_MD_CTX
};

}  // namespace workbench

#endif
