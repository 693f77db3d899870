// The update decision's pure parts: the release text of the printer's answer and the
// CONDITIONAL_TABLE key built from it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

// The release answer is read in one go of at most this many bytes.
constexpr uint32_t RELEASE_ANSWER_MAX = 100;
// "Rel", 7 version characters, "Ver", 7 characters of the second field.
constexpr size_t RELEASE_KEY_MAX = 20;

// The release text of an answer: its bytes without the first two and the last two, up to the
// first NUL (the text is traced and keyed as a C string). False when the answer is too short
// to frame a text (fewer than 4 bytes); an answer of exactly 4 bytes has an empty text.
bool release_text(const uint8_t* answer, size_t count, std::string& text);

// The lookup key of a release text: "Rel", the version field without its dots (at most 7
// characters looked at), "Ver", then up to 7 characters of the second field. When the version
// field is longer than 7, its 8th character is skipped and the second part starts with the
// 9th. "1.05;A01;" gives "Rel105VerA01".
std::string release_key(std::string_view text);

}  // namespace vx
