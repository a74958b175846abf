// The component log shared by the stub and the installer it starts.
#pragma once

#include <cstdint>

enum : uint32_t {
  CMPLOG2_MAIN = 0,
  CMPLOG2_VERBOSE = 1,
  CMPLOG2_VERBOSE_CONT = 2,
  CMPLOG2_BOTH = 3,
  CMPLOG2_BOTH_CONT = 4,
};
enum : int32_t {
  CMPLOG2_INFO = 0,
  CMPLOG2_WARNING = 1,
  CMPLOG2_ERROR = 2,
  CMPLOG2_CRITICAL = 3,
};

// The writer's source file, as a wide string, for the verbose log's line prefix.
#define CMPLOG2_SOURCE (L"" __FILE__)

class CCmpLog2 {
 public:
  CCmpLog2() = default;
  virtual ~CCmpLog2() = default;
  CCmpLog2(const CCmpLog2&) = delete;
  CCmpLog2& operator=(const CCmpLog2&) = delete;

  // Writes a printf-style wide message ("%s" takes a wide string); dropped while not open.
  virtual void Write(uint32_t destination, int32_t severity, const wchar_t* sourceFile, int32_t sourceLine,
                     const wchar_t* format, ...);

 private:
  bool open_ = false;
};
