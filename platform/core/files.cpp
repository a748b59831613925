// KERNEL32 files: OpenFile for reading (a bare name is looked for next to the
// program, then in an installed copy's data folder, then in the working
// directory), _lread and _lclose, over POSIX file descriptors.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "platform/backend.h"
#include "platform/core/core.h"

namespace standin {

namespace {

std::set<int> openFiles;  // descriptors handed to the game and not yet closed

constexpr WORD kFileNotFound = 2;  // ERROR_FILE_NOT_FOUND

}  // namespace

std::vector<std::string> DataFileCandidates(const char* name) {
    std::vector<std::string> paths;
    std::string dir = backend::ProgramDirectory();
    if (dir.empty()) return paths;
    if (dir.back() != '/') dir += '/';
    paths.push_back(dir + name);
    // An installed program lives in PREFIX/bin and its data in
    // PREFIX/share/vornackle, wherever PREFIX is.
    paths.push_back(dir + "../share/vornackle/" + name);
    return paths;
}

int OpenFileCount() {
    return static_cast<int>(openFiles.size());
}

void ForgetFiles() {
    for (int fd : openFiles) close(fd);
    openFiles.clear();
}

}  // namespace standin

using namespace standin;

HFILE WINAPI OpenFile(LPCSTR name, LPOFSTRUCT info, UINT style) {
    const ApiCall call(Entry::OpenFile);
    if (style != OF_READ) {
        call.Unsupported("only OF_READ is supported, got 0x%X", style);
    }
    if (name == nullptr || info == nullptr) {
        call.Unsupported("a file name and an OFSTRUCT are required");
    }
    if (std::strchr(name, '\\') != nullptr) {
        call.Unsupported("backslash paths are not supported, got \"%s\"", name);
    }
    std::memset(info, 0, sizeof *info);
    info->cBytes = sizeof *info;
    HRESULT ignored;
    if (call.Fails(0, &ignored)) {
        info->nErrCode = kFileNotFound;
        return HFILE_ERROR;
    }
    // A bare name is looked for beside the program, in an installed copy's
    // data folder, then in the working directory; a path with a directory
    // is taken as given.
    std::vector<std::string> candidates;
    if (std::strchr(name, '/') == nullptr) candidates = DataFileCandidates(name);
    candidates.push_back(name);
    for (const std::string& path : candidates) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        std::strncpy(info->szPathName, path.c_str(), OFS_MAXPATHNAME - 1);
        openFiles.insert(fd);
        return fd;
    }
    info->nErrCode = kFileNotFound;
    return HFILE_ERROR;
}

UINT WINAPI _lread(HFILE file, LPVOID buffer, UINT bytes) {
    const ApiCall call(Entry::ReadFile);
    if (openFiles.count(file) == 0 || (buffer == nullptr && bytes != 0)) {
        return static_cast<UINT>(HFILE_ERROR);
    }
    // Reads until the count is met or the file ends, as the system does.
    UINT done = 0;
    while (done < bytes) {
        ssize_t got = read(file, static_cast<char*>(buffer) + done, bytes - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return static_cast<UINT>(HFILE_ERROR);
        if (got == 0) break;
        done += static_cast<UINT>(got);
    }
    return done;
}

HFILE WINAPI _lclose(HFILE file) {
    const ApiCall call(Entry::CloseFile);
    if (openFiles.erase(file) == 0) return HFILE_ERROR;
    return close(file) == 0 ? 0 : HFILE_ERROR;
}
