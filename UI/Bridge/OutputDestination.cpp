#include "OutputDestination.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "platform/UserFiles.h"

namespace velmora::bridge {

namespace {

// Bounds against a damaged or cyclic sysfs.
constexpr size_t kMaxDevices = 4096;

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool ParseDev(const std::string& text, dev_t* dev) {
    unsigned major = 0;
    unsigned minor = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2)
        return false;
    *dev = makedev(major, minor);
    return true;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
        if (names.size() >= kMaxDevices)
            break;
    }
    ::closedir(dir);
    return names;
}

std::string DevFolder(const std::string& sysfs, dev_t dev) {
    char name[64];
    std::snprintf(name, sizeof name, "/dev/block/%u:%u", major(dev), minor(dev));
    return sysfs + name;
}

// The device number of a block device named in /sys/class/block.
bool DevOfName(const std::string& sysfs, const std::string& name, dev_t* dev) {
    return ParseDev(ReadLine(sysfs + "/class/block/" + name + "/dev"), dev);
}

}  // namespace

bool IsOnScannedDevice(OutputProblem problem) {
    return problem >= OutputProblem::kOnScannedDevice &&
           problem <= OutputProblem::kOnScannedThroughMapping;
}

std::string OutputProblemWords(OutputProblem problem) {
    constexpr const char* kOverwrite = "; writing there would overwrite the files being recovered.";
    switch (problem) {
        case OutputProblem::kNone:
            return {};
        case OutputProblem::kNotChosen:
            return "No folder was chosen.";
        case OutputProblem::kNoParent:
            return "The folder cannot be reached.";
        case OutputProblem::kNotAFolder:
            return "The place chosen is not a folder.";
        case OutputProblem::kNoPermission:
            return "You are not allowed to write in this folder.";
        case OutputProblem::kForeignLink:
            return "The path passes through a link that belongs to another user.";
        case OutputProblem::kOnScannedDevice:
            return std::string("This folder is on the disk being scanned") + kOverwrite;
        case OutputProblem::kOnScannedThroughEncrypted:
            return std::string(
                       "This folder is on the disk being scanned (through an encrypted "
                       "volume)") +
                   kOverwrite;
        case OutputProblem::kOnScannedThroughLvm:
            return std::string("This folder is on the disk being scanned (through an LVM volume)") +
                   kOverwrite;
        case OutputProblem::kOnScannedThroughRaid:
            return std::string("This folder is on the disk being scanned (through a RAID array)") +
                   kOverwrite;
        case OutputProblem::kOnScannedThroughLoop:
            return std::string(
                       "This folder is on the disk being scanned (through a disk image "
                       "stored on it)") +
                   kOverwrite;
        case OutputProblem::kOnScannedThroughMapping:
            return std::string(
                       "This folder is on the disk being scanned (through a mapped "
                       "device)") +
                   kOverwrite;
    }
    return "The folder cannot be used.";
}

OutputProblem HowOnScannedDevice(dev_t dev, const std::vector<dev_t>& scanned,
                                 const std::string& sysfs) {
    const std::string folder = DevFolder(sysfs, dev);
    struct stat st {};
    if (std::find(scanned.begin(), scanned.end(), dev) != scanned.end() ||
        ::stat((folder + "/partition").c_str(), &st) == 0)
        return OutputProblem::kOnScannedDevice;
    const std::string uuid = ReadLine(folder + "/dm/uuid");
    if (uuid.rfind("CRYPT-", 0) == 0)
        return OutputProblem::kOnScannedThroughEncrypted;
    if (uuid.rfind("LVM-", 0) == 0)
        return OutputProblem::kOnScannedThroughLvm;
    if (!uuid.empty() || ::stat((folder + "/dm").c_str(), &st) == 0)
        return OutputProblem::kOnScannedThroughMapping;
    if (::stat((folder + "/md").c_str(), &st) == 0)
        return OutputProblem::kOnScannedThroughRaid;
    if (!ReadLine(folder + "/loop/backing_file").empty())
        return OutputProblem::kOnScannedThroughLoop;
    return OutputProblem::kOnScannedDevice;
}

std::set<dev_t> DevicesOnScanned(const std::vector<dev_t>& scanned, const std::string& sysfs) {
    std::set<dev_t> found(scanned.begin(), scanned.end());
    std::vector<dev_t> pending(scanned.begin(), scanned.end());
    auto add = [&](dev_t dev) {
        if (found.size() < kMaxDevices && found.insert(dev).second)
            pending.push_back(dev);
    };
    const std::vector<std::string> all = Entries(sysfs + "/class/block");
    for (;;) {
        while (!pending.empty()) {
            const dev_t dev = pending.back();
            pending.pop_back();
            const std::string folder = DevFolder(sysfs, dev);
            // Its partitions: folders of its own with a "partition" file.
            for (const std::string& name : Entries(folder)) {
                dev_t part = 0;
                struct stat st {};
                if (::stat((folder + "/" + name + "/partition").c_str(), &st) == 0 &&
                    ParseDev(ReadLine(folder + "/" + name + "/dev"), &part))
                    add(part);
            }
            // The devices made on it.
            for (const std::string& name : Entries(folder + "/holders")) {
                dev_t holder = 0;
                if (DevOfName(sysfs, name, &holder))
                    add(holder);
            }
        }
        // Loop devices whose backing file lies on a device found so far.
        for (const std::string& name : all) {
            std::string backing = ReadLine(sysfs + "/class/block/" + name + "/loop/backing_file");
            if (backing.empty())
                continue;
            constexpr const char* kDeleted = " (deleted)";
            if (backing.size() > 10 && backing.compare(backing.size() - 10, 10, kDeleted) == 0)
                backing.resize(backing.size() - 10);
            struct stat st {};
            dev_t loop = 0;
            if (::stat(backing.c_str(), &st) == 0 && found.count(st.st_dev) != 0 &&
                DevOfName(sysfs, name, &loop))
                add(loop);
        }
        if (pending.empty())
            return found;
    }
}

OutputDestination OutputDestination::Choose(const std::string& folder,
                                            const std::vector<dev_t>& scanned,
                                            const std::string& sysfs) {
    OutputDestination out;
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string existing;
    std::string missing;
    switch (platform::CheckFolderForUser(base, &existing, &missing)) {
        case platform::FolderCheck::kUsable:
            break;
        case platform::FolderCheck::kNotAbsolute:
            out.problem_ = OutputProblem::kNotChosen;
            return out;
        case platform::FolderCheck::kNoParent:
            out.problem_ = OutputProblem::kNoParent;
            return out;
        case platform::FolderCheck::kNotAFolder:
            out.problem_ = OutputProblem::kNotAFolder;
            return out;
        case platform::FolderCheck::kNoPermission:
            out.problem_ = OutputProblem::kNoPermission;
            return out;
        case platform::FolderCheck::kForeignLink:
            out.problem_ = OutputProblem::kForeignLink;
            return out;
    }
    struct stat st {};
    if (::stat(existing.c_str(), &st) != 0) {
        out.problem_ = OutputProblem::kNoParent;
        return out;
    }
    if (!scanned.empty() && DevicesOnScanned(scanned, sysfs).count(st.st_dev) != 0) {
        out.problem_ = HowOnScannedDevice(st.st_dev, scanned, sysfs);
        return out;
    }
    out.problem_ = OutputProblem::kNone;
    out.folder_ = missing.empty() ? existing : (existing == "/" ? "" : existing) + "/" + missing;
    return out;
}

}  // namespace velmora::bridge
