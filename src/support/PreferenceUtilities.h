#pragma once

#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include <string>

class PreferenceUtilities {
public:
    // Registers the shared defaults with the standard user defaults and makes
    // the two persistent writes. Only the first call in a process does
    // anything; concurrent callers wait for it to finish.
    static void registerDefaultPreferences();

    // The same work on a given defaults object, every time it is called.
    static void registerDefaultPreferences(platform::UserDefaults& defaults);

    // The registered defaults, in registration order.
    static platform::PropertyList defaultPreferences();

    // "~/Library/Application Support/Trovario/Scratch" with the home folder expanded.
    static std::string defaultScratchDirectory();

    // The byte form of an archived calibrated RGB colour: an XML property list
    // of the dictionary {"class": "NSColor", "colorSpace": "calibratedRGB",
    // "red", "green", "blue", "alpha": reals}.
    static platform::PropertyList archivedCalibratedRGBColor(double red, double green, double blue, double alpha);
};
