// What the launcher tells the user once the application has ended: the
// launcher is all the user started, so a program that could not start or
// ended abnormally is said in words, not passed over in silence.
#pragma once

#include <optional>
#include <string>

namespace velmora::loader {

// The message for the status RunTool gave; nothing when there is nothing to
// say (a normal end, or the password dialog dismissed by the user).
std::optional<std::string> LaunchFailureMessage(int status);

// What to say when the display the session names (`x11` for DISPLAY,
// `wayland` for WAYLAND_DISPLAY, either empty when unset) cannot be
// reached: the window toolkit's own fatal words (`toolkitMessage`, first
// sentence kept) would only advise reinstalling the program.
std::string UnreachableDisplayMessage(const std::string& x11, const std::string& wayland,
                                      const std::string& toolkitMessage);

}  // namespace velmora::loader
