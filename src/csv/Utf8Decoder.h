// UTF-8 text brought into the program's single-byte code page: each character becomes its
// byte there, or "?" where the code page has none; bytes that are not UTF-8 become "?" too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fieldsmith::csv {

class Utf8Decoder {
public:
    explicit Utf8Decoder(int codePage);

    //! Appends the converted text to out; returns how many characters became "?".
    std::uint64_t convert(std::string_view utf8, std::string& out) const;

    //! What a text is as UTF-8: its length once converted (one byte per character, and one
    //! per byte that is not UTF-8), whether it is valid UTF-8 throughout, and whether it
    //! holds a character of more than one byte.
    struct Scan {
        std::size_t length = 0;
        bool valid = true;
        bool multiByte = false;
    };
    static Scan scan(std::string_view text);

    //! Whether any byte of the text lies outside ASCII.
    static bool hasHighBytes(std::string_view text);

private:
    std::vector<std::pair<char32_t, char>> bytes_; //!< characters above ASCII, sorted
};

} // namespace fieldsmith::csv
