#include "Browser/VKRecoverFolderSheet.h"

#include <QFileDialog>

namespace velmora::browser {

void FileDialogFolderSheet::Begin(QWidget* window, const QString& message, const QString& prompt,
                                  const QRect& frame, Done done) {
    auto* dialog = new QFileDialog(window, message);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // The program runs as root: the panel only chooses. A folder typed that
    // does not exist yet is made by the recovery, as the user.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ReadOnly);
    dialog->setLabelText(QFileDialog::Accept, prompt);
    dialog->setWindowModality(Qt::WindowModal);
    if (frame.isValid())
        dialog->setGeometry(frame);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        const QRect kept = dialog->geometry();
        const QStringList chosen = dialog->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            done(chosen.first(), kept);
        else
            done(std::nullopt, kept);
    });
    dialog->open();
}

}  // namespace velmora::browser
