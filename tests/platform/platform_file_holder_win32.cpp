// Holds one file open until its standard input is closed, as a writer on the measurement
// system or a second scanner does. Writes "y" to standard output once the file is open ("n"
// when it could not be opened).
//
//   platform_file_holder <path>            writes, shares reading and writing, not deletion
//   platform_file_holder <path> full       writes, shares everything (deletion included)
//   platform_file_holder <path> exclusive  reads and writes, shares nothing, creates the file
//                                          when missing (the way a scanner locks its folder)

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cwchar>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 2 || argc > 3) return 2;
    const wchar_t* mode = argc == 3 ? argv[2] : L"";
    DWORD access = GENERIC_WRITE;
    DWORD sharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (std::wcscmp(mode, L"full") == 0) {
        sharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    } else if (std::wcscmp(mode, L"exclusive") == 0) {
        access = GENERIC_READ | GENERIC_WRITE;
        sharing = 0;
        disposition = OPEN_ALWAYS;
    } else if (mode[0] != L'\0') {
        return 2;
    }
    const HANDLE file =
        CreateFileW(argv[1], access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
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
