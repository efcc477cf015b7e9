#include "device_test_util.h"

#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace kstest {

namespace {
constexpr const char* kUserShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
}  // namespace

std::string ShellFolder(int csidl) {
    char path[MAX_PATH] = {};
    HRESULT hr = SHGetFolderPathA(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    EXPECT_EQ(hr, S_OK) << "shell folder " << csidl;
    return path;
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out) << path;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FileNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

std::string DllFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(Dll().module, path, MAX_PATH);
    std::string text = path;
    return text.substr(0, text.rfind('\\'));
}

ShellFolderOverride::ShellFolderOverride(const char* name, const std::string& folder)
    : name_(name), old_(GetValue(kUserShellFolders, name)) {
    SetValue(kUserShellFolders, name, REG_EXPAND_SZ, folder.c_str(), static_cast<DWORD>(folder.size() + 1));
}

ShellFolderOverride::~ShellFolderOverride() {
    if (old_) {
        SetValue(kUserShellFolders, name_, old_->type, old_->data.data(), static_cast<DWORD>(old_->data.size()));
    } else {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name_);
            RegCloseKey(key);
        }
    }
}

DeepFolder::DeepFolder(size_t length) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string path = temp;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    std::ostringstream unique;
    unique << "\\ksdeep" << GetCurrentProcessId();
    path += unique.str();
    chain_.push_back(path);
    while (path.size() < length) {
        size_t remaining = length - path.size();
        if (remaining == 1) {  // too short for "\" and a name: lengthen the innermost one instead
            path += 'x';
            chain_.back() = path;
            break;
        }
        path += "\\" + std::string(std::min<size_t>(remaining - 1, 60), 'd');
        chain_.push_back(path);
    }
    for (const std::string& folder : chain_) CreateDirectoryA(folder.c_str(), nullptr);
    path_ = chain_.back();
    EXPECT_TRUE(DirectoryExists(path_)) << path_;
}

DeepFolder::~DeepFolder() {
    for (const std::string& name : FileNames(path_)) DeleteFileA((path_ + "\\" + name).c_str());
    for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) RemoveDirectoryA(it->c_str());
}

}  // namespace kstest
