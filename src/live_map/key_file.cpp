#include "live_map/key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "live_map/map_access.h"

namespace kestrel::live_map {

namespace {

std::string reason() {
    return std::strerror(errno);
}

KeyRead writeKey(const std::string& path) {
    KeyRead read;
    const std::string key = newKey();
    if (key.empty()) {
        read.problem = "the system gives no random numbers for the map's key";
        return read;
    }
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        read.problem = path + " cannot be written (" + reason() + ")";
        return read;
    }
    const std::string line = key + "\n";
    const bool written = ::fchmod(fd, 0600) == 0 &&
                         ::write(fd, line.data(), line.size()) == ssize_t(line.size()) &&
                         ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        read.problem = path + " cannot be written (" + reason() + ")";
        ::unlink(temporary.c_str());
        return read;
    }
    read.key = key;
    return read;
}

}  // namespace

std::string keyPath(const std::string& folder) {
    return folder + "map.key";
}

KeyRead readOrMakeKey(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) {
            return writeKey(path);
        }
        KeyRead read;
        read.problem = path + " cannot be read (" + reason() + ")";
        return read;
    }
    std::array<char, 64> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    struct stat info {};
    const bool looked = ::fstat(fd, &info) == 0;
    if (looked && S_ISREG(info.st_mode) && (info.st_mode & 077) != 0) {
        ::fchmod(fd, 0600);  // a key others could read was never private: it is replaced below
    }
    ::close(fd);
    std::string text(buffer.data(), n > 0 ? size_t(n) : 0);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    if (!looked || !S_ISREG(info.st_mode) || !isKey(text) || (info.st_mode & 077) != 0) {
        KeyRead read = writeKey(path);
        if (!read.key.empty()) {
            read.problem = (looked && S_ISREG(info.st_mode) && (info.st_mode & 077) != 0)
                               ? path + " could be read by other users: a new link was made"
                               : path + " held no key: a new link was made";
        }
        return read;
    }
    KeyRead read;
    read.key = text;
    return read;
}

KeyRead replaceKey(const std::string& path) {
    return writeKey(path);
}

std::string privateKeyProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return path + " cannot be read (" + reason() + ")";
    }
    if (!S_ISREG(info.st_mode)) {
        return path + " is not a file";
    }
    if ((info.st_mode & 077) != 0) {
        return path + " can be read by other users (chmod 600 it)";
    }
    return {};
}

}  // namespace kestrel::live_map
