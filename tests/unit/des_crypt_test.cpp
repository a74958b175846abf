#include "package/des_crypt.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
using Subkeys = unsigned char[DesCrypt::kSubkeyCount][DesCrypt::kSubkeySize];

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const unsigned char* bytes, size_t n, bool upper = true) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  const char* digits = upper ? kUpper : kLower;
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}
std::string ToHex(const Bytes& bytes, bool upper = true) {
  return ToHex(bytes.data(), bytes.size(), upper);
}

void Reverse(const Subkeys in, Subkeys out) {
  for (size_t i = 0; i < DesCrypt::kSubkeyCount; ++i)
    std::memcpy(out[i], in[DesCrypt::kSubkeyCount - 1 - i], DesCrypt::kSubkeySize);
}

Bytes Encipher(const DesCrypt& des, const Bytes& block) {
  Bytes out(8);
  DesCrypt::DecryptBlock(des.subkeys, block.data(), out.data());
  return out;
}

Bytes Decipher(const DesCrypt& des, const Bytes& block) {
  Subkeys reversed;
  Reverse(des.subkeys, reversed);
  Bytes out(8);
  DesCrypt::DecryptBlock(reversed, block.data(), out.data());
  return out;
}

// Runs DecryptHexText and returns the output bytes, checking that the reported length matches.
Bytes DecodeHex(const DesCrypt& des, const std::string& text) {
  unsigned char* output = nullptr;
  size_t length = 12345;
  des.DecryptHexText(text.data(), text.size(), &output, &length);
  std::unique_ptr<unsigned char[]> owner(output);
  EXPECT_NE(nullptr, output);
  EXPECT_EQ(text.size() / 2, length);
  return Bytes(output, output + length);
}

// ---------------------------------------------------------------------------------------------
// Published known-answer vectors: FIPS 46-3 worked examples and the NIST SP 800-17 tables
// (variable plaintext, variable key, permutation operation, substitution table).

struct KnownAnswer {
  const char* key;
  const char* plain;
  const char* cipher;
};

const KnownAnswer kKnownAnswers[] = {
    // Classic worked examples.
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    // Variable plaintext, key 0101010101010101.
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"0101010101010101", "1000000000000000", "4BD388FF6CD81D4F"},
    {"0101010101010101", "0800000000000000", "20B9E767B2FB1456"},
    {"0101010101010101", "0400000000000000", "55579380D77138EF"},
    {"0101010101010101", "0200000000000000", "6CC5DEFAAF04512F"},
    {"0101010101010101", "0100000000000000", "0D9F279BA5D87260"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    // Variable key, plaintext 0.
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"2001010101010101", "0000000000000000", "7AD16FFB79C45926"},
    {"1001010101010101", "0000000000000000", "D3746294CA6A6CF3"},
    {"0801010101010101", "0000000000000000", "809F5F873C1FD761"},
    {"0401010101010101", "0000000000000000", "C02FAFFEC989D1FC"},
    {"0201010101010101", "0000000000000000", "4615AA1D33E72F10"},
    {"0180010101010101", "0000000000000000", "2055123350C00858"},
    // Permutation operation, plaintext 0.
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
    {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
    {"1046103489988020", "0000000000000000", "DF725DCAD94EA2E9"},
    // Substitution table.
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
    {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
    {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
    {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
    {"584023641ABA6176", "004BD6EF09176062", "88BF0DB6D70DEE56"},
    {"025816164629B007", "480D39006EE762F2", "A1F9915541020B56"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "6FBF1CAFCFFD0556"},
    {"4FB05E1515AB73A7", "072D43A077075292", "2F22E49BAB7CA1AC"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "5A6B612CC26CCE4A"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "5F4C038ED12B2E41"},
    {"1C587F1C13924FEF", "305532286D6F295A", "63FAC0D034D9F793"},
};

TEST(DesKnownAnswer, EveryVectorEnciphersAndDeciphers) {
  for (const KnownAnswer& v : kKnownAnswers) {
    SCOPED_TRACE(std::string("key ") + v.key + " plain " + v.plain);
    DesCrypt des;
    des.SetKey(FromHex(v.key).data());
    EXPECT_EQ(v.cipher, ToHex(Encipher(des, FromHex(v.plain))));
    EXPECT_EQ(v.plain, ToHex(Decipher(des, FromHex(v.cipher))));
    // The same block through the whole text path: the decoder applies K16 to K1 itself.
    EXPECT_EQ(v.plain, ToHex(DecodeHex(des, v.cipher)));
  }
}

TEST(DesKnownAnswer, KeyScheduleMatchesTheWorkedExample) {
  // Subkeys K1 and K16 of the standard worked example for key 133457799BBCDFF1.
  DesCrypt des;
  des.SetKey(FromHex("133457799BBCDFF1").data());
  EXPECT_EQ("1B02EFFC7072", ToHex(des.subkeys[0], 6));
  EXPECT_EQ("CB3D8B0E17F5", ToHex(des.subkeys[15], 6));
}

TEST(DesKeySchedule, ParityBitsTakeNoPart) {
  for (const KnownAnswer& v : kKnownAnswers) {
    Bytes key = FromHex(v.key);
    DesCrypt des;
    des.SetKey(key.data());
    for (unsigned char& b : key) b ^= 0x01;  // flip every parity bit
    DesCrypt flipped;
    flipped.SetKey(key.data());
    EXPECT_EQ(0, std::memcmp(des.subkeys, flipped.subkeys, sizeof des.subkeys)) << v.key;
    // Any other bit does matter.
    key[3] ^= 0x10;
    DesCrypt changed;
    changed.SetKey(key.data());
    EXPECT_NE(0, std::memcmp(des.subkeys, changed.subkeys, sizeof des.subkeys)) << v.key;
  }
}

TEST(DesDecryptBlock, WorksInPlace) {
  DesCrypt des;
  des.SetKey(FromHex("133457799BBCDFF1").data());
  Bytes block = FromHex("0123456789ABCDEF");
  DesCrypt::DecryptBlock(des.subkeys, block.data(), block.data());
  EXPECT_EQ("85E813540F0AB405", ToHex(block));
}

// ---------------------------------------------------------------------------------------------
// Key derivation from the package file name.

std::string KeyOf(const char* text) {
  unsigned char key[8];
  std::memset(key, 0xEE, sizeof key);
  DesCrypt::MakeKey(text, key);
  return std::string(reinterpret_cast<char*>(key), 8);
}

TEST(DesMakeKey, BuildsTheKeyFromTheFileName) {
  struct Case {
    const char* text;
    std::string key;
    const char* why;
  } cases[] = {
      {"abc", "abc     ", "a short name ends in blanks"},
      {"", "        ", "empty name"},
      {nullptr, "        ", "no name"},
      {"ab\0cd", "ab      ", "the text ends at its terminator"},
      {"cp012345.exe", "cp012345", "only the first 8 bytes count"},
      {"exactly8", "exactly8", "8 bytes, one of them with odd parity"},
      {"AAAAAAAA", "AAAAAAAA", "all even but top bit of the first byte clear"},
      {"\xC3" "AAAAAAA", "\x43" "AAAAAAA", "all even and first byte 0x80 or above: top bit cleared"},
      {"\x81" "AAAAAAA", "\x01" "AAAAAAA", "0x81 is even: becomes 0x01"},
      {"\xC3" "AAAAAAA" "bcde", "\x43" "AAAAAAA", "odd bytes after the eighth do not count"},
      {"\xC3" "AAAAAAC", "\xC3" "AAAAAAC", "the last byte (0x43) is odd: unchanged"},
      {"\xC2" "AAAAAAA", "\xC2" "AAAAAAA", "the first byte itself is odd: unchanged"},
      {"\xC3" "AA", "\xC3" "AA     ", "blanks have odd parity: a short name keeps its top bit"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.key, KeyOf(c.text)) << c.why;
}

TEST(DesHasOddParityByte, TrueWhenAnyByteHasAnOddBitCount) {
  unsigned char zeros[8] = {};
  EXPECT_FALSE(HasOddParityByte(zeros));
  unsigned char even[8] = {0x03, 0xFF, 0x81, 0x18, 0x00, 0x66, 0xC3, 0xF0};
  EXPECT_FALSE(HasOddParityByte(even));
  // One odd byte in any position is enough; each of the eight bit positions is counted.
  for (int pos = 0; pos < 8; ++pos) {
    for (int bit = 0; bit < 8; ++bit) {
      unsigned char bytes[8];
      std::memcpy(bytes, even, sizeof bytes);
      bytes[pos] ^= static_cast<unsigned char>(1u << bit);
      EXPECT_TRUE(HasOddParityByte(bytes)) << "byte " << pos << " bit " << bit;
    }
  }
  unsigned char sevens[8] = {0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07};
  EXPECT_TRUE(HasOddParityByte(sevens));
}

// ---------------------------------------------------------------------------------------------
// Hexadecimal digits and the exception.

TEST(DesHexDigitValue, AcceptsExactlyTheSixteenDigitsInBothCases) {
  for (int c = 0; c < 256; ++c) {
    const char ch = static_cast<char>(c);
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (digit) {
      const char s[2] = {ch, '\0'};
      EXPECT_EQ(std::strtol(s, nullptr, 16), HexDigitValue(ch)) << "character " << c;
    } else {
      try {
        HexDigitValue(ch);
        ADD_FAILURE() << "character " << c << " accepted";
      } catch (const DesCryptException& e) {
        EXPECT_STREQ("Input text contains a non-hexadecimal character!", e.message);
      }
    }
  }
}

TEST(DesCryptException, KeepsAtMost1023CharactersAndATerminator) {
  const std::string longText(2000, 'x');
  const DesCryptException cut(longText.c_str());
  EXPECT_EQ(std::string(1023, 'x'), std::string(cut.message));
  const std::string exact(1023, 'y');
  EXPECT_EQ(exact, std::string(DesCryptException(exact.c_str()).message));
  EXPECT_STREQ("", DesCryptException(nullptr).message);
  const DesCryptException copy = cut;  // thrown by value: copies keep the text
  EXPECT_EQ(std::string(1023, 'x'), std::string(copy.message));
}

// ---------------------------------------------------------------------------------------------
// The text format.

class DesDecryptHexText : public ::testing::Test {
 protected:
  void SetUp() override { des.SetKey(FromHex("133457799BBCDFF1").data()); }

  // Expects DecryptHexText to throw `message` and to leave both out arguments untouched.
  void ExpectThrow(const std::string& text, bool withOutput, const char* message) {
    unsigned char sentinel = 0;
    unsigned char* output = &sentinel;
    size_t length = 777;
    try {
      des.DecryptHexText(text.data(), text.size(), withOutput ? &output : nullptr, &length);
      ADD_FAILURE() << "no exception for \"" << text << "\"";
    } catch (const DesCryptException& e) {
      EXPECT_STREQ(message, e.message) << "text \"" << text << "\"";
    }
    EXPECT_EQ(&sentinel, output);
    EXPECT_EQ(777u, length);
  }

  DesCrypt des;
};

const char kLengthMessage[] = "Input string is not a multiple of 16 characters!";
const char kOutputMessage[] = "Bad output buffer";
const char kHexMessage[] = "Input text contains a non-hexadecimal character!";

TEST_F(DesDecryptHexText, EmptyTextGivesAnEmptyOutput) {
  unsigned char* output = nullptr;
  size_t length = 99;
  des.DecryptHexText("", 0, &output, &length);
  EXPECT_NE(nullptr, output);
  EXPECT_EQ(0u, length);
  delete[] output;
  // A null text of length 0 is an empty text too.
  output = nullptr;
  des.DecryptHexText(nullptr, 0, &output, nullptr);
  EXPECT_NE(nullptr, output);
  delete[] output;
}

TEST_F(DesDecryptHexText, DigitsOfEitherCaseGiveTheSameBytes) {
  const Bytes plain = FromHex("0123456789ABCDEF");
  EXPECT_EQ(plain, DecodeHex(des, "85E813540F0AB405"));
  EXPECT_EQ(plain, DecodeHex(des, "85e813540f0ab405"));
  EXPECT_EQ(plain, DecodeHex(des, "85e813540F0aB405"));
}

TEST_F(DesDecryptHexText, BlocksAreDecipheredEachOnItsOwn) {
  const Bytes plain = FromHex("0123456789ABCDEF");
  // Two equal groups give two equal groups.
  const Bytes twice = DecodeHex(des, "85E813540F0AB40585e813540f0ab405");
  ASSERT_EQ(16u, twice.size());
  EXPECT_EQ(plain, Bytes(twice.begin(), twice.begin() + 8));
  EXPECT_EQ(plain, Bytes(twice.begin() + 8, twice.end()));
  // No chaining: changing the first block leaves the second alone.
  const Bytes mixed = DecodeHex(des, "000000000000000085E813540F0AB405");
  EXPECT_EQ(plain, Bytes(mixed.begin() + 8, mixed.end()));
  EXPECT_NE(plain, Bytes(mixed.begin(), mixed.begin() + 8));
}

TEST_F(DesDecryptHexText, OutputLengthMayBeOmitted) {
  unsigned char* output = nullptr;
  des.DecryptHexText("85E813540F0AB405", 16, &output, nullptr);
  ASSERT_NE(nullptr, output);
  EXPECT_EQ("0123456789ABCDEF", ToHex(output, 8));
  delete[] output;
}

TEST_F(DesDecryptHexText, ReadsExactlyTheGivenLength) {
  // The text need not be terminated; what follows the given length is not read.
  const std::string buffer = "85E813540F0AB405zz";
  unsigned char* output = nullptr;
  size_t length = 0;
  des.DecryptHexText(buffer.data(), 16, &output, &length);
  std::unique_ptr<unsigned char[]> owner(output);
  ASSERT_EQ(8u, length);
  EXPECT_EQ("0123456789ABCDEF", ToHex(output, 8));
}

TEST_F(DesDecryptHexText, RejectsBadTextBeforeDecipheringAnything) {
  const std::string good = "85E813540F0AB405";
  struct Case {
    std::string text;
    bool withOutput;
    const char* message;
  } cases[] = {
      {good.substr(0, 15), true, kLengthMessage},
      {good + "0", true, kLengthMessage},
      {good + "\r\n", true, kLengthMessage},
      {good + good.substr(0, 8), true, kLengthMessage},
      {"0", true, kLengthMessage},
      // The length is checked before the output argument, the output before the digits.
      {good.substr(0, 15), false, kLengthMessage},
      {good, false, kOutputMessage},
      {"zzzzzzzzzzzzzzzz", false, kOutputMessage},
      {"", false, kOutputMessage},
      // Any character outside 0-9, a-f, A-F, wherever it stands.
      {"85E81354 0F0AB40", true, kHexMessage},
      {"85E813540F0AB40G", true, kHexMessage},
      {"g5E813540F0AB405", true, kHexMessage},
      {good + "85E813540F0AB4x5", true, kHexMessage},
      {"0x85E813540F0AB4", true, kHexMessage},
      {"85E813540F0AB4-5", true, kHexMessage},
      {std::string("85E81354\0" "0F0AB40", 16), true, kHexMessage},
      {"85E813540F0AB4\xB0" "5", true, kHexMessage},
      {"85E813540F0AB4\xFF" "5", true, kHexMessage},
      {"\xEF\xBC\x98" "5E813540F0AB4", true, kHexMessage},
      {"85E813540F0AB40\n", true, kHexMessage},
  };
  for (const Case& c : cases) ExpectThrow(c.text, c.withOutput, c.message);
}

TEST_F(DesDecryptHexText, NullTextWithALengthIsRejected) {
  unsigned char* output = nullptr;
  try {
    des.DecryptHexText(nullptr, 16, &output, nullptr);
    ADD_FAILURE() << "no exception";
  } catch (const DesCryptException& e) {
    EXPECT_STREQ(kHexMessage, e.message);
  }
  EXPECT_EQ(nullptr, output);
}

TEST_F(DesDecryptHexText, WrongKeyGivesOtherBytesWithoutError) {
  DesCrypt other;
  other.SetKey(FromHex("0E329232EA6D0D73").data());
  const Bytes bytes = DecodeHex(other, "85E813540F0AB405");
  EXPECT_EQ(8u, bytes.size());
  EXPECT_NE(FromHex("0123456789ABCDEF"), bytes);
}

TEST_F(DesDecryptHexText, DecodesWithTheKeyMadeFromTheFileName) {
  // "Now is t" enciphered under key 0123456789ABCDEF gives 3FA40E8A984D4815; the file name
  // "\x01\x23\x45\x67\x89\xAB\xCD\xEF" has odd bytes, so MakeKey leaves it as it is.
  unsigned char key[8];
  DesCrypt::MakeKey("\x01\x23\x45\x67\x89\xAB\xCD\xEF" "extra", key);
  DesCrypt fromName;
  fromName.SetKey(key);
  const Bytes bytes = DecodeHex(fromName, "3fa40e8a984d4815");
  EXPECT_EQ("Now is t", std::string(bytes.begin(), bytes.end()));
}

// ---------------------------------------------------------------------------------------------
// Cross-check against the openssl command line, an independent DES implementation.

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult RunShell(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[512];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  while (!result.output.empty() && (result.output.back() == '\n' || result.output.back() == '\r'))
    result.output.pop_back();
  const int status = pclose(pipe);
  result.status = (status != -1 && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
  return result;
}

// A private temporary folder, removed with its files at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/des_crypt_test_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
  }
  ~TempFolder() {
    for (const std::string& file : files_) std::remove(file.c_str());
    if (!path_.empty()) rmdir(path_.c_str());
  }
  bool ok() const { return !path_.empty(); }
  std::string File(const std::string& name) {
    files_.push_back(path_ + "/" + name);
    return files_.back();
  }

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// Skips the calling test unless openssl and its legacy provider (which holds DES) are usable.
#define REQUIRE_OPENSSL_DES()                                                                 \
  do {                                                                                        \
    const CommandResult version = RunShell("openssl version");                                \
    if (version.status != 0) {                                                                \
      std::printf("openssl is not available (status %d): %s\n", version.status,             \
                  version.output.c_str());                                                    \
      GTEST_SKIP() << "openssl binary not available";                                         \
    }                                                                                         \
    const CommandResult legacy = RunShell("openssl list -providers -provider legacy");        \
    if (legacy.status != 0) {                                                                 \
      std::printf("%s cannot load its legacy provider: %s\n", version.output.c_str(),        \
                  legacy.output.c_str());                                                     \
      GTEST_SKIP() << "openssl legacy provider not available";                                \
    }                                                                                         \
  } while (0)

bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// DES-ECB without padding of `plain` (a multiple of 8 bytes) under `key`, by openssl.
Bytes OpensslEncipher(TempFolder& temp, const Bytes& key, const Bytes& plain) {
  const std::string in = temp.File("plain.bin");
  const std::string out = temp.File("cipher.bin");
  std::remove(out.c_str());
  EXPECT_TRUE(WriteFile(in, plain));
  const CommandResult r = RunShell("openssl enc -des-ecb -provider legacy -provider default -K " +
                                   ToHex(key) + " -nopad -in '" + in + "' -out '" + out + "'");
  EXPECT_EQ(0, r.status) << r.output;
  return ReadFile(out);
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes out(n);
  for (unsigned char& b : out) b = static_cast<unsigned char>(rng() >> 24);
  return out;
}

TEST(DesOpensslCrossCheck, RandomKeysAndBlocks) {
  REQUIRE_OPENSSL_DES();
  TempFolder temp;
  ASSERT_TRUE(temp.ok());
  std::mt19937 rng(0x5eed1234u);
  const int kKeys = 256;
  const size_t kBlocksPerKey = 4;
  int checked = 0;
  for (int k = 0; k < kKeys; ++k) {
    const Bytes key = RandomBytes(rng, 8);
    const Bytes plain = RandomBytes(rng, 8 * kBlocksPerKey);
    const Bytes cipher = OpensslEncipher(temp, key, plain);
    ASSERT_EQ(plain.size(), cipher.size()) << "openssl gave no output for key " << ToHex(key);
    DesCrypt des;
    des.SetKey(key.data());
    for (size_t b = 0; b < kBlocksPerKey; ++b) {
      const Bytes p(plain.begin() + 8 * b, plain.begin() + 8 * (b + 1));
      const Bytes c(cipher.begin() + 8 * b, cipher.begin() + 8 * (b + 1));
      EXPECT_EQ(ToHex(c), ToHex(Encipher(des, p))) << "key " << ToHex(key);
      EXPECT_EQ(ToHex(p), ToHex(Decipher(des, c))) << "key " << ToHex(key);
      ++checked;
    }
    // And the whole ciphertext through the text decoder.
    EXPECT_EQ(plain, DecodeHex(des, ToHex(cipher, (k & 1) != 0))) << "key " << ToHex(key);
  }
  EXPECT_EQ(kKeys * static_cast<int>(kBlocksPerKey), checked);
}

TEST(DesOpensslCrossCheck, ConfigurationFileEncryptedUnderTheFileNameKey) {
  REQUIRE_OPENSSL_DES();
  TempFolder temp;
  ASSERT_TRUE(temp.ok());
  std::mt19937 rng(20240611u);
  const char* names[] = {"cp049316.exe", "cp1.exe", "SPP", "exactly8", "\xC3" "AAAAAAA.exe", ""};
  for (const char* name : names) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{5}, size_t{8}, size_t{37}, size_t{1000}}) {
      SCOPED_TRACE(std::string("name \"") + name + "\", " + std::to_string(size) + " bytes");
      // A configuration text of printable characters and line ends, filled up to whole blocks
      // with zero bytes the way the encrypting side leaves them.
      std::string config;
      for (size_t i = 0; i < size; ++i) config += (rng() % 17 == 0) ? '\n' : static_cast<char>(' ' + rng() % 95);
      Bytes filled(config.begin(), config.end());
      while (filled.size() % 8 != 0) filled.push_back(0);

      unsigned char key[8];
      DesCrypt::MakeKey(name, key);
      const Bytes cipher = filled.empty() ? Bytes() : OpensslEncipher(temp, Bytes(key, key + 8), filled);
      ASSERT_EQ(filled.size(), cipher.size());
      const std::string hex = ToHex(cipher, size % 2 == 0);

      DesCrypt des;
      DesCrypt::MakeKey(name, key);
      des.SetKey(key);
      unsigned char* output = nullptr;
      size_t length = 0;
      des.DecryptHexText(hex.data(), hex.size(), &output, &length);
      std::unique_ptr<unsigned char[]> owner(output);
      ASSERT_EQ(filled.size(), length) << "fill bytes stay in the output";
      EXPECT_EQ(filled, Bytes(output, output + length));
      EXPECT_EQ(config, std::string(reinterpret_cast<char*>(output), size));
    }
  }
}

}  // namespace
