// A folder of generated test data made once for a whole test run.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace velmora::test {

// A key that changes whenever a file under `inputs` (files or folders) is
// added, removed, renamed or edited: FNV-1a over their names and bytes.
inline std::string ContentKey(const std::vector<std::filesystem::path>& inputs) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (const fs::path& input : inputs) {
        std::error_code ec;
        if (fs::is_regular_file(input, ec)) {
            files.push_back(input);
            continue;
        }
        for (fs::recursive_directory_iterator it(input, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->path().filename() == "__pycache__") {
                it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file(ec))
                files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    uint64_t hash = 0xcbf29ce484222325ull;
    auto add = [&hash](unsigned char c) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    };
    for (const fs::path& file : files) {
        for (char c : file.string())
            add(static_cast<unsigned char>(c));
        add(0);
        std::ifstream in(file, std::ios::binary);
        for (std::istreambuf_iterator<char> it(in), end; it != end; ++it)
            add(static_cast<unsigned char>(*it));
        add(0);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// Every test runs in a process of its own, so data that each process made in
// a temporary folder of its own was made again for every test. This folder,
// `root`/`name`-KEY, is made by the first process that asks for it and read
// by the others; KEY follows the contents of `inputs` (the generator and what
// it reads), so an edited generator makes it anew. One maker at a time
// (flock); a folder left half made by a stopped process is made again. `make`
// fills the empty folder it is given and says whether that worked; the
// result is "" when it did not. Users only read what is in the folder.
inline std::string SharedFolder(const std::string& root, const std::string& name,
                                const std::vector<std::filesystem::path>& inputs,
                                const std::function<bool(const std::string&)>& make) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(root, ec);
    const std::string folder = root + "/" + name + "-" + ContentKey(inputs);
    const std::string done = folder + "/.made";
    const int lock =
        open((root + "/" + name + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0)
        return {};
    while (flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) {
            close(lock);
            return {};
        }
    }
    bool ready = fs::exists(done, ec);
    if (!ready) {
        // Folders made from older inputs go: nobody asks for them again.
        for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string entry = it->path().filename().string();
            const bool older =
                entry.size() == name.size() + 17 && entry.rfind(name + "-", 0) == 0 &&
                entry.find_first_not_of("0123456789abcdef", name.size() + 1) == std::string::npos;
            if (older)
                fs::remove_all(it->path(), ec);
        }
        fs::remove_all(folder, ec);
        fs::create_directories(folder, ec);
        ready = !ec && make(folder);
        if (ready)
            ready = static_cast<bool>(std::ofstream(done) << "made\n");
        if (!ready)
            fs::remove_all(folder, ec);
    }
    flock(lock, LOCK_UN);
    close(lock);
    return ready ? folder : std::string();
}

}  // namespace velmora::test
