// Password protection of Paradox tables: the key a password stands for, and the cipher
// over 256-byte chunks that data blocks and blob files are stored in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fieldsmith::engine::paradox {

//! The 32-bit key that the header stores for a password (0 for an empty password).
std::uint32_t keyForPassword(std::string_view password);

//! Decrypts or encrypts a data block in place; len is a multiple of 256, blockNumber the
//! 1-based physical block number.
void decryptBlock(std::uint8_t* data, std::size_t len, std::uint32_t key, std::uint32_t blockNumber);
void encryptBlock(std::uint8_t* data, std::size_t len, std::uint32_t key, std::uint32_t blockNumber);

//! Decrypts or encrypts whole 256-byte chunks of a blob file.
void decryptBlobChunks(std::uint8_t* data, std::size_t len, std::uint32_t key);
void encryptBlobChunks(std::uint8_t* data, std::size_t len, std::uint32_t key);

} // namespace fieldsmith::engine::paradox
