// UTF-8, the form every text takes inside the product.
#pragma once

#include <cstdint>
#include <string>

// Appends the UTF-8 bytes of the code point `code` (at most U+10FFFF) to `text`.
void AppendUtf8(std::string& text, uint32_t code);
