#pragma once

#include <optional>
#include <string>

namespace platform {

// Applications are known by the desktop entry <identifier>.desktop, looked for
// in $XDG_DATA_HOME/applications, each $XDG_DATA_DIRS/applications and then
// the resource directories (the project's default entries).
class Workspace {
public:
    // The application's bundle folder: the entry's key X-Trovario-Bundle (an
    // absolute path, or a name inside a resource directory); without that
    // key, the path of the desktop entry itself.
    static std::optional<std::string> absolutePathForAppBundleWithIdentifier(const std::string& identifier);
    // Launch through GIO; false (with a log line) when the entry is missing or
    // the launch fails.
    static bool launchApplication(const std::string& identifier);
    // Hands one existing file to the application.
    static bool openFile(const std::string& path, const std::string& identifier);

    // The identifier of the audio editor the agent works with: the
    // preference TROVEditorIdentifierKey when it holds a valid identifier,
    // else org.trovario.Trovario.
    static std::string editorIdentifier();
    // Path of the desktop entry for `identifier`, "" when none.
    static std::string desktopEntryPath(const std::string& identifier);
    // Reverse-domain style: letters, digits, '.', '-', '_', not starting with '.'.
    static bool isValidIdentifier(const std::string& identifier);
};

}  // namespace platform
