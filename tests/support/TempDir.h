#pragma once

#include <string>

namespace tarvik {

// A fresh scratch directory under the system's temporary directory,
// removed with everything in it at scope end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Path of a file in the directory (need not exist).
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes bytes to a file of the directory (creating its folders) and
    // returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const { return readFile(file(name)); }
    // Whole contents of any file; empty when it cannot be read, also when it
    // goes away while being read (a process's files under /proc). Never throws.
    static std::string readFile(const std::string& path);

private:
    std::string path_;
};

}  // namespace tarvik
