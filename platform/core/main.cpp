// The entry point away from Windows: reads the command line as command-line programs do
// (--help, --version, the backend's options), then hands over to the game's
// WinMain as the system would.
#include <cstring>
#include <string>

#include "platform/backend.h"
#include "platform/winapi.h"

#ifndef VORNACKLE_VERSION
#define VORNACKLE_VERSION "unknown"
#endif

namespace {

std::string Usage() {
    return std::string(
               "Usage: vornackle [OPTION]...\n"
               "Catch the jewels that rain on Jewel Town: move the basket left and right.\n"
               "\n"
               "Keys:\n"
               "  Left, Right             move the basket\n"
               "  Enter, Space, Backspace go from one screen to the next, as each screen says\n"
               "  Esc                     quit\n"
               "  Alt+Enter, F11          switch between full screen and a window\n"
               "  M                       show or hide the jewels' marks (briefing and play)\n"
               "A game controller plays too: d-pad or left stick move, A goes on (as Enter or\n"
               "Space), B is Backspace, Back is Esc.\n"
               "\n"
               "Options:\n") +
           backend::OptionsHelp() +
           "  --marks           mark each jewel with a shape of its own, for players who do\n"
           "                    not tell every colour apart (M switches them while playing)\n"
           "  --help            show this and exit\n"
           "  --version         show the version and exit\n";
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            backend::Say(Usage().c_str(), false);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            backend::Say("vornackle " VORNACKLE_VERSION "\n", false);
            return 0;
        }
    }
    // A caller may start the program with no arguments at all, not even its name.
    int options = argc > 0 ? argc - 1 : 0;
    char** option = argv + (argc > 0 ? 1 : 0);
    // The game's own option reaches it through WinMain's command line, as on
    // Windows; the rest are the backend's. (A settings file would keep one
    // more on/off value for it: marks.)
    static char commandLine[] = "--marks";
    int kept = 0;
    for (int i = 0; i < options; ++i) {
        if (std::strcmp(option[i], "--marks") != 0) option[kept++] = option[i];
    }
    if (kept == options) commandLine[0] = '\0';
    options = kept;
    const char* error = nullptr;
    if (!backend::TakeOptions(options, option, &error)) {
        const std::string message = std::string("vornackle: unknown option '") +
                                    (error != nullptr ? error : "") +
                                    "' (try 'vornackle --help')\n";
        backend::Say(message.c_str(), true);
        return 2;
    }
    // The instance handle only identifies the program; any non-null value does.
    static HINSTANCE__ instance;
    return WinMain(&instance, nullptr, commandLine, SW_SHOWNORMAL);
}
