#include "agent/ITunesHandOff.h"

#include <gtest/gtest.h>

#include <glib.h>
#include <taglib/mp4file.h>
#include <taglib/tpropertymap.h>

#include "../platform/TemporaryDirectory.h"
#include "library/ProgramRunner.h"
#include "segmentation/AudioSegmentNode.h"
#include "segmentation/AudioSegmentTree.h"
#include "segmentation/AudioSlice.h"
#include "support/PreferenceKeys.h"
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

TEST(ITunesHandOffScript, NulBytesInAValueAreDropped) {
    EXPECT_EQ(scriptLines({{}, {}, {}, std::string("a\0b\0", 4), {}}).at(15), "set name of trovConvertedTrack to \"ab\"");
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

// Without osascript the library deliverer files tracks and slices, in the
// encoder the preferences choose. With it (a stand-in that keeps the script it
// reads and answers with the given status) the script alone takes the track.
TEST(ITunesHandOffRun, OsascriptWhereItExistsElseTheLibraryDeliverer) {
    if (std::unique_ptr<gchar, decltype(&g_free)>(g_find_program_in_path("osascript"), g_free)) GTEST_SKIP();
    TemporaryDirectory dir;
    ScopedEnvironment home("HOME", dir.path().c_str()), config("XDG_CONFIG_HOME", dir.path().c_str());
    platform::UserDefaults defaults("org.trovario.test", dir.path());
    ASSERT_TRUE(defaults.setObject(ZORAutoCaptureITunesFormatKey, platform::PropertyList::integer(2)));
    for (const char* name : {"T.m4a", "S.m4a"})
        ASSERT_TRUE(ProgramRunner::run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=2", dir / name}, 0));
    auto track = TROVTrack::initWithNum(1, "Song");
    track->setArtistName("Artist");
    track->setTrackNumber(2);
    auto tree = AudioSegmentTree::create();
    auto slice = AudioSlice::audioSliceWithTree(tree, AudioSegmentNode::silenceSegmentNodeFrom(0, 1),
                                                AudioSegmentNode::silenceSegmentNodeFrom(9, 10));
    slice->setTitle("Slice");
    slice->setAlbumArtistName("Band");
    slice->setYear(1999);
    ITunesHandOff handOff(defaults);
    const std::pair<platform::Result<std::string>, std::string> cases[] = {
        {handOff.addTrackToITunesWithFile(dir / "T.m4a", *track), "ARTIST=Artist\nTITLE=Song\nTRACKNUMBER=2\n"},
        {handOff.addSliceToITunesWithFile(dir / "S.m4a", *slice), "ALBUMARTIST=Band\nDATE=1999\nTITLE=Slice\n"}};
    for (const auto& [delivered, tags] : cases) {
        ASSERT_TRUE(delivered.ok()) << delivered.message();
        TagLib::MP4::File file(delivered->c_str());
        EXPECT_EQ(file.audioProperties()->codec(), TagLib::MP4::Properties::ALAC);
        EXPECT_EQ(file.properties().toString(), tags);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "T.m4a") || std::filesystem::exists(dir / "S.m4a"));
    ScopedEnvironment path("PATH", (dir.path() + ":" + getenv("PATH")).c_str());
    for (int status : {1, 0}) {
        TemporaryDirectory::write(dir / "osascript", "#!/bin/sh\ncat > \"$0.in\"\nexit " + std::to_string(status));
        std::filesystem::permissions(dir / "osascript", std::filesystem::perms::owner_all);
        TemporaryDirectory::write(dir / "T.m4a", "audio");
        EXPECT_EQ(bool(handOff.addTrackToITunesWithFile(dir / "T.m4a", *track)), status == 0);
        EXPECT_EQ(std::filesystem::exists(dir / "T.m4a"), status != 0);
        EXPECT_EQ(TemporaryDirectory::read(dir / "osascript.in"),
                  ITunesHandOff::scriptText(dir / "T.m4a", {{}, "Artist", {}, "Song", {}}, 2, 0));
    }
    EXPECT_EQ(TemporaryDirectory::read(dir / "Music/Playlists/Trovario.m3u8"),
              "#EXTM3U\n#EXTINF:2,Artist - Song\n../Artist/Unknown Album/02 Song.m4a\n"
              "#EXTINF:2,Band - Slice\n../Band/Unknown Album/Slice.m4a\n");
}
