// The value rules of the field operations, each a function of one value and the page's
// options: DOS character conversion, the case modes, trimming, putting a string in front,
// blanking leading line breaks and the price format. Values are Windows-1252 bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace fieldsmith::ops {

//! DOS (code page 850) characters to their Windows-1252 equivalents, by the fixed rule
//! table; every position is converted once, from the input's byte.
std::string ConvertOemToAnsi(std::string_view value);

//! Word case: the first character of each word kept, every other character lower-cased.
std::string Setze_LowerCase(std::string_view value);

std::string allUpperCase(std::string_view value);
std::string allLowerCase(std::string_view value);

//! Removes every byte <= 0x20 from both ends.
std::string trimValue(std::string_view value);

struct AddStringOptions {
    std::string zuEdit;
    bool SizeBox = false;
    int size = 0; //!< the number in SizeEdit, used while SizeBox is ticked
    bool IfCheckAddString1 = false;
    bool contain = true; //!< "does contain:" (else "does NOT contain:")
    std::string IfCheckAddString2;
};

//! The add-string rule: the new value, or nothing when the record is not to be written.
std::optional<std::string> addString(std::string_view value, const AddStringOptions& options);

//! Blanks line feeds and carriage returns among the first n positions; nothing when no
//! byte was replaced (value shorter than n, n < 1, or no line break there).
std::optional<std::string> blankLeadingCrLf(std::string_view value, long long n);

//! A price as digits with a decimal comma and two decimals (the rules of Format Prices).
std::string FormatPreisFeld(std::string_view value);

} // namespace fieldsmith::ops
