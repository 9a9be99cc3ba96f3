#include "support/ZORTimeFormatter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <variant>
#include <vector>

#include "platform/Bundle.h"

namespace {

std::string printed(const char* format, int64_t a, int64_t b, int64_t c = 0) {
    char text[96];
    snprintf(text, sizeof text, format, static_cast<long long>(a), static_cast<long long>(b),
             static_cast<long long>(c));
    return text;
}

std::string clock(int64_t hours, int64_t minutes, int64_t seconds, bool forceShowHours) {
    if (forceShowHours) return printed("%.2lld:%.2lld:%.2lld", hours, minutes, seconds);
    if (hours == 0) return printed("%lld:%.2lld", minutes, seconds);
    return printed("%lld:%.2lld:%.2lld", hours, minutes, seconds);
}

using Argument = std::variant<std::string, int64_t>;

// Fills a localized format: "%@" takes a text, "%d" a number, "%%" is a
// percent sign; "%1$@" style positions are honoured. A translation cannot
// make us read arguments that are not there: a missing or mismatched one
// prints nothing.
std::string fill(const std::string& format, const std::vector<Argument>& arguments) {
    std::string text;
    size_t next = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            text += format[i];
            continue;
        }
        size_t j = i + 1;
        if (format[j] == '%') {
            text += '%';
            i = j;
            continue;
        }
        size_t index = next;
        size_t end = j;
        while (end < format.size() && end - j < 2 && std::isdigit(static_cast<unsigned char>(format[end]))) ++end;
        if (end > j && end + 1 < format.size() && format[end] == '$') {
            index = std::stoul(format.substr(j, end - j)) - 1;
            j = end + 1;
        } else {
            ++next;
        }
        const char kind = format[j];
        if (index < arguments.size()) {
            if (kind == '@' && std::holds_alternative<std::string>(arguments[index]))
                text += std::get<std::string>(arguments[index]);
            else if (kind == 'd' && std::holds_alternative<int64_t>(arguments[index]))
                text += std::to_string(std::get<int64_t>(arguments[index]));
        }
        i = j;
    }
    return text;
}

std::string localized(const char* key, const char* defaultText) {
    auto bundle = platform::Bundle::agentBundle();
    return bundle ? bundle->localizedString(key, defaultText) : defaultText;
}

uint32_t wholeUnits(double value) {
    return std::isfinite(value) ? uint32_t(int64_t(std::clamp(value, -4294967295.0, 4294967295.0))) : 0;
}

std::optional<uint32_t> numberValue(const std::any& value) {
    if (const auto* v = std::any_cast<uint32_t>(&value)) return *v;
    if (const auto* v = std::any_cast<int32_t>(&value)) return uint32_t(*v);
    if (const auto* v = std::any_cast<int64_t>(&value)) return uint32_t(*v);
    if (const auto* v = std::any_cast<uint64_t>(&value)) return uint32_t(*v);
    if (const auto* v = std::any_cast<double>(&value)) return wholeUnits(*v);
    if (const auto* v = std::any_cast<float>(&value)) return wholeUnits(*v);
    return std::nullopt;
}

// A scanner over the text: white space is skipped before each item.
class Scanner {
public:
    explicit Scanner(const std::string& text) : mText(text) {}

    bool scanInt(int64_t& value) {
        skipSpace();
        size_t i = mPosition;
        bool negative = false;
        if (i < mText.size() && (mText[i] == '-' || mText[i] == '+')) negative = mText[i++] == '-';
        size_t start = i;
        int64_t number = 0;
        for (; i < mText.size() && std::isdigit(static_cast<unsigned char>(mText[i])); ++i)
            number = std::min<int64_t>(number * 10 + (mText[i] - '0'), int64_t(1) << 40);
        if (i == start) return false;
        mPosition = i;
        number = negative ? -number : number;
        value = std::clamp<int64_t>(number, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
        return true;
    }

    bool scanString(char literal) {
        skipSpace();
        if (mPosition >= mText.size() || mText[mPosition] != literal) return false;
        ++mPosition;
        return true;
    }

private:
    void skipSpace() {
        while (mPosition < mText.size() && std::isspace(static_cast<unsigned char>(mText[mPosition]))) ++mPosition;
    }

    const std::string& mText;
    size_t mPosition = 0;
};

}  // namespace

void ZORTimeFormatter::setUnitsPerSecond(int32_t unitsPerSecond) {
    if (unitsPerSecond > 0) mUnitsPerSecond = unitsPerSecond;
}

std::optional<std::string> ZORTimeFormatter::stringForObjectValue(const std::any& value) const {
    return stringForObjectValue(value, mDisplayPrecision, false);
}

std::optional<std::string> ZORTimeFormatter::stringForObjectValue(const std::any& value, int32_t precision,
                                                                  bool forceShowHours) const {
    std::optional<uint32_t> units = numberValue(value);
    if (!units) return std::nullopt;
    return stringForUInt32Value(*units, precision, forceShowHours);
}

std::string ZORTimeFormatter::stringForUInt32Value(uint32_t value, int32_t precision, bool forceShowHours) const {
    return stringForUInt32Value(value, mUnitsPerSecond, precision, forceShowHours);
}

std::string ZORTimeFormatter::stringForUInt32Value(uint32_t value, int32_t unitsPerSecond, int32_t precision,
                                                   bool forceShowHours) {
    const double seconds = double(value) / double(unitsPerSecond > 0 ? unitsPerSecond : 1);
    // 64-bit whole seconds: below 2 units a second the count outgrows 32 bits.
    int64_t whole = int64_t(seconds);
    // 0.51, not 0.5: 0.495 ms must show as 1.
    int64_t milliseconds = int64_t((seconds - double(whole)) * 1000.0 + 0.51);
    if (milliseconds > 999) {
        whole += 1;
        milliseconds -= 1000;
    }
    std::string text = clock(whole / 3600, whole % 3600 / 60, whole % 60, forceShowHours);
    if (precision == 0) return text;
    if (precision == 1) return text + printed(".%.1lld", milliseconds / 100, 0);
    if (precision == 2) return text + printed(".%.2lld", milliseconds / 10, 0);
    return text + printed(".%.3lld", milliseconds, 0);
}

std::string ZORTimeFormatter::numericStringForUInt32ValueInSeconds(uint32_t seconds, int32_t, bool forceShowHours) {
    return clock(seconds / 3600, seconds % 3600 / 60, seconds % 60, forceShowHours);
}

std::string ZORTimeFormatter::humanizedStringForUInt32ValueInSeconds(uint32_t seconds, int32_t precision) {
    const int64_t hours = seconds / 3600, minutes = seconds % 3600 / 60, rest = seconds % 60;
    std::string hourPart;
    if (hours > 0)
        hourPart = fill("%@, ", {fill(localized("HOURS_STR_WITH_FORMAT_FOR_INT", "%d hours"), {hours})});
    std::string minutesText = fill(localized("MINUTES_STR_WITH_DUAL_FORMATS", "%@%d minutes"), {hourPart, minutes});
    if (precision == -1 && hours > 0) return minutesText;
    return fill(localized("SECONDS_STR_WITH_DUAL_FORMATS", "%@%d seconds"), {fill("%@, ", {minutesText}), rest});
}

bool ZORTimeFormatter::getObjectValue(std::any& object, const std::string& string,
                                      std::string* errorDescription) const {
    Scanner scanner(string);
    int64_t a = 0, b = 0, c = 0, hours = 0, minutes = 0, seconds = 0;
    bool read = scanner.scanInt(a) && scanner.scanString(':') && scanner.scanInt(b);
    if (read && scanner.scanString(':')) {
        read = scanner.scanInt(c);
        hours = a, minutes = b, seconds = c;
    } else if (read && scanner.scanString('.')) {
        minutes = a, seconds = b;
    } else {
        hours = a, minutes = b;
    }
    const int64_t milliseconds = hours * 3600000 + minutes * 60000 + seconds * 1000;
    const int64_t units = milliseconds * mUnitsPerSecond / 1000;
    // A negative time or one beyond the 32-bit count would come back as a wrong number.
    if (!read || units < 0 || units > int64_t(UINT32_MAX)) {
        if (errorDescription) *errorDescription = "Unrecognized time format";
        return false;
    }
    object = uint32_t(units);
    return true;
}
