// The entry point away from Windows: reads the command line as command-line programs do
// (--help, --version, recorded runs, the backend's options), then hands over to the
// game's WinMain as the system would.
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/backend.h"
#include "platform/core/run.h"
#include "platform/winapi.h"

#ifndef VORNACKLE_VERSION
#define VORNACKLE_VERSION "unknown"
#endif

namespace {

void Usage(std::FILE* out) {
    std::fputs(
        "Usage: vornackle [OPTION]...\n"
        "Catch the jewels that rain on Jewel Town: move the basket left and right.\n"
        "\n"
        "Keys:\n"
        "  Left, Right             move the basket\n"
        "  Enter, Space, Backspace go from one screen to the next, as each screen says\n"
        "  Esc                     quit\n"
        "  Alt+Enter, F11          switch between full screen and a window\n"
        "A game controller plays too: d-pad or left stick move, A goes on (as Enter or\n"
        "Space), B is Backspace, Back is Esc.\n"
        "\n"
        "Options:\n",
        out);
    std::fputs(backend::OptionsHelp(), out);
    std::fputs(
        "  --record FILE     record the session to FILE as it is played\n"
        "  --play FILE       show the run recorded in FILE at its pace (Esc stops)\n"
        "  --verify FILE     replay FILE unseen, as fast as it goes: each level attempt,\n"
        "                    the totals and the picture rate; exit 0 when it matches the\n"
        "                    recording, 1 when not, 2 when FILE is not a whole run\n"
        "  --help            show this and exit\n"
        "  --version         show the version and exit\n",
        out);
}

int RunProgram(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("vornackle %s\n", VORNACKLE_VERSION);
            return 0;
        }
    }
    // The recorded-run options; the rest are the backend's.
    enum { None, Record, Play, Verify } run = None;
    const char* runPath = nullptr;
    std::vector<char*> rest;
    for (int i = 1; i < argc; ++i) {
        static const char* const kRunOptions[] = {"--record", "--play", "--verify"};
        int which = -1;
        const char* value = nullptr;
        for (int k = 0; k < 3; ++k) {
            const size_t length = std::strlen(kRunOptions[k]);
            if (std::strcmp(argv[i], kRunOptions[k]) == 0) {
                which = k;
                value = i + 1 < argc ? argv[++i] : nullptr;
            } else if (std::strncmp(argv[i], kRunOptions[k], length) == 0 &&
                       argv[i][length] == '=') {
                which = k;
                value = argv[i] + length + 1;
            }
        }
        if (which < 0) {
            rest.push_back(argv[i]);
            continue;
        }
        if (value == nullptr || *value == '\0') {
            std::fprintf(stderr, "vornackle: %s needs a file name\n", kRunOptions[which]);
            return 2;
        }
        if (run != None) {
            std::fprintf(stderr, "vornackle: only one of --record, --play, --verify at a time\n");
            return 2;
        }
        run = which == 0 ? Record : which == 1 ? Play : Verify;
        runPath = value;
    }
    const char* error = nullptr;
    if (!backend::TakeOptions(static_cast<int>(rest.size()), rest.data(), &error)) {
        std::fprintf(stderr, "vornackle: unknown option '%s' (try 'vornackle --help')\n",
                     error != nullptr ? error : "");
        return 2;
    }
    if (run == Record) runs::Record(runPath, VORNACKLE_VERSION);
    if ((run == Play || run == Verify) && !runs::Replay(runPath, run == Verify)) return 2;
    // A verification shows nothing and plays nothing.
    if (run == Verify) backend::ShowNothing();
    static char commandLine[] = "";
    // The instance handle only identifies the program; any non-null value does.
    static HINSTANCE__ instance;
    return runs::Finish(WinMain(&instance, nullptr, commandLine, SW_SHOWNORMAL));
}

}  // namespace

int main(int argc, char** argv) {
    return RunProgram(argc, argv);
}

#ifdef __EMSCRIPTEN__
// The page starts the program through this with one option and its file (a
// run to record, or one to play), as a command line would.
extern "C" __attribute__((used)) int vn_main_with(const char* option, const char* path) {
    char name[] = "vornackle";
    char* argv[] = {name, const_cast<char*>(option), const_cast<char*>(path), nullptr};
    return RunProgram(3, argv);
}
#endif
