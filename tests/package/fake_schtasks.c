/* Stands in for schtasks.exe when the autostart scripts run under Wine, whose schtasks knows
 * only XML task definitions. Appends the arguments it was given, as the program's C runtime
 * split them, one per line and a blank line after each call, to the file named by
 * FAKE_SCHTASKS_LOG; exits with FAKE_SCHTASKS_<VERB>_EXIT (e.g. FAKE_SCHTASKS_QUERY_EXIT) for
 * the verb in its first argument, 0 when unset. */
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static void put_utf8(FILE *out, const wchar_t *text) {
    char buffer[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    fputs(n > 0 ? buffer : "?", out);
}

int wmain(int argc, wchar_t **argv) {
    const wchar_t *log_path = _wgetenv(L"FAKE_SCHTASKS_LOG");
    if (log_path) {
        FILE *out = _wfopen(log_path, L"ab");
        if (!out) return 90;
        for (int i = 1; i < argc; ++i) {
            put_utf8(out, argv[i]);
            fputs("\n", out);
        }
        fputs("\n", out);
        fclose(out);
    }
    if (argc < 2 || argv[1][0] != L'/') return 0;
    wchar_t name[64] = L"FAKE_SCHTASKS_";
    wcsncat(name, argv[1] + 1, 32);
    wcscat(name, L"_EXIT");
    _wcsupr(name);
    const wchar_t *code = _wgetenv(name);
    return code ? _wtoi(code) : 0;
}
