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
// trovarioctl's own request, which the editor never sends: what the agent is
// doing and what its last processing run delivered. Answered by 'Rprt'.
inline constexpr int32_t kTROVDMessage_RequestReport = 0x72527074;         // 'rRpt'
inline constexpr int32_t kTROVDMessage_Report = 0x52707274;                // 'Rprt'
// trovarioctl's view of the status menu, for users without a tray: 'rMnu'
// answers with "entries", 'cMnu' clicks the entry at index "entry" (from 0).
inline constexpr int32_t kTROVDMessage_RequestMenu = 0x724D6E75;           // 'rMnu'
inline constexpr int32_t kTROVDMessage_ClickMenu = 0x634D6E75;             // 'cMnu'

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

// Added to the replies of the editor's commands, which ignore keys they do
// not know. "error" (string): the command was refused or could not be
// carried out, and why. "run" (SInt32): the number of the processing run
// that 'spSC' or 'pFil' started.
inline constexpr char kTROVDErrorKey[] = "error";
inline constexpr char kTROVDRunKey[] = "run";
// Keys of the report. Silence parameters as "SilenceThreshold" and
// "LengthOfSilence" (Float32, seconds), the ones captures and processing use.
inline constexpr char kTROVDCaptureStateKey[] = "capture";         // SInt32, kCapture... below
inline constexpr char kTROVDCaptureErrorKey[] = "capture_error";   // string: why the last capture failed or was cut short
inline constexpr char kTROVDTimeLimitKey[] = "time_limit";         // Float32 s: the running capture's, else the next one's
inline constexpr char kTROVDMinTrackDurationKey[] = "min_track_duration";  // Float32 s
inline constexpr char kTROVDRunActiveKey[] = "run_active";         // Boolean: run "run" is under way
inline constexpr char kTROVDRunSourceKey[] = "run_source";         // string: the file the run processes
inline constexpr char kTROVDTracksFoundKey[] = "tracks_found";     // SInt32; -1 until the run has defined its tracks
inline constexpr char kTROVDRunErrorKey[] = "run_error";           // string: why the run ended without delivering
inline constexpr char kTROVDDeliveriesKey[] = "deliveries";        // array of dictionaries, one per track handled:
inline constexpr char kTROVDDeliveryTrackKey[] = "track";          //   SInt32, index from 0
inline constexpr char kTROVDDeliveryTitleKey[] = "title";          //   string
inline constexpr char kTROVDDeliveryDoneKey[] = "delivered";       //   Boolean
inline constexpr char kTROVDDeliveryWhereKey[] = "where";          //   string: the delivered file, or where the track stays
inline constexpr char kTROVDDeliveryProblemKey[] = "problem";      //   string, when not delivered
// Keys of the menu: "entries" (array of dictionaries "title" string,
// "enabled" Boolean, "separator" Boolean), "entry" (SInt32).
inline constexpr char kTROVDMenuEntriesKey[] = "entries";
inline constexpr char kTROVDMenuTitleKey[] = "title";
inline constexpr char kTROVDMenuEnabledKey[] = "enabled";
inline constexpr char kTROVDMenuSeparatorKey[] = "separator";
inline constexpr char kTROVDMenuEntryKey[] = "entry";
// Values of kTROVDCaptureStateKey.
inline constexpr int32_t kCaptureIdle = 0;
inline constexpr int32_t kCaptureStarting = 1;   // the recorder is being set up
inline constexpr int32_t kCaptureRecording = 2;
inline constexpr int32_t kCaptureStopping = 3;   // the recording is being completed
// The agent's states, as the telemetry reports them.
inline constexpr int32_t kAgentStateIdle = 1;
inline constexpr int32_t kAgentStateCapturing = 2;
inline constexpr int32_t kAgentStateProcessing = 3;
