#include "agent/ITunesHandOff.h"

#include <gtest/gtest.h>

#include "../platform/TemporaryDirectory.h"
#include "tracks/TROVTrack.h"

static std::vector<std::string> scriptLines(const ITunesHandOff::ScriptValues& values, int64_t encoder = 1) {
    std::vector<std::string> lines(1);
    for (char c : ITunesHandOff::scriptText("/f", values, encoder, 0))
        c == '\r' ? void(lines.emplace_back()) : lines.back().push_back(c);
    return lines;
}

// Quotes, backslashes and line breaks in values cannot end a string or a line.
TEST(ITunesHandOffScript, TextOfAFullTrackWithEveryValueEscaped) {
    EXPECT_EQ(ITunesHandOff::scriptText("/m/\"T.m4a", {"Al", "Ar", "AA", "a\"b\\c\nd\re", "Ge"}, 1, 9000),
              "on run\rtell application \"iTunes\"\rset theFile to posix file \"/m/\\\"T.m4a\" as alias\rset preferredEncoder "
              "to current encoder\rwith timeout of 9000 seconds\rset current encoder to encoder named \"AAC Encoder\"\r"
              "set convertedTrackList to (convert theFile)\rend timeout\rset current encoder to preferredEncoder\rtry\r"
              "set trovPlayList to (user playlist \"Trovario\")\ron error\rset trovPlayList to (make new user playlist "
              "with properties {name:\"Trovario\"})\rend try\rrepeat with trovConvertedTrack in convertedTrackList\r"
              "set album of trovConvertedTrack to \"Al\"\rset artist of trovConvertedTrack to \"Ar\"\rset album artist of "
              "trovConvertedTrack to \"AA\"\rset name of trovConvertedTrack to \"a\\\"b\\\\c\\nd\\re\"\r"
              "set genre of trovConvertedTrack to \"Ge\"\rduplicate trovConvertedTrack to trovPlayList\rend repeat\rend tell\rend run");
}

TEST(ITunesHandOffScript, EncoderChoicesAndTheNineteenLinesOfATrackWithoutValues) {
    for (auto [choice, name] : {std::pair{0, "MP3"}, {1, "AAC"}, {2, "Lossless"}, {3, "MP3"}})
        EXPECT_EQ(scriptLines({}, choice)[5], std::string("set current encoder to encoder named \"") + name + " Encoder\"");
    EXPECT_EQ(scriptLines({}).size(), 19u);
}

// Lines 17 and 18 as their two values; an empty value still gives its line.
TEST(ITunesHandOffScript, ArtistAndAlbumArtistStandInForEachOther) {
    using T = ITunesHandOff::Text;
    for (auto [artist, albumArtist, values] : {std::tuple{T("A"), T(), R"("A""A")"}, {T(), T("B"), R"("B""B")"},
                                               {T("A"), T("B"), R"("A""B")"}, {T(""), T(), R"("""")"}}) {
        const auto lines = scriptLines({{}, artist, albumArtist, {}, {}});
        EXPECT_EQ(lines.at(15).substr(36) + lines.at(16).substr(42), values);
    }
}

// osascript cannot run here: a stand-in on the PATH keeps the script it reads
// and answers with the given status. The library deliverer must not be used.
TEST(ITunesHandOffRun, OsascriptSuccessDeletesTheExportAndFailureKeepsIt) {
    TemporaryDirectory dir;
    platform::UserDefaults defaults("org.trovario.test", dir.path());
    ITunesHandOff handOff(defaults, [](const DeliveryRequest&) { return platform::Result(std::string("/unused")); });
    setenv("PATH", (dir.path() + ":" + getenv("PATH")).c_str(), 1);
    for (int status : {1, 0}) {
        TemporaryDirectory::write(dir / "osascript", "#!/bin/sh\ncat > \"$0.in\"\nexit " + std::to_string(status));
        std::filesystem::permissions(dir / "osascript", std::filesystem::perms::owner_all);
        TemporaryDirectory::write(dir / "T.m4a", "audio");
        EXPECT_EQ(bool(handOff.addTrackToITunesWithFile(dir / "T.m4a", *TROVTrack::initWithNum(1, "Song"))), status == 0);
        EXPECT_EQ(std::filesystem::exists(dir / "T.m4a"), status != 0);
        EXPECT_EQ(TemporaryDirectory::read(dir / "osascript.in"),
                  ITunesHandOff::scriptText(dir / "T.m4a", {{}, {}, {}, "Song", {}}, 0, 0));
    }
}
