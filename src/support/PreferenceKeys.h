#pragma once

// Preference keys shared by the agent and its editor. Each constant's text is
// its own name, except the three retired colour keys, whose stored text ends
// in "-Obsolete".
extern const char ZORWindowColorKey[];
extern const char ZORWindowUIKey[];
extern const char ZORUseTrackColorsInWaveformKey[];
extern const char ZORUseTrackColorsForTableTextKey[];
extern const char ZORUseTrackColorsForTableSelectionKey[];
extern const char ZORDefaultScratchDirectoryKey[];
extern const char ZORTROVStartupUIBehaviorKey[];
extern const char ZORTROVShowMenuExtraKey[];
extern const char ZORShouldTrackPlayheadInWaveform[];
extern const char ZORWaveformKeyBindingsKey[];
extern const char ZORLoopFilePlaybackKey[];
extern const char ZORLoopTrackPlaybackKey[];
extern const char ZORLoopMultiTrackPlaybackKey[];
extern const char ZORWaveformConstrainsScalingToImageCacheKey[];
extern const char ZORTableViewIsDisclosedKey[];
extern const char ZORMiniWaveViewIsDisclosedKey[];
extern const char ZORTrackDefineModeKey[];
extern const char ZORWaveformSizeToFitKey[];
extern const char ZORApplicationVolumeKey[];
extern const char ZORSendToKilnButtonActionKey[];
extern const char ZORSendToKilnButtonBehaviorKey[];
extern const char ZORRecordingStartsInAssistantModeKey[];
extern const char ZORSpaceBarTogglePlaybackKey[];
extern const char ZORSpaceBarToggleRecordingKey[];
extern const char ZORShowPlayModePUBKey[];
extern const char ZORAutoDefineDAOptionKey[];
extern const char ZORNewAutoDefineSensitivityKey[];    // silence threshold (amplitude)
extern const char ZORAutoDefineMinTrackDurationKey[];  // shortest track, seconds
extern const char ZORAutoDefineMinSilenceLengthKey[];  // shortest silence, milliseconds
extern const char ZORAutoDefineAfterRecordingKey[];
extern const char ZORSendToiTunesTimeoutKey[];
extern const char ZORiTunesPreferredConversionFormatKey[];
extern const char ZORTROV_FirstRunKey[];
extern const char ZORTROV_RecordingFirstRunKey[];
extern const char TROVUseTimedRecordingKey[];
extern const char TROVUseTimedRecordingCutoffKey[];
extern const char ZORTimedRecordingPresetValues[];
extern const char TROVAudioInputPlaythroughKey[];
extern const char ZORAutoCaptureITunesFormatKey[];
extern const char ZORAutoCaptureDurationKey[];       // count of units of the capture time limit
extern const char ZORAutoCaptureDurationUnitsKey[];  // unit code of that count (2 is hours)

// Desktop-entry identifier of the audio editor the agent launches and hands
// files to; unset means org.trovario.Trovario.
extern const char TROVEditorIdentifierKey[];

// A command run after each delivery into the music library, with the
// delivered file as its last argument, without a shell; "" for none.
extern const char TROVDeliveryCommandKey[];
