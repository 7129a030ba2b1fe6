// Single-byte text conversion between a table's code page and the program's code page.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace fieldsmith::engine {

class Iconv;

//! Converts text from one code page to another. Characters without an equivalent become
//! "?", and the converter counts them so that a run can report them.
class CodePageConverter {
public:
    //! Identity conversion.
    CodePageConverter() = default;
    CodePageConverter(int fromCodePage, int toCodePage);

    bool isIdentity() const { return identity_; }
    std::string convert(std::string_view text) const;
    //! Characters replaced by "?" since construction or the last reset.
    std::uint64_t lossCount() const { return losses_; }
    void resetLossCount() { losses_ = 0; }
    //! Also counts replaced characters in an outside counter (the session's).
    void setLossCounter(std::uint64_t* counter) { sharedLosses_ = counter; }

private:
    bool identity_ = true;
    bool multiByte_ = false;
    int from_ = 0;
    int to_ = 0;
    std::array<unsigned char, 256> map_{};
    std::array<bool, 256> lossy_{};
    mutable std::uint64_t losses_ = 0;
    std::uint64_t* sharedLosses_ = nullptr;
    std::shared_ptr<Iconv> iconv_; //!< multi-byte code pages convert whole texts
};

//! Text in a single-byte code page as UTF-8 (for terminals and CSV dumps).
std::string toUtf8(std::string_view text, int codePage);
//! UTF-8 text in a single-byte code page; unmappable characters become "?".
std::string fromUtf8(std::string_view text, int codePage);
//! Whether the platform can convert this code page at all.
bool isKnownCodePage(int codePage);

} // namespace fieldsmith::engine
