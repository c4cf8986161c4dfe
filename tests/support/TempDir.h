#pragma once

#include <string>
#include <vector>

namespace vesperine::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with its contents when the
// object goes away.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& relative) const { return path_ + "/" + relative; }

  private:
    std::string path_;
};

std::string readFile(const std::string& path);  // "" when unreadable
void writeFile(const std::string& path, const std::string& contents);
bool fileExists(const std::string& path);
// The names in `folder`, sorted; none when there is no such folder.
std::vector<std::string> filesIn(const std::string& folder);
// Whether some process holds `path` locked (flock), as the stores do.
bool lockHeld(const std::string& path);

}  // namespace vesperine::testing
