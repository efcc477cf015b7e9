#pragma once
// A device's default profile file (<install folder>\Profiles\<hardware>.ks4), made ready for
// import: placeholders filled and the text cut at the device's event section, in a temporary
// file of its own.
#include <optional>
#include <string>
#include <utility>

namespace ks {

// A file that is deleted when its owner goes, so no early return can leave it behind.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    TemporaryFile(TemporaryFile&& other) noexcept : path_(std::exchange(other.path_, std::string())) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    TemporaryFile& operator=(TemporaryFile&&) = delete;
    ~TemporaryFile();

    const std::string& Path() const { return path_; }

private:
    std::string path_;  // empty once moved from
};

// The prepared temporary file, empty when the profile's text could not be read. No value when
// there is no install folder, the hardware name would lead out of the Profiles folder, there is
// no temporary file name, or the profile or temporary file cannot be opened; no temporary file is
// left behind then.
std::optional<TemporaryFile> PrepareDefaultProfile(const std::string& hardwareName);

}  // namespace ks
