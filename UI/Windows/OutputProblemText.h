// What a window says when the folder chosen for the user's files cannot be
// used: the bridge's own reason, in the user's language (the text table),
// never a generic "cannot write".
#pragma once

#include <QString>

#include "OutputDestination.h"

namespace velmora::windows {

// The text-table key of a reason ("" for kNone).
QString OutputProblemKey(bridge::OutputProblem problem);
// Its words (empty for kNone).
QString OutputProblemText(bridge::OutputProblem problem);

}  // namespace velmora::windows
