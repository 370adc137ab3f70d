#include "Windows/OutputProblemText.h"

#include "UIPlatform/Texts.h"

namespace velmora::windows {

QString OutputProblemKey(bridge::OutputProblem problem) {
    using bridge::OutputProblem;
    switch (problem) {
        case OutputProblem::kNone:
            return {};
        case OutputProblem::kNotChosen:
            return QStringLiteral("OUTPUT_NOT_CHOSEN");
        case OutputProblem::kNoParent:
            return QStringLiteral("OUTPUT_NO_PARENT");
        case OutputProblem::kNotAFolder:
            return QStringLiteral("OUTPUT_NOT_A_FOLDER");
        case OutputProblem::kNoPermission:
            return QStringLiteral("OUTPUT_NO_PERMISSION");
        case OutputProblem::kForeignLink:
            return QStringLiteral("OUTPUT_FOREIGN_LINK");
        case OutputProblem::kOnScannedDevice:
            return QStringLiteral("OUTPUT_ON_SCANNED_DEVICE");
        case OutputProblem::kOnScannedThroughEncrypted:
            return QStringLiteral("OUTPUT_ON_SCANNED_ENCRYPTED");
        case OutputProblem::kOnScannedThroughLvm:
            return QStringLiteral("OUTPUT_ON_SCANNED_LVM");
        case OutputProblem::kOnScannedThroughRaid:
            return QStringLiteral("OUTPUT_ON_SCANNED_RAID");
        case OutputProblem::kOnScannedThroughLoop:
            return QStringLiteral("OUTPUT_ON_SCANNED_LOOP");
        case OutputProblem::kOnScannedThroughMapping:
            return QStringLiteral("OUTPUT_ON_SCANNED_MAPPED");
    }
    return QStringLiteral("OUTPUT_NO_PARENT");
}

QString OutputProblemText(bridge::OutputProblem problem) {
    const QString key = OutputProblemKey(problem);
    return key.isEmpty() ? QString() : ui::texts::Text(key);
}

}  // namespace velmora::windows
