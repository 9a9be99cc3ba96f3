#pragma once

#include <string>

namespace platform {

// Fixed identifiers shared by the agent, its tools and the editor.
inline constexpr char kAgentServiceName[] = "org.trovario.TrovarioAgent";
inline constexpr char kEditorIdentifier[] = "org.trovario.Trovario";
inline constexpr char kLogIdent[] = "trovario-agent";
inline constexpr char kCaptureSinkName[] = "trovario_capture";
inline constexpr char kCaptureSinkDescription[] = "Trovario Capture Support";
inline constexpr char kScratchPath[] = "/tmp/trov_scratch.caf";
// Preference naming the desktop entry of the user's chosen audio editor.
inline constexpr char kEditorIdentifierKey[] = "TROVEditorIdentifierKey";

// $HOME/Music/Trovario (home from the password database when HOME is unset).
std::string exportFolder();

}  // namespace platform
