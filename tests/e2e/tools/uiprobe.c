/*
 * uiprobe: inspects and drives top-level windows of other processes in the same
 * window station, so that the end-to-end tests can read and dismiss real dialogs.
 *
 *   uiprobe wait  "<title>" <timeout ms>      wait for the window, then list its controls
 *   uiprobe click "<title>" <control id> [timeout ms]
 *   uiprobe close "<title>" [timeout ms]
 *   uiprobe rect  "<title>" [timeout ms]       outer rectangle, client size, client origin
 *   uiprobe list
 *
 * A window is found when it is a visible top-level window whose title equals the
 * given text exactly. Output is UTF-8, one record per line, fields separated by tabs.
 * Inside a text, backslash, tab, carriage return and line feed are written as
 * \\, \t, \r and \n so that every record stays on one line.
 *
 * Exit codes: 0 success, 1 window or control not found (or timeout), 2 usage error.
 */
#include <windows.h>
#include <stdlib.h>
#include <wchar.h>

#define DEFAULT_TIMEOUT_MS 5000
#define POLL_MS 50
#define SEND_TIMEOUT_MS 5000

static HANDLE g_out;

static void write_utf8(const wchar_t *text, int len)
{
    if (len < 0)
        len = (int)wcslen(text);
    if (len == 0)
        return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, len, NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return;
    char *buf = (char *)malloc((size_t)bytes);
    if (!buf)
        return;
    WideCharToMultiByte(CP_UTF8, 0, text, len, buf, bytes, NULL, NULL);
    DWORD done = 0;
    DWORD off = 0;
    while (off < (DWORD)bytes && WriteFile(g_out, buf + off, (DWORD)bytes - off, &done, NULL) && done > 0)
        off += done;
    free(buf);
}

static void write_str(const wchar_t *text) { write_utf8(text, -1); }

/* Writes a text with the record separators escaped. */
static void write_escaped(const wchar_t *text)
{
    const wchar_t *run = text;
    const wchar_t *p;
    for (p = text; *p; ++p) {
        const wchar_t *esc = NULL;
        switch (*p) {
        case L'\\': esc = L"\\\\"; break;
        case L'\t': esc = L"\\t"; break;
        case L'\r': esc = L"\\r"; break;
        case L'\n': esc = L"\\n"; break;
        default: break;
        }
        if (esc) {
            write_utf8(run, (int)(p - run));
            write_str(esc);
            run = p + 1;
        }
    }
    write_utf8(run, (int)(p - run));
}

static void write_int(long long value)
{
    wchar_t buf[32];
    _snwprintf(buf, 32, L"%lld", value);
    buf[31] = 0;
    write_str(buf);
}

static void write_err(const wchar_t *text)
{
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE saved = g_out;
    g_out = err;
    write_str(text);
    g_out = saved;
}

/* The text of a window, read with WM_GETTEXT so that controls of other processes answer
   with their current text; falls back to the text the system keeps for the window. */
static wchar_t *window_text(HWND hwnd)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &len))
        len = (DWORD_PTR)GetWindowTextLengthW(hwnd);
    size_t cap = (size_t)len + 1;
    if (cap < 256)
        cap = 256;
    wchar_t *buf = (wchar_t *)calloc(cap, sizeof(wchar_t));
    if (!buf)
        return NULL;
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, (WPARAM)cap, (LPARAM)buf, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &got)) {
        /* A window whose thread pumps no messages (a program busy extracting) cannot answer;
           the system's own copy of its text needs no message. */
        buf[0] = 0;
        if (!InternalGetWindowText(hwnd, buf, (int)cap))
            GetWindowTextW(hwnd, buf, (int)cap);
    }
    buf[cap - 1] = 0;
    return buf;
}

struct find_ctx {
    const wchar_t *title;
    HWND found;
};

static BOOL CALLBACK find_proc(HWND hwnd, LPARAM lparam)
{
    struct find_ctx *ctx = (struct find_ctx *)lparam;
    if (!IsWindowVisible(hwnd))
        return TRUE;
    wchar_t *text = window_text(hwnd);
    if (text && wcscmp(text, ctx->title) == 0) {
        ctx->found = hwnd;
        free(text);
        return FALSE;
    }
    free(text);
    return TRUE;
}

static HWND find_window(const wchar_t *title)
{
    struct find_ctx ctx = {title, NULL};
    EnumWindows(find_proc, (LPARAM)&ctx);
    return ctx.found;
}

static HWND wait_window(const wchar_t *title, DWORD timeout_ms)
{
    ULONGLONG start = GetTickCount64();
    for (;;) {
        HWND hwnd = find_window(title);
        if (hwnd)
            return hwnd;
        if (GetTickCount64() - start >= timeout_ms)
            return NULL;
        Sleep(POLL_MS);
    }
}

static BOOL CALLBACK child_proc(HWND hwnd, LPARAM lparam)
{
    (void)lparam;
    wchar_t cls[256];
    if (!GetClassNameW(hwnd, cls, 256))
        cls[0] = 0;
    wchar_t *text = window_text(hwnd);
    write_int((long long)(unsigned short)GetDlgCtrlID(hwnd));
    write_str(L"\t");
    write_escaped(cls);
    write_str(L"\t");
    write_escaped(text ? text : L"");
    write_str(L"\n");
    free(text);
    return TRUE;
}

static BOOL CALLBACK list_proc(HWND hwnd, LPARAM lparam)
{
    (void)lparam;
    if (!IsWindowVisible(hwnd))
        return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[256];
    if (!GetClassNameW(hwnd, cls, 256))
        cls[0] = 0;
    wchar_t *text = window_text(hwnd);
    write_int((long long)pid);
    write_str(L"\t");
    write_escaped(cls);
    write_str(L"\t");
    write_escaped(text ? text : L"");
    write_str(L"\n");
    free(text);
    return TRUE;
}

static DWORD parse_ms(const wchar_t *text)
{
    long v = wcstol(text, NULL, 10);
    return v < 0 ? 0 : (DWORD)v;
}

static int usage(void)
{
    write_err(L"usage: uiprobe wait \"<title>\" <timeout ms>\n"
              L"       uiprobe click \"<title>\" <control id> [timeout ms]\n"
              L"       uiprobe close \"<title>\" [timeout ms]\n"
              L"       uiprobe rect \"<title>\" [timeout ms]\n"
              L"       uiprobe list\n");
    return 2;
}

static int cmd_wait(const wchar_t *title, DWORD timeout_ms)
{
    HWND hwnd = wait_window(title, timeout_ms);
    if (!hwnd) {
        write_err(L"uiprobe: window not found\n");
        return 1;
    }
    EnumChildWindows(hwnd, child_proc, 0);
    return 0;
}

static int cmd_click(const wchar_t *title, int id, DWORD timeout_ms)
{
    HWND hwnd = wait_window(title, timeout_ms);
    if (!hwnd) {
        write_err(L"uiprobe: window not found\n");
        return 1;
    }
    HWND child = GetDlgItem(hwnd, id);
    wchar_t cls[64] = L"";
    if (child)
        GetClassNameW(child, cls, 64);
    DWORD_PTR result = 0;
    if (child && _wcsicmp(cls, L"Button") == 0) {
        /* The button answers BM_CLICK by notifying its parent, which may end the
           dialog before the call returns; a timed-out send still delivered it. */
        SendMessageTimeoutW(child, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS, &result);
        return 0;
    }
    if (!child) {
        write_err(L"uiprobe: no control with that id; sending the command to the window\n");
    }
    if (!PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM((WORD)id, BN_CLICKED), (LPARAM)child)) {
        write_err(L"uiprobe: cannot post the command\n");
        return 1;
    }
    return 0;
}

static int cmd_close(const wchar_t *title, DWORD timeout_ms)
{
    HWND hwnd = wait_window(title, timeout_ms);
    if (!hwnd) {
        write_err(L"uiprobe: window not found\n");
        return 1;
    }
    return PostMessageW(hwnd, WM_CLOSE, 0, 0) ? 0 : 1;
}

static int cmd_rect(const wchar_t *title, DWORD timeout_ms)
{
    HWND hwnd = wait_window(title, timeout_ms);
    if (!hwnd) {
        write_err(L"uiprobe: window not found\n");
        return 1;
    }
    RECT wr, cr;
    if (!GetWindowRect(hwnd, &wr) || !GetClientRect(hwnd, &cr))
        return 1;
    write_str(L"window\t");
    write_int(wr.left);
    write_str(L"\t");
    write_int(wr.top);
    write_str(L"\t");
    write_int(wr.right);
    write_str(L"\t");
    write_int(wr.bottom);
    write_str(L"\nclient\t");
    write_int(cr.right - cr.left);
    write_str(L"\t");
    write_int(cr.bottom - cr.top);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    write_str(L"\norigin\t");
    write_int(origin.x);
    write_str(L"\t");
    write_int(origin.y);
    write_str(L"\n");
    return 0;
}

int wmain(int argc, wchar_t **argv)
{
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (argc < 2)
        return usage();
    const wchar_t *cmd = argv[1];
    if (wcscmp(cmd, L"list") == 0) {
        EnumWindows(list_proc, 0);
        return 0;
    }
    if (argc < 3)
        return usage();
    const wchar_t *title = argv[2];
    if (wcscmp(cmd, L"wait") == 0) {
        if (argc < 4)
            return usage();
        return cmd_wait(title, parse_ms(argv[3]));
    }
    if (wcscmp(cmd, L"click") == 0) {
        if (argc < 4)
            return usage();
        return cmd_click(title, (int)wcstol(argv[3], NULL, 0),
                         argc > 4 ? parse_ms(argv[4]) : DEFAULT_TIMEOUT_MS);
    }
    if (wcscmp(cmd, L"close") == 0)
        return cmd_close(title, argc > 3 ? parse_ms(argv[3]) : DEFAULT_TIMEOUT_MS);
    if (wcscmp(cmd, L"rect") == 0)
        return cmd_rect(title, argc > 3 ? parse_ms(argv[3]) : DEFAULT_TIMEOUT_MS);
    return usage();
}
