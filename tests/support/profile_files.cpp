#include "support/profile_files.h"

#include <windows.h>
#include <gtest/gtest.h>

namespace kstest {

namespace {
std::string ExecutableFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string text(path, n);
    return text.substr(0, text.find_last_of('\\'));
}
}  // namespace

DefaultProfileFile::DefaultProfileFile(const std::string& hardware, const std::string& text) {
    std::string folder = ExecutableFolder() + "\\Profiles";
    CreateDirectoryA(folder.c_str(), nullptr);
    path_ = folder + "\\" + hardware + ".ks4";
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << path_;
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    CloseHandle(file);
}

DefaultProfileFile::~DefaultProfileFile() { DeleteFileA(path_.c_str()); }

std::set<std::string> TemporaryProfileCopies() {
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(folder) + "~KS*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        names.insert(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

}  // namespace kstest
