// The folder sheet of a recovery: the user picks the destination folder in
// a sheet on the browser window. Tests put a scripted one in its place.
#pragma once

#include <QRect>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace velmora::browser {

class VKRecoverFolderSheet {
public:
    // The folder chosen (none when cancelled) and the frame the sheet had.
    using Done = std::function<void(std::optional<QString> folder, QRect frame)>;
    virtual ~VKRecoverFolderSheet() = default;
    // Window-modal on `window`, at `frame` when it is valid; `done` runs
    // after Begin returned.
    virtual void Begin(QWidget* window, const QString& message, const QString& prompt,
                       const QRect& frame, Done done) = 0;
};

// On the platform's folder dialog.
class FileDialogFolderSheet : public VKRecoverFolderSheet {
public:
    void Begin(QWidget* window, const QString& message, const QString& prompt, const QRect& frame,
               Done done) override;
};

}  // namespace velmora::browser
