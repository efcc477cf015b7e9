#pragma once
// Shared by the device tests: the real per-user folders, files on disk, and a scoped change of
// where the shell puts a user's folder.
#include "support/ks_test.h"

#include <optional>
#include <string>
#include <vector>

namespace kstest {

// The folder the shell gives for `csidl` (created when missing), as the store asks for it.
std::string ShellFolder(int csidl);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
std::optional<std::string> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Names of the files (not folders) in `folder`, sorted.
std::vector<std::string> FileNames(const std::string& folder);
// The folder of the DLL under test, without a trailing backslash.
std::string DllFolder();

// Points one of the current user's shell folders ("Personal", "AppData") somewhere else for the
// life of the object, then puts the old setting back.
class ShellFolderOverride {
public:
    ShellFolderOverride(const char* name, const std::string& folder);
    ~ShellFolderOverride();
    ShellFolderOverride(const ShellFolderOverride&) = delete;
    ShellFolderOverride& operator=(const ShellFolderOverride&) = delete;

private:
    const char* name_;
    std::optional<RegValue> old_;
};

// A chain of new folders below the temporary folder whose full path is `length` characters long;
// removes the chain (and anything the test left inside its innermost folder) when destroyed.
class DeepFolder {
public:
    explicit DeepFolder(size_t length);
    ~DeepFolder();
    DeepFolder(const DeepFolder&) = delete;
    DeepFolder& operator=(const DeepFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::vector<std::string> chain_;  // outermost first
    std::string path_;
};

}  // namespace kstest
