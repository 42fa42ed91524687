#pragma once
// The shared map's key on disk: one line of 32 hexadecimal digits in <folder>map.key, readable
// by its owner only. It is made on first use and replaced by a new link; a file that holds
// anything else is replaced, one that others may read is made private again. The key is never
// written anywhere else. Qt-free (POSIX files).

#include <string>

namespace kestrel::live_map {

struct KeyRead {
    std::string key;      // empty when none could be had
    std::string problem;  // for a person, when the key was made afresh or cannot be kept
};

std::string keyPath(const std::string& folder);
// The key in `path`, made when the file is missing or damaged.
KeyRead readOrMakeKey(const std::string& path);
// A new key in `path` in place of the old one (written beside it, then renamed over it).
KeyRead replaceKey(const std::string& path);

// A TLS private key file must be readable by its owner only: the reason when it is not (or
// cannot be looked at), else empty.
std::string privateKeyProblem(const std::string& path);

}  // namespace kestrel::live_map
