// The entry point away from Windows: reads the command line as command-line
// programs do (--help, --version, recorded runs, the game's own --marks, the
// backend's options), then hands over to the game's WinMain as the system would.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/core/board.h"
#include "platform/core/core.h"
#include "platform/core/run.h"
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
           "  --no-marks        no marks (the default); the desktop program remembers the\n"
           "                    last of the two\n"
           "  --record FILE     record the session to FILE as it is played (written to\n"
           "                    FILE.partial, which replaces FILE when the session ends)\n"
           "  --play FILE       show the run recorded in FILE at its pace (Esc stops; a\n"
           "                    pause longer than a second is shown as one)\n"
           "  --verify FILE     replay FILE unseen, as fast as it goes: each level attempt,\n"
           "                    the totals and the picture rate\n"
           "  --counter-start N the tick counter starts at N (0 to 4294967295) rather\n"
           "                    than at the machine's uptime: a hall of fame's challenge\n"
           "  --board URL       the hall of fame at URL: before the game, ask it for a\n"
           "                    challenge (where the counter starts), so that the run,\n"
           "                    recorded with --record, can be ranked live (a run is sent\n"
           "                    only by --submit)\n"
           "  --submit FILE     send the run in FILE to the board of --board, wait for its\n"
           "                    verdict and say where the run landed\n"
           "  --initials ABC    the initials the board shows with the run (three of A-Z,\n"
           "                    0-9); asked on the terminal when not given\n"
           "  --help            show this and exit\n"
           "  --version         show the version and exit\n"
           "\n"
           "Exit codes of --play and --verify:\n"
           "  0  the whole run was replayed and matched its recording\n"
           "  1  the replay differs from the recording\n"
           "  2  FILE is refused: unreadable, damaged, cut short, too large, a run this\n"
           "     program could not have recorded; or the command line is wrong\n"
           "  3  interrupted: a signal, the window closed, Esc while watching\n"
           "  4  this machine could not carry out the replay (out of memory, no display)\n"
           "Exit codes of --submit:\n"
           "  0  the board verified the run (and ranked it when it holds a whole game)\n"
           "  1  the board refused the run, or the request (its reason is said)\n"
           "  2  FILE is no run this program reads, or the command line is wrong\n"
           "  3  the run was sent, but the board gave no verdict within a minute\n"
           "  4  no board answered at URL, or it answered nonsense\n"
           "The last line on the error stream says why whenever the code is not 0.\n";
}

// One line on the error stream (a message box where a program has none);
// the exit code of a command line the program cannot take.
int Refuse(const std::string& line) {
    backend::Say((std::string("vornackle: ") + line + "\n").c_str(), true);
    return 2;
}

// The value of option `name` when argv[*i] is it, given as "NAME VALUE" (then
// *i moves past the value) or "NAME=VALUE"; "" when the value is missing;
// nullptr when argv[*i] is another option.
const char* OptionValue(const char* name, int argc, char** argv, int* i) {
    const std::size_t length = std::strlen(name);
    if (std::strcmp(argv[*i], name) == 0) return *i + 1 < argc ? argv[++*i] : "";
    if (std::strncmp(argv[*i], name, length) == 0 && argv[*i][length] == '=') {
        return argv[*i] + length + 1;
    }
    return nullptr;
}

int RunProgram(int argc, char** argv) {
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
    // The recorded-run options and the game's own; the rest are the backend's.
    enum { None, Record, Play, Verify } run = None;
    const char* runPath = nullptr;
    int marks = -1;  // neither --marks nor --no-marks
    const char* counterStart = nullptr;
    // A hall of fame's: the board, a run to send to it, the player's initials.
    const char* boardUrl = nullptr;
    const char* submitPath = nullptr;
    const char* initialsText = nullptr;
    std::vector<char*> rest;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--marks") == 0 || std::strcmp(argv[i], "--no-marks") == 0) {
            marks = argv[i][2] == 'm' ? 1 : 0;
            continue;
        }
        if (const char* value = OptionValue("--counter-start", argc, argv, &i)) {
            counterStart = value;
            continue;
        }
        static const char* const kBoardOptions[] = {"--board", "--submit", "--initials"};
        const char** boardValues[] = {&boardUrl, &submitPath, &initialsText};
        bool boardOption = false;
        for (int k = 0; k < 3 && !boardOption; ++k) {
            if (const char* value = OptionValue(kBoardOptions[k], argc, argv, &i)) {
                *boardValues[k] = value;
                boardOption = true;
            }
        }
        if (boardOption) continue;
        static const char* const kRunOptions[] = {"--record", "--play", "--verify"};
        int which = -1;
        const char* value = nullptr;
        for (int k = 0; k < 3 && which < 0; ++k) {
            if ((value = OptionValue(kRunOptions[k], argc, argv, &i)) != nullptr) which = k;
        }
        if (which < 0) {
            rest.push_back(argv[i]);
            continue;
        }
        if (*value == '\0') {
            return Refuse(std::string(kRunOptions[which]) + " needs a file name");
        }
        if (run != None) return Refuse("only one of --record, --play, --verify at a time");
        run = which == 0 ? Record : which == 1 ? Play : Verify;
        runPath = value;
    }
    DWORD firstTick = 0;
    if (counterStart != nullptr) {
        char* end = nullptr;
        const unsigned long long n = std::strtoull(counterStart, &end, 10);
        if (*counterStart < '0' || *counterStart > '9' || *end != '\0' || n > 0xFFFFFFFFull) {
            return Refuse("--counter-start needs a number from 0 to 4294967295");
        }
        // A replay's counter is the recording's.
        if (run == Play || run == Verify) {
            return Refuse("--counter-start is for a game played, not a run replayed");
        }
        firstTick = static_cast<DWORD>(n);
    }
    std::string initials;
    if (boardUrl != nullptr && !board::ValidUrl(boardUrl)) {
        return Refuse("--board needs the board's http:// or https:// URL");
    }
    if (submitPath != nullptr) {
        if (*submitPath == '\0') return Refuse("--submit needs a file name");
        if (boardUrl == nullptr) return Refuse("--submit needs --board URL: where to send the run");
        if (run != None || counterStart != nullptr) {
            return Refuse(
                "--submit sends a run and plays none: not with --record, --play, "
                "--verify or --counter-start");
        }
    } else if (initialsText != nullptr) {
        return Refuse("--initials go with --submit");
    }
    if (initialsText != nullptr && !board::TakeInitials(initialsText, &initials)) {
        return Refuse("--initials needs three of A-Z and 0-9");
    }
    if (boardUrl != nullptr && submitPath == nullptr) {
        if (run == Play || run == Verify) {
            return Refuse("--board is for a game played, not a run replayed");
        }
        if (counterStart != nullptr) {
            return Refuse("--board and --counter-start both choose where the counter starts");
        }
    }
    const char* error = nullptr;
    if (!backend::TakeOptions(static_cast<int>(rest.size()), rest.data(), &error)) {
        return Refuse(std::string("unknown option '") + (error != nullptr ? error : "") +
                      "' (try 'vornackle --help')");
    }
    if (boardUrl != nullptr && backend::httpRequest == nullptr) {
        return Refuse("this program speaks to no board");
    }
    if (submitPath != nullptr) {
        // Sending a run shows nothing and keeps no settings.
        backend::ShowNothing();
        if (initials.empty() && !board::AskInitials(&initials)) {
            return Refuse("--submit needs --initials ABC: three of A-Z and 0-9");
        }
        return board::Submit(boardUrl, submitPath, initials);
    }
    // Asked as late as can be, so that the game's first reading of the
    // counter comes soon after the challenge.
    if (boardUrl != nullptr) {
        DWORD challenge = 0;
        if (board::AskChallenge(boardUrl, &challenge)) standin::StartCounterAt(challenge);
        if (run != Record) {
            board::Tell("this game is not recorded: with --record FILE its run could be sent");
        }
    }
    // The game's own option reaches it through WinMain's command line, as on
    // Windows. A replayed run starts the game with the command line it was
    // recorded with, whatever this one says.
    static char commandLine[runs::kCommandLineSize] = "";
    if (backend::MarksShown(marks)) std::strcpy(commandLine, "--marks");
    if (counterStart != nullptr) standin::StartCounterAt(firstTick);
    if (run == Record) runs::Record(runPath, VORNACKLE_VERSION, commandLine);
    // A verification shows nothing, plays nothing and keeps no settings, a
    // file it refuses included.
    if (run == Verify) backend::ShowNothing();
    if (run == Play || run == Verify) {
        if (!runs::Replay(runPath, run == Verify, commandLine)) return runs::RefusalCode();
        // Before the backend starts: a signal stops the replay and says so.
        runs::CatchInterrupts();
    }
    // The instance handle only identifies the program; any non-null value does.
    static HINSTANCE__ instance;
    const int code = runs::Finish(WinMain(&instance, nullptr, commandLine, SW_SHOWNORMAL));
    // Nothing is sent unasked: the player is told how to send it.
    if (boardUrl != nullptr && run == Record) {
        board::Tell(std::string("to send this run to the board: vornackle --submit \"") + runPath +
                    "\" --board " + boardUrl);
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    return RunProgram(argc, argv);
}
