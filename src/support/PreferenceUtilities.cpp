#include "support/PreferenceUtilities.h"

#include "platform/Paths.h"
#include "support/PreferenceKeys.h"

#include <mutex>
#include <sys/stat.h>

using platform::PropertyList;

namespace {

PropertyList integerList(std::initializer_list<int64_t> values) {
    PropertyList list = PropertyList::array();
    for (int64_t value : values) list.append(PropertyList::integer(value));
    return list;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return !path.empty() && stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string PreferenceUtilities::defaultScratchDirectory() {
    return platform::standardizePath("~/Library/Application Support/Trovario/Scratch/");
}

PropertyList PreferenceUtilities::archivedCalibratedRGBColor(double red, double green, double blue, double alpha) {
    PropertyList colour = PropertyList::dictionary();
    colour.set("class", PropertyList::string("NSColor"));
    colour.set("colorSpace", PropertyList::string("calibratedRGB"));
    colour.set("red", PropertyList::real(red));
    colour.set("green", PropertyList::real(green));
    colour.set("blue", PropertyList::real(blue));
    colour.set("alpha", PropertyList::real(alpha));
    const std::string xml = colour.toXml();
    return PropertyList::data(std::vector<uint8_t>(xml.begin(), xml.end()));
}

PropertyList PreferenceUtilities::defaultPreferences() {
    using P = PropertyList;
    PropertyList d = P::dictionary();
    d.set(ZORWindowColorKey, archivedCalibratedRGBColor(0.898, 0.898, 0.945, 0.9));
    d.set(ZORWindowUIKey, P::integer(1));
    d.set(ZORUseTrackColorsInWaveformKey, P::boolean(true));
    d.set(ZORUseTrackColorsForTableTextKey, P::boolean(false));
    d.set(ZORUseTrackColorsForTableSelectionKey, P::boolean(false));
    d.set(ZORDefaultScratchDirectoryKey, P::string(defaultScratchDirectory()));
    d.set(ZORTROVStartupUIBehaviorKey, P::integer(0));
    d.set(ZORTROVShowMenuExtraKey, P::boolean(false));
    d.set(ZORShouldTrackPlayheadInWaveform, P::boolean(false));
    d.set(ZORWaveformKeyBindingsKey, P::integer(0));
    d.set(ZORLoopFilePlaybackKey, P::boolean(false));
    d.set(ZORLoopTrackPlaybackKey, P::boolean(false));
    d.set(ZORLoopMultiTrackPlaybackKey, P::boolean(false));
    d.set(ZORWaveformConstrainsScalingToImageCacheKey, P::boolean(true));
    d.set(ZORTableViewIsDisclosedKey, P::boolean(true));
    d.set(ZORMiniWaveViewIsDisclosedKey, P::boolean(true));
    d.set(ZORTrackDefineModeKey, P::integer(0));
    d.set(ZORWaveformSizeToFitKey, P::boolean(false));
    d.set(ZORApplicationVolumeKey, P::real(0.8));
    d.set(ZORSendToKilnButtonActionKey, P::integer(0));
    d.set(ZORSendToKilnButtonBehaviorKey, P::integer(1));
    d.set(ZORRecordingStartsInAssistantModeKey, P::boolean(true));
    d.set(ZORSpaceBarTogglePlaybackKey, P::boolean(true));
    d.set(ZORSpaceBarToggleRecordingKey, P::boolean(true));
    d.set(ZORShowPlayModePUBKey, P::boolean(true));
    d.set(ZORAutoDefineDAOptionKey, P::integer(2));
    d.set(ZORNewAutoDefineSensitivityKey, P::real(0.03));
    d.set(ZORAutoDefineMinTrackDurationKey, P::integer(30));
    d.set(ZORAutoDefineMinSilenceLengthKey, P::real(1300.0));
    d.set(ZORAutoDefineAfterRecordingKey, P::boolean(false));
    d.set(ZORSendToiTunesTimeoutKey, P::integer(9000));
    d.set(ZORiTunesPreferredConversionFormatKey, P::integer(0));
    d.set(ZORTROV_FirstRunKey, P::boolean(true));
    d.set(ZORTROV_RecordingFirstRunKey, P::boolean(true));
    d.set(TROVUseTimedRecordingKey, P::boolean(false));
    d.set(TROVUseTimedRecordingCutoffKey, P::integer(900));
    d.set(ZORTimedRecordingPresetValues, integerList({5, 10, 15, 30, 45, 60, 65, 80, 90, 120}));
    d.set(TROVAudioInputPlaythroughKey, P::boolean(false));
    d.set(ZORAutoCaptureITunesFormatKey, P::integer(1));
    d.set(ZORAutoCaptureDurationKey, P::integer(2));
    d.set(ZORAutoCaptureDurationUnitsKey, P::integer(2));
    d.set(TROVDeliveryCommandKey, P::string(""));
    return d;
}

void PreferenceUtilities::registerDefaultPreferences(platform::UserDefaults& defaults) {
    defaults.registerDefaults(defaultPreferences());
    const std::string scratch = defaults.stringForKey(ZORDefaultScratchDirectoryKey);
    if (!pathExists(scratch))
        defaults.setObject(ZORDefaultScratchDirectoryKey, PropertyList::string(defaultScratchDirectory()));
    defaults.setObject(ZORShowPlayModePUBKey, PropertyList::boolean(true));
}

void PreferenceUtilities::registerDefaultPreferences() {
    static std::once_flag registered;
    std::call_once(registered, [] { registerDefaultPreferences(platform::UserDefaults::standard()); });
}
