// The desktop program's own options, the same on every desktop backend: the
// settings file first, then the command line over it.
#include <cstdlib>
#include <cstring>

#include "platform/backend.h"
#include "platform/desktop/settings.h"

namespace backend {

bool TakeOptions(int argc, char** argv, const char** error) {
    desktop::LoadSettings(desktop::SettingsPath(), &desktop::settings);
    desktop::Settings& s = desktop::settings;
    for (int i = 0; i < argc; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--window") == 0) {
            s.window = true;
        } else if (std::strcmp(option, "--fullscreen") == 0) {
            s.window = false;
        } else if (std::strcmp(option, "--scale=sharp") == 0) {
            s.scaling = desktop::Scaling::Sharp;
        } else if (std::strcmp(option, "--scale=nearest") == 0) {
            s.scaling = desktop::Scaling::Nearest;
        } else {
            *error = option;
            return false;
        }
    }
    // Kept however the program ends: its own quit, a close it did not answer,
    // a signal.
    if (!desktop::remember) std::atexit(desktop::KeepSettings);
    desktop::remember = true;
    return true;
}

bool MarksShown(int asked) {
    if (asked >= 0) desktop::settings.marks = asked == 1;
    return desktop::settings.marks;
}

void ShowNothing() {
    desktop::showNothing = true;
    desktop::remember = false;
}

const char* OptionsHelp() {
    return "  --window          start in a window (Alt+Enter or F11 switch while playing)\n"
           "  --fullscreen      start on the whole screen (the default)\n"
           "  --scale=sharp     every picture pixel the same size, edges crisp (the default)\n"
           "  --scale=nearest   each screen pixel from the nearest picture pixel: hard edges,\n"
           "                    uneven at sizes that are no whole multiple of 640 x 480;\n"
           "                    the last way of showing (window or full screen, the\n"
           "                    window's place, the scaling) is remembered in\n"
           "                    vornackle/settings.txt in the user's configuration folder\n";
}

}  // namespace backend
