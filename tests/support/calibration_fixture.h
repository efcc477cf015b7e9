#pragma once
// Calibration tables through a configuration object: shared by the tests of the DLL and those that
// replace its console-user seam (which put an object of the linked store in config_), with the
// default profile files the store imports and the temporary files it makes from them.
#include <fstream>
#include <set>
#include <vector>

#include "support/ks_test.h"

namespace kstest {

using Bytes = std::vector<BYTE>;
inline constexpr BYTE kUntouched = 0xCC;

// Writes <ProfilesFolder()>\<hardware>.ks4 (the DLL and, where the store is linked in, the test
// executable share one folder) and removes it again when it goes.
class DefaultProfileFile {
public:
    DefaultProfileFile(const std::string& hardware, const std::string& text) {
        path_ = ProfilesFolder();
        CreateDirectoryA(path_.c_str(), nullptr);
        path_ += "\\" + hardware + ".ks4";
        EXPECT_TRUE(std::ofstream(path_, std::ios::binary) << text) << path_;
    }
    ~DefaultProfileFile() { DeleteFileA(path_.c_str()); }
    DefaultProfileFile(const DefaultProfileFile&) = delete;
    DefaultProfileFile& operator=(const DefaultProfileFile&) = delete;

private:
    std::string path_;
};

// Names of the "~KS*.tmp" files in the temporary folder.
inline std::set<std::string> TemporaryProfileCopies() {
    char folder[MAX_PATH];
    GetTempPathA(sizeof(folder), folder);
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(folder) + "~KS*.tmp").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        names.insert(found.cFileName);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return names;
}

class CalibrationFixture : public ConfigTest {
protected:
    void TearDown() override {
        ConfigTest::TearDown();
        EXPECT_TRUE(TemporaryProfileCopies().empty()) << "a ~KS temporary file was left behind";
    }
    // Reads into a buffer of `size` bytes that starts filled with kUntouched.
    HRESULT Read(const char* hardware, size_t size, Bytes* out) {
        out->assign(size, kUntouched);
        return config_->GetCalibrationData(Bstr(hardware).get(), static_cast<LONG>(size), out->data());
    }
};

}  // namespace kstest
