/*
 * kivagent: stands in for the management agent that deploys packages.
 *
 *   kivagent.exe <program> [args...]
 *
 * Starts the program with the rest of its own command line, kept exactly as it was
 * given (quotes and backslashes included), waits for it and exits with its exit code.
 * The child inherits the standard handles, the current folder and the environment.
 *
 * Exit codes other than the child's: 2 when no program is named, 3 when it cannot be
 * started or waited for (the reason goes to standard error).
 */
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

/* Skips the program name at the start of a command line the way the C runtime splits
   it (a quoted name ends at the next quote, an unquoted one at the first blank), then
   the blanks after it. */
static const wchar_t *skip_program_name(const wchar_t *p)
{
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"')
            ++p;
        if (*p == L'"')
            ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

static void report(const char *what)
{
    fprintf(stderr, "kivagent: %s failed with error %lu\n", what, (unsigned long)GetLastError());
    fflush(stderr);
}

int wmain(int argc, wchar_t **argv)
{
    (void)argv;
    if (argc < 2) {
        fprintf(stderr, "usage: kivagent.exe <program> [args...]\n");
        return 2;
    }
    const wchar_t *tail = skip_program_name(GetCommandLineW());
    size_t len = wcslen(tail);
    /* CreateProcessW may write into the command line, so hand it a private copy. */
    wchar_t *cmdline = (wchar_t *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (len + 1) * sizeof(wchar_t));
    if (!cmdline) {
        report("HeapAlloc");
        return 3;
    }
    memcpy(cmdline, tail, len * sizeof(wchar_t));

    STARTUPINFOW si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&si, sizeof(si));
    ZeroMemory(&pi, sizeof(pi));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);

    if (!CreateProcessW(NULL, cmdline, NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        report("CreateProcessW");
        HeapFree(GetProcessHeap(), 0, cmdline);
        return 3;
    }
    CloseHandle(pi.hThread);
    DWORD code = 3;
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code)) {
        report("waiting for the program");
        code = 3;
    }
    CloseHandle(pi.hProcess);
    HeapFree(GetProcessHeap(), 0, cmdline);
    return (int)code;
}
