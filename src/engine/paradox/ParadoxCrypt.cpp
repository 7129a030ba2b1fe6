#include "ParadoxCrypt.h"

#include "CipherTables.h"

#include <array>
#include <cstring>

namespace fieldsmith::engine::paradox {

namespace {

using cipher::kT1;
using cipher::kT2;
using cipher::kT3;

using Chunk = std::array<std::uint8_t, 256>;

std::uint8_t at(const std::array<std::uint8_t, 256>& t, unsigned i) { return t[i & 0xFF]; }

// The chunk transform: out[y] = in[x] ^ T1[x+a] ^ T2[y+b] ^ T3[y+c] with y = T3[x] - d.
void encryptChunk(const std::uint8_t* in, std::uint8_t* out, unsigned a, unsigned b, unsigned c, unsigned d) {
    for (unsigned x = 0; x < 256; ++x) {
        const unsigned y = (kT3[x] - d) & 0xFF;
        out[y] = static_cast<std::uint8_t>(in[x] ^ at(kT1, x + a) ^ at(kT2, y + b) ^ at(kT3, y + c));
    }
}

void decryptChunk(const std::uint8_t* in, std::uint8_t* out, unsigned a, unsigned b, unsigned c, unsigned d) {
    for (unsigned x = 0; x < 256; ++x) {
        const unsigned y = (kT3[x] - d) & 0xFF;
        out[x] = static_cast<std::uint8_t>(in[y] ^ at(kT1, x + a) ^ at(kT2, y + b) ^ at(kT3, y + c));
    }
}

} // namespace

std::uint32_t keyForPassword(std::string_view password) {
    const std::size_t len = password.size();
    if (len == 0) return 0;
    Chunk buf{};
    for (std::size_t i = 0; i < 256; ++i) buf[i] = static_cast<std::uint8_t>(password[i % len]);
    Chunk r{};
    encryptChunk(buf.data(), r.data(), buf[0], buf[1], buf[2], buf[3]);
    const unsigned low = r[0] | (r[1] << 8);

    for (std::size_t i = 0; i < 256; ++i) {
        if (i < len) buf[i] = static_cast<std::uint8_t>(password[i]);
        else buf[i] = static_cast<std::uint8_t>(kT1[buf[i - len]] ^ (i & 0xFF));
    }
    encryptChunk(buf.data(), r.data(), buf[0], buf[20], buf[40], buf[255]);
    unsigned y = 0, z = 0;
    for (std::size_t i = 0; i < 256; i += 2) {
        y ^= r[i];
        z ^= r[i + 1];
    }
    unsigned high = y | (z << 8);
    if (high == 0) high = 1;
    return (static_cast<std::uint32_t>(high) << 16) | low;
}

namespace {

using ChunkTransform = void (*)(const std::uint8_t*, std::uint8_t*, unsigned, unsigned, unsigned,
                                unsigned);

// Applies a chunk transform to each 256-byte chunk in place; c and d may depend on the
// chunk's number within the data.
template <typename Params>
void transformChunks(std::uint8_t* data, std::size_t len, ChunkTransform transform, Params params) {
    Chunk tmp{};
    for (std::size_t k = 0; k * 256 < len; ++k) {
        const auto [a, b, c, d] = params(k);
        transform(data + k * 256, tmp.data(), a, b, c, d);
        std::memcpy(data + k * 256, tmp.data(), 256);
    }
}

// Data blocks: chunk k of a block uses c = k and d = the block's number.
auto blockParams(std::uint32_t key, std::uint32_t blockNumber) {
    return [=](std::size_t k) {
        return std::array<unsigned, 4>{key & 0xFF, (key >> 8) & 0xFF, static_cast<unsigned>(k & 0xFF),
                                       blockNumber & 0xFF};
    };
}

// Blob files: every chunk uses c = a + 1 and d = b + 1.
auto blobParams(std::uint32_t key) {
    const unsigned a = key & 0xFF, b = (key >> 8) & 0xFF;
    return [=](std::size_t) { return std::array<unsigned, 4>{a, b, (a + 1) & 0xFF, (b + 1) & 0xFF}; };
}

} // namespace

void decryptBlock(std::uint8_t* data, std::size_t len, std::uint32_t key, std::uint32_t blockNumber) {
    transformChunks(data, len, decryptChunk, blockParams(key, blockNumber));
}

void encryptBlock(std::uint8_t* data, std::size_t len, std::uint32_t key, std::uint32_t blockNumber) {
    transformChunks(data, len, encryptChunk, blockParams(key, blockNumber));
}

void decryptBlobChunks(std::uint8_t* data, std::size_t len, std::uint32_t key) {
    transformChunks(data, len, decryptChunk, blobParams(key));
}

void encryptBlobChunks(std::uint8_t* data, std::size_t len, std::uint32_t key) {
    transformChunks(data, len, encryptChunk, blobParams(key));
}

} // namespace fieldsmith::engine::paradox
