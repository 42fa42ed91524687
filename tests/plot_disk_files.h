#pragma once
// Real files for the plot tests and the plot benchmark, with the standard library only: a
// write goes to a temporary file beside the target and is renamed over it, so the old file
// stays whole when anything fails. A scratch folder that removes itself.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/platform.h"

namespace kestrel::test {

class DiskFiles : public TextFiles {
  public:
    std::optional<std::string> read(const std::string& path) override {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    bool write(const std::string& path, std::string_view content, std::string& error) override {
        const std::string temporary = path + ".part";
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            if (!out) {
                error = "cannot create " + temporary;
                return false;
            }
            out.write(content.data(), static_cast<std::streamsize>(content.size()));
            out.close();
            if (!out) {
                error = "write failed";
                std::filesystem::remove(temporary);
                return false;
            }
        }
        std::error_code ec;
        std::filesystem::rename(temporary, path, ec);
        if (ec) {
            error = ec.message();
            std::filesystem::remove(temporary, ec);
            return false;
        }
        return true;
    }

    bool append(const std::string& path, std::string_view text, std::string& error) override {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            error = "cannot append to " + path;
            return false;
        }
        return true;
    }
    bool folderExists(const std::string& path) override {
        std::error_code ec;
        return std::filesystem::is_directory(path, ec);
    }
    bool makeFolder(const std::string& path, std::string& error) override {
        std::error_code ec;
        std::filesystem::create_directory(path, ec);
        error = ec.message();
        return !ec;
    }
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-plot-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~ScratchFolder() {
        if (!m_path.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_path, ec);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool ok() const { return !m_path.empty(); }
    // The folder with a trailing separator, as the main window takes it.
    std::string folder() const { return (m_path / "").string(); }

  private:
    std::filesystem::path m_path;
};

// What a shell command prints on its standard output (empty when it cannot be started).
inline std::string runCommand(const std::string& command) {
    std::string output;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    char buf[4096];
    for (size_t n = 0; pipe && (n = std::fread(buf, 1, sizeof buf, pipe.get())) > 0;) {
        output.append(buf, n);
    }
    return output;
}

}  // namespace kestrel::test
