// The application's settings file "PrivateData" as the launcher sees it: the
// property list installed with the program (never written: it belongs to
// the package) under the invoking user's overlay, which holds what was
// changed. Every read loads both files afresh; the overlay's keys win.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velmora::loader {

class PrivateData {
public:
    PrivateData(std::string shippedPath, std::string overlayPath);

    // The files of the application whose executable is `appPath`: the
    // installed file in its "resources" folder (or ../share/tamsweld/), the
    // overlay in the invoking user's configuration folder.
    static PrivateData ForApp(const std::string& appPath);

    // True when either file holds a dictionary.
    bool Exists() const;
    bool Has(const std::string& key) const;
    // The string under `key`; nothing when absent or not a string.
    std::optional<std::string> String(const std::string& key) const;
    // The string entries of the dictionary under `key`, in file order.
    std::vector<std::pair<std::string, std::string>> StringPairs(const std::string& key) const;

    // Stores `value` under `key` in the overlay, which is replaced whole and
    // atomically and belongs to the invoking user. False when it cannot be
    // written.
    bool SetString(const std::string& key, const std::string& value);
    // A read-only view answers every write with false and writes nothing.
    void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }

    const std::string& shippedPath() const { return shipped_; }
    const std::string& overlayPath() const { return overlay_; }

private:
    std::string shipped_, overlay_;
    bool readOnly_ = false;
};

// The configuration folder of the user who started us: under pkexec or sudo
// that user's ~/.config; otherwise $XDG_CONFIG_HOME or $HOME/.config.
std::string InvokingUserConfigFolder();

}  // namespace velmora::loader
