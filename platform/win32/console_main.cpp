// vornackle.com: the console companion of vornackle.exe on Windows.
//
// vornackle.exe is a Windows program: started from cmd or PowerShell it has
// no console of its own, and cmd neither waits for it nor sets %ERRORLEVEL%.
// This console program sits beside it; cmd and PowerShell run a .com before
// an .exe of the same name, so `vornackle --verify run.vnr` typed in either
// reaches it. It verifies a run itself, unseen (platform/win32/unseen.cpp:
// no window, so no display is needed), sends one to a hall of fame
// (--submit), and answers --help and --version; its lines, its complaints
// and its exit code are the console's. Any other command
// line starts vornackle.exe from the same folder with the same arguments and
// this console's handles (so the game's own words appear here too), waits for
// it and returns its exit code; Ctrl+C or closing the console asks the
// game's window to close, as Alt+F4 would.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

// The program's entry on the core (platform/core/main.cpp, compiled for this
// program under this name).
int CoreMain(int argc, char** argv);

namespace {

// The exit code when this machine cannot do what was asked.
constexpr int kCannot = 4;

// What the core answers here, unseen.
bool AnsweredHere(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--verify") == 0 || std::strncmp(a, "--verify=", 9) == 0 ||
            std::strcmp(a, "--submit") == 0 || std::strncmp(a, "--submit=", 9) == 0 ||
            std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0 ||
            std::strcmp(a, "--version") == 0) {
            return true;
        }
    }
    return false;
}

// The command line after the program's own name, as the system gave it.
const wchar_t* Arguments() {
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    for (; *line != L'\0'; ++line) {
        if (*line == L'"') quoted = !quoted;
        if (!quoted && (*line == L' ' || *line == L'\t')) break;
    }
    return line;
}

DWORD gameProcess = 0;

BOOL CALLBACK CloseGameWindow(HWND window, LPARAM) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == gameProcess) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Ctrl+C, Ctrl+Break, the console closed: the game is asked to close, and
// this program waits for its answer.
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (gameProcess != 0) EnumWindows(CloseGameWindow, 0);
    return TRUE;
}

int StartGame() {
    wchar_t path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    if (length == 0 || length >= MAX_PATH * 4) {
        std::fprintf(stderr, "vornackle: cannot find this program's folder\n");
        return kCannot;
    }
    std::wstring game(path, length);
    game = game.substr(0, game.find_last_of(L"\\/") + 1) + L"vornackle.exe";
    std::wstring commandLine = L"\"" + game + L"\"" + Arguments();

    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(game.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &start, &process)) {
        std::fprintf(stderr,
                     "vornackle: cannot start vornackle.exe beside this program (error %lu)\n",
                     GetLastError());
        return kCannot;
    }
    gameProcess = process.dwProcessId;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = kCannot;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (AnsweredHere(argc, argv)) return CoreMain(argc, argv);
    return StartGame();
}
