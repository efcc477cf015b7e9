#pragma once
// Calibration tables through a configuration object: shared by the tests of the DLL and those that
// replace its console-user seam (which put an object of the linked store in config_).
#include <vector>

#include "support/ks_test.h"
#include "support/profile_files.h"

namespace kstest {

using Bytes = std::vector<BYTE>;
inline constexpr BYTE kUntouched = 0xCC;

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
