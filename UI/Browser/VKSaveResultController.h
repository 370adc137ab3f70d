// Saving the results of the browser to a result file: the save panel, the
// checks on the chosen folder with their warnings, the bridge's save and
// its progress window, and the memory of where results were saved.
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace velmora::browser {

class VKSaveResultController {
public:
    // The save panel: a result file's path for a proposed name, or nothing
    // when the user cancelled.
    using ChooseFile = std::function<std::optional<QString>(const QString& proposedName)>;
    // Runs the progress window following `postName` while saving; non-zero
    // when the save succeeded.
    using RunProgress = std::function<int(const QString& postName)>;
    // Whether files can be made in a folder, as the user the files are for.
    using IsWritable = std::function<bool(const QString& folder)>;

    // Null hooks: the program's panel, progress window and check.
    VKSaveResultController(QWidget* window, ChooseFile choose = {}, RunProgress progress = {},
                           IsWritable writable = {});

    // Results loaded from a file are not offered for saving.
    void setIsImport(bool import) { isImport_ = import; }
    bool isImport() const { return isImport_; }
    bool bSave() const { return bSave_; }
    // A new scan's results are not saved yet.
    void setBSave(bool saved) { bSave_ = saved; }

    // The save flow; true when the results were saved.
    bool exportButtonAction();

    // The file type of result files.
    static QString ResultExtension() { return QStringLiteral("Velmora"); }
    // Whether the invoking user can make files in `folder` itself.
    static bool FolderIsWritable(const QString& folder);

private:
    QWidget* window_;
    ChooseFile choose_;
    RunProgress progress_;
    IsWritable writable_;
    bool isImport_ = false;
    bool bSave_ = false;
};

}  // namespace velmora::browser
