#pragma once
// Text helpers for dialogs and parsers. Numbers are read the same way in every
// locale.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace vl {

size_t countLeadingSpaces(std::string_view s);
std::string_view skipSpaces(std::string_view s);

// Decimal digits at the start of s. Returns the characters consumed, or 0 when
// there is no digit or the number does not fit; value is then unchanged.
size_t parseUnsigned(std::string_view s, uint32_t& value);

// Like parseUnsigned after any number of '-', each of which flips the sign
// ("--5" is 5). The count includes the signs.
size_t parseSigned(std::string_view s, int32_t& value);

// A decimal float after leading spaces; what follows the number is ignored.
// False when there is no number, or it is out of range or not finite.
bool parseFloat(std::string_view s, float& value);

// Index of the first c in s, or the length of s.
size_t findChar(std::string_view s, char c);

// True when every byte reached the stream.
bool writeString(std::FILE* file, std::string_view s);

// "/a/b/name.ext" → "name".
std::string fileTitle(std::string_view path);

// The folder with one '/' at its end (an empty folder stays empty).
std::string withTrailingDelimiter(std::string_view folder);
std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace vl
