// The music player's script and the export's file name built from any
// metadata a track may carry. The script must keep its shape: one line per
// statement, every value inside its own string literal. The file name must
// stay a plain name inside the library folder.

#include <fuzzer/FuzzedDataProvider.h>

#include <filesystem>
#include <vector>

#include "agent/ITunesHandOff.h"
#include "agent/TrackExporter.h"
#include "fuzz/FuzzSupport.h"
#include "platform/Paths.h"

namespace {

constexpr size_t kFixedLines = 19;  // every line but the conditional value lines

ITunesHandOff::Text text(FuzzedDataProvider& input) {
    if (!input.ConsumeBool()) return std::nullopt;
    return input.ConsumeRandomLengthString(300);
}

std::vector<std::string> linesOf(const std::string& script) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = script.find('\r', start)) != std::string::npos; start = end + 1)
        lines.push_back(script.substr(start, end - start));
    lines.push_back(script.substr(start));
    return lines;
}

// Whether every string literal on the line is closed, escapes included.
bool literalsClosed(const std::string& line) {
    bool inside = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (inside && line[i] == '\\') ++i;
        else if (line[i] == '"') inside = !inside;
    }
    return !inside;
}

void checkScript(const std::string& script, const ITunesHandOff::ScriptValues& values) {
    const size_t valueLines = size_t(values.mAlbum.has_value()) + 2 * size_t(values.mArtist || values.mAlbumArtist) +
                              size_t(values.mName.has_value()) + size_t(values.mGenre.has_value());
    const std::vector<std::string> lines = linesOf(script);
    if (lines.size() != kFixedLines + valueLines) fuzz::violation("the script has another number of lines");
    if (script.find('\n') != std::string::npos || script.find('\0') != std::string::npos)
        fuzz::violation("the script holds a line feed or a NUL");
    for (const std::string& line : lines)
        if (!literalsClosed(line)) fuzz::violation("a value ends its string literal");
    if (lines.front() != "on run" || lines.back() != "end run") fuzz::violation("the script lost its frame");
}

void checkExportPath(const std::string& name) {
    const std::filesystem::path path = TrackExporter::exportPathFor(name);
    const std::string file = path.filename().string();
    if (path.parent_path() != platform::exportFolder()) fuzz::violation("the export is outside the library folder");
    if (file.size() > 255 || file.front() == '.' || path.extension() != ".m4a")
        fuzz::violation("the export's name is no plain .m4a name");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::scratchHome();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    ITunesHandOff::ScriptValues values{text(input), text(input), text(input), text(input), text(input)};
    const int64_t encoder = input.ConsumeIntegral<int64_t>();
    const int64_t timeout = input.ConsumeIntegral<int64_t>();
    const std::string name = input.ConsumeRemainingBytesAsString();
    checkExportPath(name);
    checkScript(ITunesHandOff::scriptText(TrackExporter::exportPathFor(name), values, encoder, timeout), values);
    return 0;
}
