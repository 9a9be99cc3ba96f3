#include "library/MusicLibraryDeliverer.h"

#include <gtest/gtest.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include <algorithm>

#include "CommandOutput.h"
#include "TemporaryDirectory.h"
#include "library/ProgramRunner.h"
#include "library/TrackTagger.h"
#include "library/TrovarioPlaylist.h"

namespace {

const ZORAudioTrackInfo::Image kCover{0x89, 'P', 'N', 'G', 13, 10, 26, 10, 1, 2, 3};

std::string coverOf(const std::string& path) {
    if (path.ends_with(".mp3")) {
        TagLib::MPEG::File file(path.c_str());
        auto frames = file.ID3v2Tag()->frameListMap()["APIC"];
        if (frames.isEmpty()) return "";
        auto picture = static_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front())->picture();
        return std::string(picture.data(), picture.size());
    }
    TagLib::MP4::File file(path.c_str());
    auto covers = file.tag()->item("covr").toCoverArtList();
    return covers.isEmpty() ? "" : std::string(covers.front().data().data(), covers.front().data().size());
}

struct DelivererTest : ::testing::Test {
    TemporaryDirectory mDir;
    std::string mMusic = mDir / "Music";

    DeliveryRequest request(const std::string& title, DeliveryRequest::Encoder encoder = DeliveryRequest::kAAC,
                            const std::string& audio = "sine=duration=3 -ac 2 -c:a aac", const char* suffix = ".m4a") {
        DeliveryRequest r;
        r.mExportedFile = mDir / std::to_string(std::hash<std::string>()(title)) + suffix;
        commandOutput("ffmpeg -v error -f lavfi -i " + audio + " '" + r.mExportedFile + "'");
        r.mEncoder = encoder;
        r.mTrackInfo.setTrackTitle(title);
        r.mTrackInfo.setTrackArtistName("Artist");
        r.mTrackInfo.setAlbumTitle("Album");
        r.mTrackInfo.setTrackNumber(3);
        r.mTrackInfo.setNumberOfTracks(12);
        return r;
    }
    std::string playlist() { return TemporaryDirectory::read(mMusic + "/Playlists/Trovario.m3u8"); }
};

}  // namespace

TEST_F(DelivererTest, EachEncoderGivesItsCodecWithEveryTagAndTheCover) {
    const std::pair<DeliveryRequest::Encoder, std::string> cases[] = {{DeliveryRequest::kAAC, "aac"},
                                                                      {DeliveryRequest::kAppleLossless, "alac"},
                                                                      {DeliveryRequest::Encoder(0), "mp3"}};
    for (const auto& [encoder, codec] : cases) {
        DeliveryRequest r = request("Song " + codec, encoder);
        for (auto [set, value] : {std::pair{&ZORAudioTrackInfo::setAlbumArtistName, "Band"},
                                  {&ZORAudioTrackInfo::setTrackComposerName, "Composer"},
                                  {&ZORAudioTrackInfo::setGenre, "Jazz"},
                                  {&ZORAudioTrackInfo::setComments, ""},
                                  {&ZORAudioTrackInfo::setAlbumYear, "1999"}})
            (r.mTrackInfo.*set)(value);
        r.mTrackInfo.setAlbumNumber(1);
        r.mTrackInfo.setNumberOfAlbums(2);
        r.mTrackInfo.setIsCompilation(true);
        r.mTrackInfo.setCoverArt(std::make_shared<ZORAudioTrackInfo::Image>(kCover));
        auto delivered = MusicLibraryDeliverer::deliver(r, mMusic);
        ASSERT_TRUE(delivered.ok()) << delivered.message();
        EXPECT_EQ(*delivered, mMusic + "/Band/Album/03 Song " + codec + (codec == "mp3" ? ".mp3" : ".m4a"));
        EXPECT_EQ(commandOutput("ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 '" +
                                *delivered + "'"),
                  codec + "\n");
        TagLib::PropertyMap tags = TagLib::FileRef(delivered->c_str()).file()->properties();
        std::string values;
        for (const char* key : {"TITLE", "ARTIST", "ALBUM", "ALBUMARTIST", "COMPOSER", "GENRE", "COMMENT", "DATE",
                                "TRACKNUMBER", "DISCNUMBER", "COMPILATION"})
            values += (tags.contains(key) ? tags[key].toString().to8Bit(true) : "(absent)") + "|";
        EXPECT_EQ(values, "Song " + codec + "|Artist|Album|Band|Composer|Jazz||1999|3/12|1/2|1|");
        EXPECT_EQ(coverOf(*delivered), std::string(kCover.begin(), kCover.end())) << codec;
        EXPECT_NE(access(r.mExportedFile.c_str(), F_OK), 0) << "export deleted after success";
    }
}

// Packet for packet the export's audio, with the track's tags only (not the
// export's cover and comment); new folders as the umask allows.
TEST_F(DelivererTest, AacExportIsCopiedAsItIsWithTheTracksTagsOnly) {
    umask(002);
    DeliveryRequest r = request("Plain");
    ZORAudioTrackInfo exportTags;
    exportTags.setComments("the export's");
    exportTags.setCoverArt(std::make_shared<ZORAudioTrackInfo::Image>(kCover));
    ASSERT_TRUE(TrackTagger::tag(r.mExportedFile, exportTags).ok());
    const auto packets = [](const std::string& path) {
        return commandOutput("ffmpeg -v error -i '" + path + "' -map 0:a -c copy -f md5 -");
    };
    const std::string exported = packets(r.mExportedFile);
    auto delivered = MusicLibraryDeliverer::deliver(r, mMusic);
    ASSERT_TRUE(delivered.ok()) << delivered.message();
    EXPECT_EQ(packets(*delivered), exported);
    TagLib::MP4::File file(delivered->c_str());
    EXPECT_EQ(file.properties().toString(), "ALBUM=Album\nARTIST=Artist\nTITLE=Plain\nTRACKNUMBER=3/12\n");
    EXPECT_EQ(file.tag()->itemMap().size(), 4u) << "no cover, no encoder name";
    for (const char* folder : {"/Artist/Album", "/Playlists"})
        EXPECT_EQ(std::filesystem::status(mMusic + folder).permissions(), std::filesystem::perms(0775)) << folder;
}

// A non-AAC export is encoded. The delivery fails, keeping the export and
// naming it, when the encoding overruns its time-out or the album folder
// cannot be written.
TEST_F(DelivererTest, EncodingWithinTheTimeOutIntoAWritableFolderOnly) {
    const std::string album = mMusic + "/Artist/Album";
    for (const auto& [title, seconds, timeout] : {std::tuple{"Short", 3, 0}, {"Long", 120, 1}, {"Unwritable", 3, 0}}) {
        DeliveryRequest r =
            request(title, DeliveryRequest::kAAC, "sine=d=" + std::to_string(seconds) + " -ac 2", ".flac");
        r.mTimeoutSeconds = timeout;
        if (title == std::string("Unwritable") && (chmod(album.c_str(), 0500) || access(album.c_str(), W_OK) == 0))
            GTEST_SKIP() << "this user writes into any folder";
        auto delivered = MusicLibraryDeliverer::deliver(r, mMusic);
        EXPECT_EQ(delivered.ok(), title == std::string("Short")) << title;
        using Properties = TagLib::MP4::Properties;
        EXPECT_TRUE(delivered ? TagLib::MP4::File(delivered->c_str()).audioProperties()->codec() == Properties::AAC
                              : delivered.message().find(r.mExportedFile) != std::string::npos) << title;
        EXPECT_EQ(access(r.mExportedFile.c_str(), F_OK) == 0, !delivered) << title;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(album), {}), 1) << "nothing left of " << title;
        EXPECT_EQ(playlist(), "#EXTM3U\n#EXTINF:3,Artist - Short\n../Artist/Album/03 Short.m4a\n") << title;
    }
    chmod(album.c_str(), 0755);
}

TEST_F(DelivererTest, ClashesAndUnsafeTitlesStayInsideTheLibraryAndOverwriteNothing) {
    TemporaryDirectory::write(mMusic + "/Artist/Album/03 Same.m4a", "the user's file");
    std::string longest;  // 2 bytes a character: the name is cut, then again for its clash number
    for (int i = 0; i < 200; ++i) longest += "é";
    using namespace std::literals;
    for (const std::string& title : {"Same"s, "Same"s, "../../x/.."s, ".hidden\nline"s, longest, longest})
        ASSERT_TRUE(MusicLibraryDeliverer::deliver(request(title), mMusic).ok()) << title;
    EXPECT_EQ(TemporaryDirectory::read(mMusic + "/Artist/Album/03 Same.m4a"), "the user's file");
    for (const std::string& name : {"03 Same 2.m4a"s, "03 ..-..-x-...m4a"s, "03 .hidden line.m4a"s,
                                    "03 " + longest.substr(0, 248) + ".m4a", "03 " + longest.substr(0, 246) + " 2.m4a"})
        EXPECT_EQ(access((mMusic + "/Artist/Album/" + name).c_str(), F_OK), 0) << name;
    unlink((mMusic + "/Artist/Album/03 Same 3.m4a").c_str());
    ASSERT_TRUE(MusicLibraryDeliverer::deliver(request("Same"), mMusic).ok()) << "filed as Same 3 once more";
    const std::string list = playlist();
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 1 + 2 * 6) << list;
}

TEST_F(DelivererTest, APlaylistWithCrLfLineEndsGetsNoSecondEntry) {
    const std::string crlf = "#EXTM3U\r\n#EXTINF:3,B\r\n../A/b.m4a\r\n";
    ASSERT_TRUE(TrovarioPlaylist::add(mMusic, "A/b.m4a", 3, "B").ok());
    TemporaryDirectory::write(TrovarioPlaylist::path(mMusic), crlf);
    ASSERT_TRUE(TrovarioPlaylist::add(mMusic, "A/b.m4a", 3, "B").ok());
    EXPECT_EQ(playlist(), crlf);
}

TEST_F(DelivererTest, PlaylistAndDeliveryCommandAfterThreeDeliveries) {
    for (const char* title : {"One", "Two", "Three"}) {
        DeliveryRequest r = request(title);
        r.mDeliveryCommand = "sh -c 'echo \"$0\" >> " + mDir / "ran" + "'";
        ASSERT_TRUE(MusicLibraryDeliverer::deliver(r, mMusic).ok());
    }
    EXPECT_EQ(playlist(),
              "#EXTM3U\n#EXTINF:3,Artist - One\n../Artist/Album/03 One.m4a\n"
              "#EXTINF:3,Artist - Two\n../Artist/Album/03 Two.m4a\n"
              "#EXTINF:3,Artist - Three\n../Artist/Album/03 Three.m4a\n");
    const std::string album = mMusic + "/Artist/Album/03 ";
    EXPECT_EQ(TemporaryDirectory::read(mDir / "ran"),
              album + "One.m4a\n" + album + "Two.m4a\n" + album + "Three.m4a\n");
}

// Input larger than any pipe buffer: echoed to standard error while it is
// written, or not read at all (no SIGPIPE may reach this process). The
// deliverer's tests stop a program at its time-out.
TEST(ProgramRunnerTest, InputIsFedWhileStandardErrorIsRead) {
    const std::string input(1 << 20, 'x');
    EXPECT_TRUE(ProgramRunner::run({"sh", "-c", "cat >&2"}, 5, input).ok());
    EXPECT_TRUE(ProgramRunner::run({"true"}, 5, input).ok());
}
