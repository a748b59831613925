// The desktop program's settings file and the window's place (settings.h).
#include "platform/desktop/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <direct.h>
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace desktop {

Settings settings;
bool remember = false;
bool showNothing = false;
void (*notePlace)() = nullptr;

void KeepSettings() {
    if (!remember) return;
    if (notePlace != nullptr) notePlace();
    SaveSettings(SettingsPath(), settings);
}

namespace {

constexpr int kVersion = 1;
// Larger than any desktop, small enough that sums of two never overflow.
constexpr long kFarthest = 1L << 20;

// The keys, in the order they are written. A key is a flag (0 or 1), one of
// a few words, or a number.
struct Key {
    const char* name;
    bool Settings::*flag;
    int Rect::*number;  // of Settings::place
    Scaling Settings::*scaling;
};
const Key kKeys[] = {
    {"window", &Settings::window, nullptr, nullptr},
    {"scale", nullptr, nullptr, &Settings::scaling},
    {"marks", &Settings::marks, nullptr, nullptr},
    {"window_x", nullptr, &Rect::x, nullptr},
    {"window_y", nullptr, &Rect::y, nullptr},
    {"window_width", nullptr, &Rect::w, nullptr},
    {"window_height", nullptr, &Rect::h, nullptr},
};

bool ReadNumber(const std::string& text, long low, long high, long* out) {
    if (text.empty() || text.size() > 12) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    *out = value;
    return true;
}

bool ReadValue(const Key& key, const std::string& text, Settings* out) {
    long value = 0;
    if (key.flag != nullptr) {
        if (text != "0" && text != "1") return false;
        out->*key.flag = text == "1";
    } else if (key.scaling != nullptr) {
        if (text != "sharp" && text != "nearest") return false;
        out->*key.scaling = text == "sharp" ? Scaling::Sharp : Scaling::Nearest;
    } else {
        if (!ReadNumber(text, -kFarthest, kFarthest, &value)) return false;
        out->place.*key.number = static_cast<int>(value);
    }
    return true;
}

std::string WriteValue(const Key& key, const Settings& in) {
    if (key.flag != nullptr) return in.*key.flag ? "1" : "0";
    if (key.scaling != nullptr) return in.*key.scaling == Scaling::Sharp ? "sharp" : "nearest";
    return std::to_string(in.place.*key.number);
}

void Say(const std::string& path, const char* what) {
    std::fprintf(stderr, "vornackle: settings file %s %s\n", path.c_str(), what);
}

// Makes the folders on the way to `path`'s file (those there already stay).
void MakeFolders(const std::string& path) {
    for (size_t slash = path.find_first_of("/\\", 1); slash != std::string::npos;
         slash = path.find_first_of("/\\", slash + 1)) {
        const std::string folder = path.substr(0, slash);
#ifdef _WIN32
        _mkdir(folder.c_str());
#else
        mkdir(folder.c_str(), 0755);
#endif
    }
}

// `from` takes `to`'s name, in one step, over the file there.
bool Replace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

}  // namespace

SettingsRead ParseSettings(const std::string& text, Settings* out) {
    Settings read = *out;
    read.unknown.clear();
    read.newerFile = false;
    read.place = Rect{};
    bool versioned = false;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return SettingsRead::Damaged;
        const std::string name = line.substr(0, equals), value = line.substr(equals + 1);
        if (!versioned) {
            long version = 0;
            if (name != "version" || !ReadNumber(value, 1, INT_MAX, &version))
                return SettingsRead::Damaged;
            if (version > kVersion) {
                out->newerFile = true;
                return SettingsRead::Newer;
            }
            versioned = true;
            continue;
        }
        const Key* key = std::find_if(std::begin(kKeys), std::end(kKeys),
                                      [&](const Key& k) { return name == k.name; });
        if (key == std::end(kKeys)) {
            read.unknown.push_back(line);
        } else if (!ReadValue(*key, value, &read)) {
            return SettingsRead::Damaged;
        }
    }
    if (!versioned) return SettingsRead::Damaged;
    // A place only with a size a window can have.
    if (read.place.w < 1 || read.place.h < 1) read.place = Rect{};
    *out = read;
    return SettingsRead::Read;
}

std::string FormatSettings(const Settings& in) {
    std::string text =
        "# vornackle's settings: key=value, one a line\nversion=" + std::to_string(kVersion) + "\n";
    for (const Key& key : kKeys) {
        if (key.number != nullptr && in.place.w <= 0) continue;  // never placed
        text += std::string(key.name) + "=" + WriteValue(key, in) + "\n";
    }
    for (const std::string& line : in.unknown) text += line + "\n";
    return text;
}

std::string SettingsPath() {
#ifdef _WIN32
    const char* base = std::getenv("APPDATA");
    if (base == nullptr || base[0] == '\0') return "";
    return std::string(base) + "\\vornackle\\settings.txt";
#else
    const char* base = std::getenv("XDG_CONFIG_HOME");
    if (base != nullptr && base[0] == '/') return std::string(base) + "/vornackle/settings.txt";
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    return std::string(home) + "/.config/vornackle/settings.txt";
#endif
}

SettingsRead LoadSettings(const std::string& path, Settings* into) {
    if (path.empty()) return SettingsRead::Missing;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return SettingsRead::Missing;
    // A settings file is a few hundred bytes; anything long is not one.
    char buffer[4097];
    const size_t length = std::fread(buffer, 1, sizeof buffer, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    const SettingsRead result = length == sizeof buffer || failed
                                    ? SettingsRead::Damaged
                                    : ParseSettings(std::string(buffer, length), into);
    if (result == SettingsRead::Damaged) Say(path, "is damaged: ignored");
    if (result == SettingsRead::Newer) Say(path, "is from a newer version: ignored and kept");
    return result;
}

bool SaveSettings(const std::string& path, const Settings& in) {
    if (path.empty() || in.newerFile) return false;
    MakeFolders(path);
    const std::string fresh = path + ".new";
    const std::string text = FormatSettings(in);
    bool written = false;
    if (std::FILE* file = std::fopen(fresh.c_str(), "wb")) {
        written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        written = std::fclose(file) == 0 && written;
        written = written && Replace(fresh, path);
        if (!written) std::remove(fresh.c_str());
    }
    if (!written) Say(path, "cannot be written: the settings are not kept");
    return written;
}

Rect WindowedPlace(const Rect& usable) {
    const int factor = std::max(1, std::min(usable.w / kPictureWidth, usable.h / kPictureHeight));
    const int w = factor * kPictureWidth, h = factor * kPictureHeight;
    return Rect{usable.x + (usable.w - w) / 2, usable.y + (usable.h - h) / 2, w, h};
}

Rect PlaceOnScreens(const Rect& place, const std::vector<Rect>& screens) {
    if (screens.empty()) return place;
    // Enough to take hold of: a strip 64 pixels wide and 32 high.
    for (const Rect& screen : screens) {
        const long left = std::max<long>(place.x, screen.x);
        const long right = std::min<long>(long(place.x) + place.w, long(screen.x) + screen.w);
        const long top = std::max<long>(place.y, screen.y);
        const long bottom = std::min<long>(long(place.y) + place.h, long(screen.y) + screen.h);
        if (right - left >= 64 && bottom - top >= 32) return place;
    }
    const Rect& first = screens.front();
    if (place.w > first.w || place.h > first.h) return WindowedPlace(first);
    return Rect{first.x + (first.w - place.w) / 2, first.y + (first.h - place.h) / 2, place.w,
                place.h};
}

}  // namespace desktop
