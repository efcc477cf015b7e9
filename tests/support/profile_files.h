#pragma once
// Default profile files beside the store (<bin>\Profiles\<hardware>.ks4) and the temporary
// files the store makes from them.
#include <set>
#include <string>

namespace kstest {

// Writes <folder of the test executable>\Profiles\<hardware>.ks4 (the store's install folder in
// every test) and removes it again when it goes.
class DefaultProfileFile {
public:
    DefaultProfileFile(const std::string& hardware, const std::string& text);
    ~DefaultProfileFile();
    DefaultProfileFile(const DefaultProfileFile&) = delete;
    DefaultProfileFile& operator=(const DefaultProfileFile&) = delete;

private:
    std::string path_;
};

// Names of the "~KS*.tmp" files in the temporary folder.
std::set<std::string> TemporaryProfileCopies();

}  // namespace kstest
