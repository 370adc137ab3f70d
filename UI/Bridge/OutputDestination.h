// The one road of everything the program writes for the user (recovered
// files, saved results, disk images, the list of files not written): the
// destination is chosen once, resolved once and checked once, as the user
// who started the program, and then handed down as this value. Below it the
// engine's writer (platform/UserFiles.h, RecoveryOutput.h) makes every file
// and folder as that user, walking from the destination without following
// a link; a file that replaces another does so only once it is whole.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>
#include <vector>

namespace velmora::bridge {

// The outcomes of the road, one form for all of them.
enum class OutputProblem : int {
    kNone = 0,
    kNotChosen = 1,        // no folder, or no absolute path
    kNoParent = 2,         // neither it nor a parent of it can be reached
    kNotAFolder = 3,       // it is there, but no folder
    kNoPermission = 4,     // the user may not write there
    kForeignLink = 5,      // a link on the way belongs to someone else
    kOnScannedDevice = 6,  // on the scanned device (or a partition of it)
    // On a device stacked on the scanned one, by the kind of that device:
    kOnScannedThroughEncrypted = 7,  // an encrypted (dm-crypt/LUKS) volume
    kOnScannedThroughLvm = 8,        // an LVM logical volume
    kOnScannedThroughRaid = 9,       // a software RAID (md) array
    kOnScannedThroughLoop = 10,      // a loop device backed by a file there
    kOnScannedThroughMapping = 11,   // another device-mapper device
};

// Whether the outcome is one of the scanned device's (directly or stacked).
bool IsOnScannedDevice(OutputProblem problem);

// The words the user reads for an outcome (kNone: ""); the windows take
// theirs from the text table, these are for the log.
std::string OutputProblemWords(OutputProblem problem);

// How the block device `dev`, found on a scanned device, lies on it: one of
// the kOnScanned... outcomes, read from its sysfs entry below `sysfs`.
OutputProblem HowOnScannedDevice(dev_t dev, const std::vector<dev_t>& scanned,
                                 const std::string& sysfs = "/sys");

class OutputDestination {
public:
    OutputDestination() = default;
    // Checks `folder` as the invoking user and against the scanned devices
    // `scanned` (device numbers as stat gives them), reading the stacking of
    // block devices below `sysfs`. A folder not made yet is judged by its
    // nearest existing parent.
    static OutputDestination Choose(const std::string& folder, const std::vector<dev_t>& scanned,
                                    const std::string& sysfs = "/sys");

    bool ok() const { return problem_ == OutputProblem::kNone; }
    OutputProblem problem() const { return problem_; }
    std::string Words() const { return OutputProblemWords(problem_); }
    // The folder as resolved (its existing part real); "" when refused.
    const std::string& folder() const { return folder_; }

private:
    OutputProblem problem_ = OutputProblem::kNotChosen;
    std::string folder_;
};

// Every block device whose data lies on one of `scanned`: the devices
// themselves, their partitions, the devices made on them (sysfs holders:
// LUKS, LVM, md), and loop devices whose backing file is on one of them,
// again and again until nothing joins. Only the devices the scan reads
// below are refused, never the disks beneath a scanned stacked device
// (their other partitions hold no scanned data).
std::set<dev_t> DevicesOnScanned(const std::vector<dev_t>& scanned,
                                 const std::string& sysfs = "/sys");

}  // namespace velmora::bridge
