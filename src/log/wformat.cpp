#include "log/wformat.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

enum class Size { kDefault, kShort, kChar, kLong64, kLongDouble, kSize, kPtrdiff, kIntmax, kWide };

// The flags, width, precision and size prefix of one conversion.
struct Field {
  std::string flags;  // any of "-+ #0", as written
  int width = -1;     // -1: none
  int precision = -1; // -1: none
  Size size = Size::kDefault;
  bool leftAlign = false;
};

// Runs snprintf with a narrow format rebuilt from the field and one argument, and appends the
// (ASCII) result: the C library formats every number, so flags, width and precision behave
// exactly as in C.
template <typename Value>
void AppendNumber(std::wstring* out, const Field& field, const char* length, char conversion, Value value) {
  std::string format = "%" + field.flags;
  if (field.width >= 0) format += std::to_string(field.width);
  if (field.precision >= 0) format += "." + std::to_string(field.precision);
  format += length;
  format += conversion;
  char small[128];
  const int needed = std::snprintf(small, sizeof(small), format.c_str(), value);
  if (needed <= 0) return;
  std::string text;
  if (static_cast<size_t>(needed) < sizeof(small)) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    text.resize(static_cast<size_t>(needed) + 1);
    std::snprintf(&text[0], text.size(), format.c_str(), value);
    text.resize(static_cast<size_t>(needed));
  }
  for (char c : text) out->push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
}

// Appends a text padded with blanks to the width; the text has already been cut to the precision.
void AppendPadded(std::wstring* out, const Field& field, const std::wstring& text) {
  const size_t width = field.width > 0 ? static_cast<size_t>(field.width) : 0;
  const size_t pad = width > text.size() ? width - text.size() : 0;
  if (!field.leftAlign) out->append(pad, L' ');
  out->append(text);
  if (field.leftAlign) out->append(pad, L' ');
}

// For strings and characters "h" means narrow and "l" or "w" wide; without either, %s and %c
// are wide in a wide format and %S and %C narrow.
bool IsWideText(Size size, bool upperCase) {
  if (size == Size::kWide) return true;
  if (size == Size::kShort || size == Size::kChar) return false;
  return !upperCase;
}

void AppendString(std::wstring* out, const Field& field, bool wide, va_list& args) {
  std::wstring text;
  const size_t limit = field.precision >= 0 ? static_cast<size_t>(field.precision) : SIZE_MAX;
  if (wide) {
    const wchar_t* value = va_arg(args, const wchar_t*);
    if (!value) value = L"(null)";
    for (size_t i = 0; i < limit && value[i]; ++i) text.push_back(value[i]);
  } else {
    const char* value = va_arg(args, const char*);
    if (!value) value = "(null)";
    for (size_t i = 0; i < limit && value[i]; ++i) {
      text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(value[i])));
    }
  }
  AppendPadded(out, field, text);
}

void AppendChar(std::wstring* out, const Field& field, bool wide, va_list& args) {
  // Both kinds of character arrive promoted to int.
  const int value = va_arg(args, int);
  const wchar_t c = wide ? static_cast<wchar_t>(value)
                         : static_cast<wchar_t>(static_cast<unsigned char>(value));
  AppendPadded(out, field, std::wstring(1, c));
}

void AppendSigned(std::wstring* out, const Field& field, char conversion, va_list& args) {
  long long value = 0;
  switch (field.size) {
    case Size::kLong64: value = va_arg(args, long long); break;
    case Size::kSize:
    case Size::kPtrdiff: value = static_cast<long long>(va_arg(args, ptrdiff_t)); break;
    case Size::kIntmax: value = static_cast<long long>(va_arg(args, intmax_t)); break;
    case Size::kShort: value = static_cast<short>(va_arg(args, int)); break;
    case Size::kChar: value = static_cast<signed char>(va_arg(args, int)); break;
    default: value = va_arg(args, int); break;
  }
  AppendNumber(out, field, "ll", conversion, value);
}

void AppendUnsigned(std::wstring* out, const Field& field, char conversion, va_list& args) {
  unsigned long long value = 0;
  switch (field.size) {
    case Size::kLong64: value = va_arg(args, unsigned long long); break;
    case Size::kSize:
    case Size::kPtrdiff: value = static_cast<unsigned long long>(va_arg(args, size_t)); break;
    case Size::kIntmax: value = static_cast<unsigned long long>(va_arg(args, uintmax_t)); break;
    case Size::kShort: value = static_cast<unsigned short>(va_arg(args, unsigned int)); break;
    case Size::kChar: value = static_cast<unsigned char>(va_arg(args, unsigned int)); break;
    default: value = va_arg(args, unsigned int); break;
  }
  AppendNumber(out, field, "ll", conversion, value);
}

void AppendFloat(std::wstring* out, const Field& field, char conversion, va_list& args) {
  if (field.size == Size::kLongDouble) {
    AppendNumber(out, field, "L", conversion, va_arg(args, long double));
  } else {
    AppendNumber(out, field, "", conversion, va_arg(args, double));
  }
}

// A pointer prints as upper-case hexadecimal with all the digits of the pointer's size.
void AppendPointer(std::wstring* out, const Field& field, va_list& args) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(args, void*));
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text(sizeof(void*) * 2, L'0');
  uintptr_t rest = value;
  for (size_t i = text.size(); i-- > 0; rest >>= 4) text[i] = kDigits[rest & 0xF];
  AppendPadded(out, field, text);
}

// Reads the size prefix at `p` and moves past it.
Size ReadSize(const wchar_t*& p) {
  switch (*p) {
    case L'h':
      if (p[1] == L'h') {
        p += 2;
        return Size::kChar;
      }
      ++p;
      return Size::kShort;
    case L'l':
      if (p[1] == L'l') {
        p += 2;
        return Size::kLong64;
      }
      ++p;
      return Size::kWide;  // "l" is 32-bit for integers and wide for strings
    case L'w':
      ++p;
      return Size::kWide;
    case L'L':
      ++p;
      return Size::kLongDouble;
    case L'I':
      if (p[1] == L'6' && p[2] == L'4') {
        p += 3;
        return Size::kLong64;
      }
      if (p[1] == L'3' && p[2] == L'2') {
        p += 3;
        return Size::kDefault;
      }
      ++p;
      return Size::kSize;
    case L'z':
      ++p;
      return Size::kSize;
    case L't':
      ++p;
      return Size::kPtrdiff;
    case L'j':
      ++p;
      return Size::kIntmax;
    default:
      return Size::kDefault;
  }
}

// Reads a run of decimal digits, saturating rather than overflowing.
int ReadNumber(const wchar_t*& p) {
  int value = 0;
  while (*p >= L'0' && *p <= L'9') {
    if (value < 100000000) value = value * 10 + (*p - L'0');
    ++p;
  }
  return value;
}

}  // namespace

std::wstring FormatWideV(const wchar_t* format, va_list args) {
  std::wstring out;
  if (!format) return out;
  va_list ap;
  va_copy(ap, args);
  const wchar_t* p = format;
  while (*p) {
    if (*p != L'%') {
      out.push_back(*p++);
      continue;
    }
    const wchar_t* start = p++;
    if (*p == L'%') {
      out.push_back(L'%');
      ++p;
      continue;
    }
    Field field;
    while (*p == L'-' || *p == L'+' || *p == L' ' || *p == L'#' || *p == L'0') {
      if (*p == L'-') field.leftAlign = true;
      field.flags.push_back(static_cast<char>(*p++));
    }
    if (*p == L'*') {
      ++p;
      field.width = va_arg(ap, int);
      if (field.width < 0) {
        // A negative width from the arguments means left alignment, as in C.
        field.leftAlign = true;
        field.flags.push_back('-');
        field.width = field.width == INT32_MIN ? 0 : -field.width;
      }
    } else if (*p >= L'0' && *p <= L'9') {
      field.width = ReadNumber(p);
    }
    if (*p == L'.') {
      ++p;
      if (*p == L'*') {
        ++p;
        field.precision = va_arg(ap, int);
        if (field.precision < 0) field.precision = -1;  // as if none was given
      } else {
        field.precision = ReadNumber(p);
      }
    }
    field.size = ReadSize(p);
    const wchar_t conversion = *p;
    if (conversion) ++p;
    switch (conversion) {
      case L'd':
      case L'i':
        AppendSigned(&out, field, static_cast<char>(conversion), ap);
        break;
      case L'u':
      case L'o':
      case L'x':
      case L'X':
        AppendUnsigned(&out, field, static_cast<char>(conversion), ap);
        break;
      case L'f':
      case L'F':
      case L'e':
      case L'E':
      case L'g':
      case L'G':
      case L'a':
      case L'A':
        AppendFloat(&out, field, static_cast<char>(conversion), ap);
        break;
      case L's':
      case L'S':
        AppendString(&out, field, IsWideText(field.size, conversion == L'S'), ap);
        break;
      case L'c':
      case L'C':
        AppendChar(&out, field, IsWideText(field.size, conversion == L'C'), ap);
        break;
      case L'p':
        AppendPointer(&out, field, ap);
        break;
      default:
        // Unknown, unsupported (%n) or cut off at the end of the format: copied as written.
        out.append(start, p);
        break;
    }
  }
  va_end(ap);
  return out;
}

std::wstring FormatWide(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring out = FormatWideV(format, args);
  va_end(args);
  return out;
}
