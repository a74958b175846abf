// UTF-8 decoding for the test tables, which are UTF-8 text files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Code points of a UTF-8 text (malformed sequences are taken as they come).
inline std::vector<uint32_t> DecodeUtf8(const std::string& text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    uint32_t cp = c;
    size_t extra = 0;
    if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
    else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
    else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
    for (size_t k = 1; k <= extra && i + k < text.size(); ++k) cp = (cp << 6) | (text[i + k] & 0x3F);
    i += extra + 1;
    out.push_back(cp);
  }
  return out;
}
