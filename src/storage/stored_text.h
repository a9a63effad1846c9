// Text kept in the database as UTF-8 bytes: cutting to a byte limit and
// reading back into wide text. Used by the settings store and the message
// table.
#pragma once

#include <cstddef>
#include <string>

namespace storage {

// The first `limit` bytes at most, backed off to the start of a character
// when the cut would split a multi-byte sequence.
std::string CutUtf8(const std::string& bytes, size_t limit);

// UTF-8 bytes as wide text. Bytes that are not valid UTF-8 still give a
// text: each of them becomes U+FFFD, the rest stays (without a converter
// at all, ASCII bytes stay and every other byte becomes U+FFFD). Texts that
// came out of a wrong decipherment are thus kept rather than dropped.
std::wstring WideFromStored(const std::string& bytes);

}  // namespace storage
