// The files a fixture's manifest lists (through the fixtures' own reader,
// tests/fixtures/fat/manifest_files.py) and the checksum of a file written
// by a recovery, for the bridge tests that compare the two.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace velmora::bridgetest {

struct ManifestFile {
    std::string path;
    long long size = 0;
    std::string sha256;
};

// Every file of `manifest`, or only its deleted ones (what a quick scan
// finds); none when the reader fails.
inline std::vector<ManifestFile> ManifestFiles(const std::string& manifest,
                                               bool deletedOnly = false) {
    std::string out;
    std::vector<ManifestFile> files;
    if (!velmora::test::RunProgram(
            {"python3", velmora::test::SourceDir() + "/tests/fixtures/fat/manifest_files.py",
             manifest},
            &out))
        return files;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string state, size;
        ManifestFile f;
        std::getline(fields, state, '\t');
        std::getline(fields, f.path, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, f.sha256, '\t');
        f.size = std::stoll(size);
        if (!deletedOnly || state == "deleted")
            files.push_back(f);
    }
    return files;
}

inline std::string Sha256Of(const std::string& path) {
    std::string out;
    if (!velmora::test::RunProgram({"sha256sum", "--", path}, &out))
        return "<unreadable>";
    return out.substr(0, out.find(' '));
}

}  // namespace velmora::bridgetest
