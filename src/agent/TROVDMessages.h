#pragma once

#include <cstdint>

// The commands the agent understands: four-character codes read as
// big-endian 32-bit numbers, carried under "msgID".
inline constexpr int32_t kTROVDMessage_Quit = 0x51756974;                  // 'Quit'
inline constexpr int32_t kTROVDMessage_ProcessFile = 0x7046696C;           // 'pFil'
inline constexpr int32_t kTROVDMessage_RequestTelemetry = 0x72546C6D;      // 'rTlm'
inline constexpr int32_t kTROVDMessage_SetMenuVisible = 0x734D5576;        // 'sMUv'
inline constexpr int32_t kTROVDMessage_SetSilenceParameters = 0x73536354;  // 'sScT'
inline constexpr int32_t kTROVDMessage_SetRecordingTimeLimit = 0x7352744C; // 'sRtL'
inline constexpr int32_t kTROVDMessage_StopSystemCapture = 0x73705343;     // 'spSC'
inline constexpr int32_t kTROVDMessage_StartSystemCapture = 0x73745343;    // 'stSC'
// The reply to 'rTlm'.
inline constexpr int32_t kTROVDMessage_Telemetry = 0x54656C6D;             // 'Telm'

// Keys of requests and replies.
inline constexpr char kTROVDMessageIDKey[] = "msgID";
inline constexpr char kTROVDPathKey[] = "path";
inline constexpr char kTROVDVisibleKey[] = "visible";
inline constexpr char kTROVDSilenceThresholdKey[] = "SilenceThreshold";
inline constexpr char kTROVDLengthOfSilenceKey[] = "LengthOfSilence";
inline constexpr char kTROVDTimeoutKey[] = "timeout";
inline constexpr char kTROVDCaptureKey[] = "cap";
inline constexpr char kTROVDStateKey[] = "state";
inline constexpr char kTROVDStartTimeKey[] = "stime";
inline constexpr char kTROVDCurrentTrackKey[] = "current_track";
inline constexpr char kTROVDTotalTracksKey[] = "total_tracks";

// The agent's states, as the telemetry reports them.
inline constexpr int32_t kAgentStateIdle = 1;
inline constexpr int32_t kAgentStateCapturing = 2;
inline constexpr int32_t kAgentStateProcessing = 3;
