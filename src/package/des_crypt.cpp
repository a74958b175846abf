#include "package/des_crypt.h"

#include <cstdint>
#include <cstring>
#include <memory>

const char kDesErrorLength[] = "Input string is not a multiple of 16 characters!";
const char kDesErrorOutput[] = "Bad output buffer";
const char kDesErrorNonHex[] = "Input text contains a non-hexadecimal character!";

DesCryptException::DesCryptException(const char* text) {
  size_t n = 0;
  if (text != nullptr) {
    while (n < sizeof(message) - 1 && text[n] != '\0') {
      message[n] = text[n];
      ++n;
    }
  }
  message[n] = '\0';
}

namespace {

// Every table below is FIPS 46-3's, bit 1 being the most significant bit of its word.

const uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

const uint8_t kFinalPermutation[64] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

const uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

const uint8_t kPermutationP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

const uint8_t kPermutedChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

const uint8_t kPermutedChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
    26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
    51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

const uint8_t kRotations[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// Row: outer bits of the 6-bit group (first and last); column: the four inner bits.
const uint8_t kSBoxes[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// Output bit j (counting from 1 at the most significant end of an `outWidth`-bit word) is input
// bit table[j - 1] of the `inWidth`-bit word `in`.
uint64_t Permute(uint64_t in, unsigned inWidth, const uint8_t* table, unsigned outWidth) {
  uint64_t out = 0;
  for (unsigned j = 0; j < outWidth; ++j) out = (out << 1) | ((in >> (inWidth - table[j])) & 1u);
  return out;
}

uint64_t LoadBigEndian(const unsigned char* bytes, unsigned count) {
  uint64_t value = 0;
  for (unsigned i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

void StoreBigEndian(uint64_t value, unsigned char* bytes, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    bytes[i] = static_cast<unsigned char>(value & 0xFFu);
    value >>= 8;
  }
}

uint32_t Rotate28(uint32_t half, unsigned count) {
  return ((half << count) | (half >> (28 - count))) & 0x0FFFFFFFu;
}

// The cipher function f(R, K): expansion, XOR with the subkey, S-boxes, permutation P.
uint32_t CipherFunction(uint32_t right, uint64_t subkey) {
  const uint64_t mixed = Permute(right, 32, kExpansion, 48) ^ subkey;
  uint32_t substituted = 0;
  for (unsigned box = 0; box < 8; ++box) {
    const unsigned group = static_cast<unsigned>((mixed >> (42 - 6 * box)) & 0x3Fu);
    const unsigned row = ((group >> 4) & 2u) | (group & 1u);
    const unsigned column = (group >> 1) & 0x0Fu;
    substituted = (substituted << 4) | kSBoxes[box][row][column];
  }
  return static_cast<uint32_t>(Permute(substituted, 32, kPermutationP, 32));
}

}  // namespace

bool HasOddParityByte(const unsigned char bytes[DesCrypt::kKeySize]) {
  for (size_t i = 0; i < DesCrypt::kKeySize; ++i) {
    unsigned bits = 0;
    for (unsigned value = bytes[i]; value != 0; value >>= 1) bits ^= value & 1u;
    if (bits != 0) return true;
  }
  return false;
}

int HexDigitValue(char c) {
  // Compared as unsigned so that bytes of 0x80 and above never pass as digits.
  const unsigned char u = static_cast<unsigned char>(c);
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  throw DesCryptException(kDesErrorNonHex);
}

DesCrypt::DesCrypt() : subkeys{} {}

void DesCrypt::MakeKey(const char* text, unsigned char key[kKeySize]) {
  std::memset(key, ' ', kKeySize);
  if (text != nullptr) {
    for (size_t i = 0; i < kKeySize && text[i] != '\0'; ++i) key[i] = static_cast<unsigned char>(text[i]);
  }
  if (!HasOddParityByte(key) && (key[0] & 0x80u) != 0) key[0] = static_cast<unsigned char>(key[0] & 0x7Fu);
}

void DesCrypt::SetKey(const unsigned char key[kKeySize]) {
  const uint64_t selected = Permute(LoadBigEndian(key, kKeySize), 64, kPermutedChoice1, 56);
  uint32_t c = static_cast<uint32_t>(selected >> 28) & 0x0FFFFFFFu;
  uint32_t d = static_cast<uint32_t>(selected) & 0x0FFFFFFFu;
  for (size_t i = 0; i < kSubkeyCount; ++i) {
    c = Rotate28(c, kRotations[i]);
    d = Rotate28(d, kRotations[i]);
    const uint64_t joined = (static_cast<uint64_t>(c) << 28) | d;
    StoreBigEndian(Permute(joined, 56, kPermutedChoice2, 48), subkeys[i], kSubkeySize);
  }
}

void DesCrypt::DecryptBlock(const unsigned char keys[kSubkeyCount][kSubkeySize],
                            const unsigned char input[kBlockSize],
                            unsigned char output[kBlockSize]) {
  const uint64_t permuted = Permute(LoadBigEndian(input, kBlockSize), 64, kInitialPermutation, 64);
  uint32_t left = static_cast<uint32_t>(permuted >> 32);
  uint32_t right = static_cast<uint32_t>(permuted);
  for (size_t i = 0; i < kSubkeyCount; ++i) {
    const uint32_t next = left ^ CipherFunction(right, LoadBigEndian(keys[i], kSubkeySize));
    left = right;
    right = next;
  }
  // The halves leave the last iteration exchanged: R16 L16 goes into the final permutation.
  const uint64_t preoutput = (static_cast<uint64_t>(right) << 32) | left;
  StoreBigEndian(Permute(preoutput, 64, kFinalPermutation, 64), output, kBlockSize);
}

void DesCrypt::DecryptHexText(const char* text, size_t length, unsigned char** output,
                              size_t* outputLength) const {
  if (length % 16 != 0) throw DesCryptException(kDesErrorLength);
  if (output == nullptr) throw DesCryptException(kDesErrorOutput);
  if (text == nullptr && length != 0) throw DesCryptException(kDesErrorNonHex);

  // Both arrays are released on every way out until the output is handed over.
  const size_t n = length / 2;
  std::unique_ptr<unsigned char[]> ciphertext(new unsigned char[n]);
  std::unique_ptr<unsigned char[]> plaintext(new unsigned char[n]);
  for (size_t i = 0; i < n; ++i) {
    const int high = HexDigitValue(text[2 * i]);
    const int low = HexDigitValue(text[2 * i + 1]);
    ciphertext[i] = static_cast<unsigned char>(high * 16 + low);
  }

  unsigned char reversed[kSubkeyCount][kSubkeySize];
  for (size_t i = 0; i < kSubkeyCount; ++i)
    std::memcpy(reversed[i], subkeys[kSubkeyCount - 1 - i], kSubkeySize);

  for (size_t offset = 0; offset < n; offset += kBlockSize)
    DecryptBlock(reversed, ciphertext.get() + offset, plaintext.get() + offset);

  if (outputLength != nullptr) *outputLength = n;
  *output = plaintext.release();
}
