#include "support/TempDir.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vesperine::testing {

TempDir::TempDir() {
    // Honours $TMPDIR.
    std::string pattern =
        (std::filesystem::temp_directory_path() / "vesperine-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) {
        path_ = pattern;
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void writeFile(const std::string& path, const std::string& contents) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code none;
    for (const auto& entry : std::filesystem::directory_iterator(folder, none)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool lockHeld(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR);
    const bool held = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return held;
}

}  // namespace vesperine::testing
