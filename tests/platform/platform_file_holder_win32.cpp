// Holds one file open for writing without delete sharing, as a writer on the measurement
// system does, until its standard input is closed. Writes "y" to standard output once the file
// is open ("n" when it could not be opened).
//
//   platform_file_holder <path>

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc != 2) return 2;
    const HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(argv);
    const char state = file != INVALID_HANDLE_VALUE ? 'y' : 'n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), &state, 1, &written, nullptr);
    char ignored;
    DWORD got = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &ignored, 1, &got, nullptr) && got > 0) {
    }
    if (file == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(file);
    return 0;
}
