// What the desktop program remembers between runs, and the options it
// takes: in a window or on the whole screen, the window's size and place,
// the scaling, and whether the jewels carry their marks.
//
// The settings file is small key=value text in the user's configuration
// folder ($XDG_CONFIG_HOME or ~/.config on Linux, %APPDATA% on Windows),
// under vornackle/settings.txt:
//     version=1
//     window=1
//     window_x=100 ...
// A newer version's choices are kept: a line this version cannot take (a
// key it does not know, or a value it does not know such as scale=smooth)
// is ignored and written back as it was, unless the player changed that
// setting here; and the file is written only when something changed. A file
// that is missing or is no settings file (no version line first) is ignored;
// one of a newer version number is ignored and left as it is; one that
// cannot be written is skipped. Each says so in at most one line on stderr
// and the game goes on. The command line wins over the file. A new setting
// is one field of Settings and one line of the key table in settings.cpp.
//
// The file is written whole or not at all: a new file of a name no other
// writer uses, flushed to the disk, then renamed over the old one.
#pragma once

#include <string>
#include <vector>

#include "platform/desktop/scaler.h"

namespace desktop {

struct Settings {
    bool window = false;  // in a window rather than on the whole screen
    Scaling scaling = Scaling::Sharp;
    bool marks = false;  // the jewels' marks (--marks, --no-marks)
    // The window's inside, in screen pixels, when it has been placed (w > 0);
    // for a maximised window, where it goes back to.
    Rect place;
    bool maximised = false;

    // Not settings: the lines this version did not take, written back as
    // read. `standIn` is, for a known key with a value this version does not
    // know, the value it used instead ("" for a key it does not know): while
    // the setting still has that value, the line is written in its place.
    struct Kept {
        std::string line, standIn;
    };
    std::vector<Kept> kept;
    // A file of a newer version, which is never written over.
    bool newerFile = false;
    // The settings as last read from or written to the file (formatted), so
    // that the file is written only when they changed.
    std::string onFile;
};

// The settings in force: the file's, then the command line's.
extern Settings settings;
// The program took its options (so read the file): it writes them back when
// the player switches and when it ends. Tests that never take options leave
// the file alone.
extern bool remember;
// A run replayed unseen (--verify): no window on the screen, no sound, and
// the settings left as they are.
extern bool showNothing;
// The backend's: notes where its window is now in settings.place, while it
// is a window (null before there is one).
extern void (*notePlace)();
// Writes `settings` (the window's place noted first) to the file when
// `remember` says so and they changed.
void KeepSettings();
// Called, when set (by tests), once the new file is written and flushed and
// before it is renamed over the old: `fresh` is its name.
extern void (*beforeReplace)(const std::string& fresh);

enum class SettingsRead { Read, Missing, Damaged, Newer };
// Reads `text` into `out`, which changes only when the text is read whole
// (and, for a newer version, only to say so).
SettingsRead ParseSettings(const std::string& text, Settings* out);
std::string FormatSettings(const Settings& in);

// vornackle/settings.txt in the user's configuration folder; "" when there is
// none. In UTF-8 on every system (a user name outside Windows' ANSI code
// page too); the functions below take it so.
std::string SettingsPath();
// Reads the file at `path` into `settings`, saying on stderr in one line why
// a file that is there was not read.
SettingsRead LoadSettings(const std::string& path, Settings* settings);
// Writes them whole or not at all (a new file renamed over the old); false,
// with one line on stderr, when it cannot.
bool SaveSettings(const std::string& path, const Settings& settings);

// A window of the largest whole multiple of the picture's size that fits the
// usable part of a screen (at least 1x), centred on it.
Rect WindowedPlace(const Rect& usable);
// `place` if enough of it is on one of the screens to take hold of it;
// otherwise the window comes back, at its size if that fits, centred on the
// first screen.
Rect PlaceOnScreens(const Rect& place, const std::vector<Rect>& screens);
// The window's inside once it moved to a monitor of another scale, from the
// inside `suggested` by Windows (the old one scaled by the change): the
// whole multiple of the picture nearest to it (at least 1x, and no larger
// than fits `usable`), centred where it is.
Rect RescaledPlace(const Rect& suggested, const Rect& usable);

}  // namespace desktop
