// The desktop program's settings file and the window's place (settings.h).
#include "platform/desktop/settings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace desktop {

Settings settings;
bool remember = false;

void KeepSettings() {
    if (remember) SaveSettings(SettingsPath(), settings);
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

}  // namespace

SettingsRead ParseSettings(const std::string& text, Settings* out) {
    Settings read = *out;
    read.unknown.clear();
    read.newerFile = false;
    read.place = Rect{};
    std::istringstream lines(text);
    std::string line;
    bool versioned = false;
    while (std::getline(lines, line)) {
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
    std::ifstream file(path, std::ios::binary);
    if (!file) return SettingsRead::Missing;
    // A settings file is a few hundred bytes; anything long is not one.
    std::string text(4097, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    const SettingsRead result =
        text.size() > 4096 || file.bad() ? SettingsRead::Damaged : ParseSettings(text, into);
    if (result == SettingsRead::Damaged) Say(path, "is damaged: ignored");
    if (result == SettingsRead::Newer) Say(path, "is from a newer version: ignored and kept");
    return result;
}

bool SaveSettings(const std::string& path, const Settings& in) {
    if (path.empty() || in.newerFile) return false;
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path target(path);
    fs::create_directories(target.parent_path(), error);
    const fs::path fresh = fs::path(path + ".new");
    bool written = false;
    {
        std::ofstream file(fresh, std::ios::binary | std::ios::trunc);
        const std::string text = FormatSettings(in);
        written = file && file.write(text.data(), static_cast<std::streamsize>(text.size())) &&
                  file.flush();
    }
    if (written) {
        fs::rename(fresh, target, error);
        written = !error;
    }
    if (!written) {
        fs::remove(fresh, error);
        Say(path, "cannot be written: the settings are not kept");
    }
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
