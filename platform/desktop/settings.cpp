// The desktop program's settings file and the window's place (settings.h).
#include "platform/desktop/settings.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace desktop {

Settings settings;
bool remember = false;
bool showNothing = false;
void (*notePlace)() = nullptr;
void (*beforeReplace)(const std::string& fresh) = nullptr;

void KeepSettings() {
    if (!remember) return;
    if (notePlace != nullptr) notePlace();
    const std::string text = FormatSettings(settings);
    if (text == settings.onFile) return;
    if (SaveSettings(SettingsPath(), settings)) settings.onFile = text;
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
    {"window_maximised", &Settings::maximised, nullptr, nullptr},
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

// The key's value as written; "" for the window's place before it has one.
std::string WriteValue(const Key& key, const Settings& in) {
    if (key.flag != nullptr) return in.*key.flag ? "1" : "0";
    if (key.scaling != nullptr) return in.*key.scaling == Scaling::Sharp ? "sharp" : "nearest";
    if (in.place.w <= 0) return "";
    return std::to_string(in.place.*key.number);
}

const Key* FindKey(const std::string& name) {
    const Key* key = std::find_if(std::begin(kKeys), std::end(kKeys),
                                  [&](const Key& k) { return name == k.name; });
    return key == std::end(kKeys) ? nullptr : key;
}

void Say(const std::string& path, const char* what) {
    std::fprintf(stderr, "vornackle: settings file %s %s\n", path.c_str(), what);
}

#ifdef _WIN32
// Windows' own calls take paths in UTF-16: the ANSI ones lose every letter
// outside the code page ("Łukasz" under 1252).
std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], n);
    return wide;
}

std::string Utf8(const wchar_t* wide) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &text[0], n, nullptr, nullptr);
    text.pop_back();  // the terminating zero
    return text;
}
#endif

std::FILE* OpenToRead(const std::string& path) {
#ifdef _WIN32
    return _wfopen(Wide(path).c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

void Remove(const std::string& path) {
#ifdef _WIN32
    DeleteFileW(Wide(path).c_str());
#else
    unlink(path.c_str());
#endif
}

// Makes the folders on the way to `path`'s file (those there already stay).
void MakeFolders(const std::string& path) {
    for (size_t slash = path.find_first_of("/\\", 1); slash != std::string::npos;
         slash = path.find_first_of("/\\", slash + 1)) {
        const std::string folder = path.substr(0, slash);
#ifdef _WIN32
        CreateDirectoryW(Wide(folder).c_str(), nullptr);
#else
        mkdir(folder.c_str(), 0755);
#endif
    }
}

// Writes `text` to a new file named `fresh` (failing if one is there) and
// flushes it to the disk, so that a power cut after the rename cannot leave
// an empty or partial file.
bool WriteNew(const std::string& fresh, const std::string& text) {
#ifdef _WIN32
    HANDLE file = CreateFileW(Wide(fresh).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) &&
              written == text.size();
    ok = FlushFileBuffers(file) && ok;
    ok = CloseHandle(file) && ok;
#else
    const int file = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (file < 0) return false;
    bool ok = write(file, text.data(), text.size()) == ssize_t(text.size());
    ok = fsync(file) == 0 && ok;
    ok = close(file) == 0 && ok;
#endif
    if (!ok) Remove(fresh);
    return ok;
}

// `from` takes `to`'s name, in one step, over the file there, and the
// change of names is on the disk before this returns.
bool Replace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    const size_t slash = to.rfind('/');
    const int folder = open(slash == std::string::npos ? "." : to.substr(0, slash + 1).c_str(),
                            O_RDONLY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
#endif
}

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

}  // namespace

SettingsRead ParseSettings(const std::string& text, Settings* out) {
    Settings read = *out;
    read.kept.clear();
    read.newerFile = false;
    read.place = Rect{};
    read.maximised = false;
    bool versioned = false;
    for (size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        if (!versioned) {
            long version = 0;
            if (equals == std::string::npos || name != "version" ||
                !ReadNumber(line.substr(equals + 1), 1, INT_MAX, &version))
                return SettingsRead::Damaged;
            if (version > kVersion) {
                out->newerFile = true;
                return SettingsRead::Newer;
            }
            versioned = true;
            continue;
        }
        // What this version cannot take is a later one's: kept, not taken.
        const Key* key = equals == std::string::npos ? nullptr : FindKey(name);
        if (key == nullptr || !ReadValue(*key, line.substr(equals + 1), &read))
            read.kept.push_back({line, ""});
    }
    if (!versioned) return SettingsRead::Damaged;
    // A place only with a size a window can have.
    if (read.place.w < 1 || read.place.h < 1) read.place = Rect{};
    for (Settings::Kept& kept : read.kept) {
        if (const Key* key = FindKey(kept.line.substr(0, kept.line.find('='))))
            kept.standIn = WriteValue(*key, read);
    }
    *out = read;
    return SettingsRead::Read;
}

std::string FormatSettings(const Settings& in) {
    std::string text =
        "# vornackle's settings: key=value, one a line\nversion=" + std::to_string(kVersion) + "\n";
    std::vector<bool> written(in.kept.size(), false);
    for (const Key& key : kKeys) {
        const std::string value = WriteValue(key, in);
        // A later version's value stays while this one has not changed it.
        bool later = false;
        for (size_t i = 0; i < in.kept.size(); ++i) {
            const Settings::Kept& kept = in.kept[i];
            if (kept.line.compare(0, std::strlen(key.name) + 1, key.name + std::string("=")) == 0 &&
                kept.standIn == value) {
                text += kept.line + "\n";
                written[i] = later = true;
            }
        }
        if (!later && !value.empty()) text += std::string(key.name) + "=" + value + "\n";
    }
    for (size_t i = 0; i < in.kept.size(); ++i) {
        const bool known = FindKey(in.kept[i].line.substr(0, in.kept[i].line.find('='))) != nullptr;
        if (!written[i] && !known) text += in.kept[i].line + "\n";
    }
    return text;
}

std::string SettingsPath() {
#ifdef _WIN32
    const wchar_t* base = _wgetenv(L"APPDATA");
    if (base == nullptr || base[0] == L'\0') return "";
    return Utf8(base) + "\\vornackle\\settings.txt";
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
    std::FILE* file = OpenToRead(path);
    if (file == nullptr) return SettingsRead::Missing;
    // A settings file is a few hundred bytes; anything long is not one.
    char buffer[4097];
    const size_t length = std::fread(buffer, 1, sizeof buffer, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    const SettingsRead result = length == sizeof buffer || failed
                                    ? SettingsRead::Damaged
                                    : ParseSettings(std::string(buffer, length), into);
    if (result == SettingsRead::Read) into->onFile = FormatSettings(*into);
    if (result == SettingsRead::Damaged) Say(path, "is damaged: ignored");
    if (result == SettingsRead::Newer) Say(path, "is from a newer version: ignored and kept");
    return result;
}

bool SaveSettings(const std::string& path, const Settings& in) {
    if (path.empty() || in.newerFile) return false;
    MakeFolders(path);
    // A name of this writer's own: two copies of the program saving at once
    // each write a whole file, and the later rename wins.
    static std::atomic<unsigned> saves{0};
    const std::string text = FormatSettings(in);
    bool written = false;
    for (int attempt = 0; attempt < 8 && !written; ++attempt) {
        const std::string fresh =
            path + "." + std::to_string(ProcessId()) + "-" + std::to_string(++saves) + ".new";
        if (!WriteNew(fresh, text)) continue;  // a name left by a writer that died: the next
        if (beforeReplace != nullptr) beforeReplace(fresh);
        written = Replace(fresh, path);
        if (!written) {
            Remove(fresh);
            break;
        }
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

Rect RescaledPlace(const Rect& suggested, const Rect& usable) {
    // Of the nearer whole multiples across and down, the smaller.
    const int across = (suggested.w + kPictureWidth / 2) / kPictureWidth;
    const int down = (suggested.h + kPictureHeight / 2) / kPictureHeight;
    const int fits = std::min(usable.w / kPictureWidth, usable.h / kPictureHeight);
    const int factor = std::max(1, std::min({across, down, fits}));
    const int w = factor * kPictureWidth, h = factor * kPictureHeight;
    return Rect{suggested.x + (suggested.w - w) / 2, suggested.y + (suggested.h - h) / 2, w, h};
}

}  // namespace desktop
