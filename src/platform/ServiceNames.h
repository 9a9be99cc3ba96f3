#pragma once

namespace platform {

// Fixed identifiers shared by the agent, its tools and the editor.
inline constexpr char kAgentServiceName[] = "org.trovario.TrovarioAgent";
inline constexpr char kEditorIdentifier[] = "org.trovario.Trovario";
inline constexpr char kLogIdent[] = "trovario-agent";
inline constexpr char kCaptureSinkName[] = "trovario_capture";
inline constexpr char kCaptureSinkDescription[] = "Trovario Capture Support";
// Preference naming the desktop entry of the user's chosen audio editor.
inline constexpr char kEditorIdentifierKey[] = "TROVEditorIdentifierKey";

}  // namespace platform
