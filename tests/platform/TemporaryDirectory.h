#pragma once

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

// A fresh folder under the system's temporary folder, removed with its
// contents when the test ends.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "trov-test-XXXXXX").string();
        mPath = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(mPath, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;

    const std::string& path() const { return mPath; }
    std::string operator/(const std::string& name) const { return mPath + "/" + name; }
    // How many entries the folder holds.
    size_t entries() const {
        return size_t(std::distance(std::filesystem::directory_iterator(mPath), std::filesystem::directory_iterator()));
    }

    static void write(const std::string& path, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string mPath;
};

// Sets an environment variable (unsets it for nullptr) for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const char* value) : mName(std::move(name)) {
        if (const char* old = std::getenv(mName.c_str())) mOld = old;
        value ? setenv(mName.c_str(), value, 1) : unsetenv(mName.c_str());
    }
    ~ScopedEnvironment() { mOld ? setenv(mName.c_str(), mOld->c_str(), 1) : unsetenv(mName.c_str()); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;

private:
    std::string mName;
    std::optional<std::string> mOld;
};

// Makes every write beyond `bytes` fail as a full disk does, for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : mOldHandler(signal(SIGXFSZ, SIG_IGN)) {
        getrlimit(RLIMIT_FSIZE, &mOld);
        rlimit limit{bytes, mOld.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &mOld);
        signal(SIGXFSZ, mOldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;

private:
    rlimit mOld{};
    sighandler_t mOldHandler;
};

// Whether `done` comes true within `seconds`, asked every 10 ms.
template <typename Done>
bool eventually(Done done, double seconds = 5.0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (std::chrono::steady_clock::now() > deadline) return false;
    return true;
}
