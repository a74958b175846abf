// The decoder of encrypted configuration files: DES (FIPS 46-3) in electronic-codebook mode,
// deciphering only, over hexadecimal text, with a key made from the package's file name.
//
// Deliberately plain: the bit numbering and every table are the standard's, and the cipher
// walks the permutation tables bit by bit. Configuration files are small, so speed is of no
// concern here.
#pragma once

#include <cstddef>

// Thrown by value when encrypted text cannot be decoded. No base class: the package loader
// catches exactly this type.
struct DesCryptException {
  // Copies `text` into `message`, cut to 1023 characters and always terminated. A null text
  // gives an empty message.
  explicit DesCryptException(const char* text);

  char message[1024];
};

// Messages of DesCryptException, one per way that decoding can fail.
extern const char kDesErrorLength[];     // text length not a multiple of 16
extern const char kDesErrorOutput[];     // no place to return the output
extern const char kDesErrorNonHex[];     // a character other than 0-9, a-f, A-F

class DesCrypt {
 public:
  enum : size_t { kBlockSize = 8, kKeySize = 8, kSubkeyCount = 16, kSubkeySize = 6 };

  DesCrypt();

  // Builds the 8-byte key from a terminated 8-bit text (the package file name): blanks,
  // overwritten by the text's first bytes (at most 8). When every key byte then has an even
  // number of set bits and the first byte has its top bit set, that bit is cleared. A null
  // text counts as an empty one.
  static void MakeKey(const char* text, unsigned char key[kKeySize]);

  // The key schedule: fills `subkeys` with K1 to K16. The low bit of each key byte takes no
  // part and parity is not checked.
  void SetKey(const unsigned char key[kKeySize]);

  // Deciphers `length` characters of hexadecimal text (two digits per byte, high digit first,
  // either case) block by block with the subkeys of the last SetKey. On success *output receives
  // a new array of length / 2 bytes (never null, even for an empty text), which the caller
  // releases with delete[], and *outputLength (when not null) its length. Fill bytes of the last
  // block are kept as they are.
  //
  // Throws DesCryptException, before deciphering anything and leaving *output and *outputLength
  // untouched, in this order of checks: length not a multiple of 16, null `output`, a character
  // that is not a hexadecimal digit (a null `text` with a non-zero length counts as that).
  void DecryptHexText(const char* text, size_t length, unsigned char** output,
                      size_t* outputLength) const;

  // One block through the 16 iterations of the cipher, applying `keys` in the order given:
  // K1 to K16 enciphers, K16 to K1 deciphers. `input` and `output` may be the same array.
  static void DecryptBlock(const unsigned char keys[kSubkeyCount][kSubkeySize],
                           const unsigned char input[kBlockSize],
                           unsigned char output[kBlockSize]);

  // K1 to K16, 48 bits each, most significant bit first in the first of its six bytes.
  unsigned char subkeys[kSubkeyCount][kSubkeySize];
};

// True when at least one of the 8 bytes has an odd number of set bits.
bool HasOddParityByte(const unsigned char bytes[DesCrypt::kKeySize]);

// The value 0 to 15 of a hexadecimal digit; throws DesCryptException for any other character.
int HexDigitValue(char c);
