// A printf-style formatter for wide text that follows the Windows wide-format conventions on
// every platform, so that messages expand the same in the native tests (32-bit wchar_t, where
// the C library's vswprintf reads "%s" as a narrow string) and in the Windows build.
//
// Conversions: d i u o x X c s p % and the floating-point ones (f F e E g G a A).
// Strings and characters follow the wide-function rules of the Windows C runtime:
//   %s %ls %ws %lc %wc %c   wide string / wide character (wchar_t promoted to int)
//   %hs %S %hc %C            narrow string / narrow character; each byte becomes the character
//                            of the same value (as the runtime's default "C" locale does)
//   a null string pointer prints "(null)".
// Integer sizes follow the Windows (LLP64) model, the same on every platform:
//   (none), h, hh, l, I32   32-bit int (h and hh then narrow the value to short / char)
//   ll, I64, L              64-bit long long
//   I, z, t, j              size_t / ptrdiff_t / intmax_t
// so "%lu" takes a uint32_t (a DWORD) everywhere, and "%I64u" or "%llu" a uint64_t.
// Flags "-+ #0", a width and a precision (digits or '*') behave as in C; for strings the
// precision is the most characters taken and the width pads with blanks.
// %n is not supported; it and any other unknown conversion are copied to the output as written,
// taking no argument.
#pragma once

#include <cstdarg>
#include <string>

// The va_list form has its own name on purpose: as an overload of the variadic form it would
// capture calls such as FormatWide(L"%d", 0) (0 converts to va_list, a pointer) and, with MinGW
// where va_list is char*, every FormatWide(L"%hs", text) whose argument is a char*.
// `args` is not consumed: the formatter works on its own copy.
std::wstring FormatWideV(const wchar_t* format, va_list args);
std::wstring FormatWide(const wchar_t* format, ...);
