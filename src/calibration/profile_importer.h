#pragma once
// Loads a profile file into the registry: each INI section names a key (created when missing),
// each line of it a value. The file is read only through the platform's profile functions, so
// their rules decide what a section, a line or a comment is.
#include <string>

namespace ks {

class RegistryProfileImporter {
public:
    explicit RegistryProfileImporter(std::string path) : path_(std::move(path)) {}

    // Imports every section in file order. Values are added or overwritten, never deleted.
    // Nothing is reported: a missing file, a bad header or a refused value is skipped silently,
    // and the caller reads the registry again to learn what arrived.
    void ImportFile() const;

private:
    std::string path_;
};

}  // namespace ks
