// The tag reader and trovario-catalog on generated music that FFmpeg encodes
// and tags: what the tool catalogues, skips, refuses and identifies.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CommandOutput.h"
#include "TemporaryDirectory.h"
#include "frameworks/identification/TagReader.h"
#include "identification/MusicLikePieces.h"

namespace {

struct Outcome {
    int exitCode = -1;
    std::string out, err;
};

const std::string kTags =
    "-metadata title='First Light' -metadata artist=Ada -metadata album=Dawn -metadata album_artist=Various "
    "-metadata composer=Bea -metadata genre=Ambient -metadata comment=calm -metadata date=1999 "
    "-metadata track=3/12 -metadata disc=1/2 -metadata compilation=1";

class CatalogTool : public testing::Test {
protected:
    // The tool, with the catalog in the test's folder.
    Outcome run(const std::string& arguments) {
        Outcome outcome;
        outcome.out = commandOutput("XDG_DATA_HOME='" + dir.path() + "' " TROV_CATALOG " " + arguments + " 2>'" +
                                        dir / "err" + "'", &outcome.exitCode);
        outcome.err = TemporaryDirectory::read(dir / "err");
        return outcome;
    }

    // The piece of `seed`, `seconds` long, from `from` on, encoded by FFmpeg with `options`.
    void encode(uint32_t seed, double seconds, double from, const std::string& path, const std::string& options) {
        const std::string source = dir / "source.caf";
        std::filesystem::remove(source);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_EQ(musiclike::write(source, musiclike::excerpt(musiclike::piece(seed, seconds), from)), 0);
        int exitCode = -1;
        commandOutput("ffmpeg -v error -y -i '" + source + "' " + options + " '" + path + "'", &exitCode);
        ASSERT_EQ(exitCode, 0) << path;
    }

    TemporaryDirectory dir;
};

TEST_F(CatalogTool, TagReaderReadsEveryFieldAndTheFrontCover) {
    int exitCode = -1;
    commandOutput("ffmpeg -v error -f lavfi -i color=c=red:s=16x16 -frames:v 1 '" + dir / "cover.png" + "'", &exitCode);
    ASSERT_EQ(exitCode, 0);
    const std::string withCover = "-i '" + dir / "cover.png" + "' -map 0:a -map 1 -c:v copy -disposition:v attached_pic "
                                  "-metadata:s:v comment='Cover (front)' " + kTags;
    for (const std::string name : {"tagged.mp3", "tagged.m4a", "tagged.flac", "tagged.ogg"}) {
        const bool cover = name != "tagged.ogg";  // FFmpeg puts no pictures into Ogg
        encode(1, 3, 0, dir / name, cover ? withCover : kTags);
        auto tags = TagReader::read(dir / name);
        ASSERT_TRUE(tags) << tags.message();
        EXPECT_EQ(std::make_tuple(tags->mTitle, tags->mArtist, tags->mAlbum, tags->mAlbumArtist, tags->mComposer,
                                  tags->mGenre, tags->mComments),
                  std::make_tuple("First Light", "Ada", "Dawn", "Various", "Bea", "Ambient", "calm")) << name;
        EXPECT_EQ(std::make_tuple(tags->mYear, tags->mTrackNumber, tags->mTrackCount, tags->mDiscNumber,
                                  tags->mDiscCount, tags->mCompilation),
                  std::make_tuple(1999, 3, 12, 1, 2, true)) << name;
        EXPECT_EQ(std::make_tuple(tags->mCoverMimeType, tags->mCoverArt.size() > 8),
                  std::make_tuple(std::string(cover ? "image/png" : ""), cover)) << name;
    }
    TemporaryDirectory::write(dir / "noise.xyz", std::string(4096, 'x'));
    EXPECT_FALSE(TagReader::read(dir / "noise.xyz"));
    EXPECT_FALSE(TagReader::read(dir / "missing.flac"));
}

TEST_F(CatalogTool, AddsSkipsRefusesPrunesAndIdentifies) {
    const std::string music = dir / "music";
    encode(11, 40, 0, music + "/a.mp3", kTags);
    encode(12, 40, 0, music + "/sub/b.m4a", "-metadata title=Second");
    encode(13, 40, 0, music + "/sub/c.flac", "-metadata title=Third -metadata artist=Cy");
    TemporaryDirectory::write(music + "/broken.mp3", std::string(50000, 'x'));
    TemporaryDirectory::write(music + "/notes.txt", "not audio, not picked up");

    Outcome first = run("add '" + music + "'");
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_NE(first.out.find("added 3, skipped 0 (unchanged), refused 1"), std::string::npos) << first.out;
    const size_t refused = first.out.find("refused: ");
    EXPECT_LT(first.out.find(music + "/broken.mp3"), first.out.find('\n', refused)) << first.out;

    std::filesystem::remove(music + "/broken.mp3");
    Outcome again = run("add '" + music + "'");
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("added 0, skipped 3"), std::string::npos) << again.out;

    encode(12, 40, 0, music + "/sub/b.m4a", "-metadata title=Renamed");
    Outcome changed = run("add '" + music + "'");
    EXPECT_NE(changed.out.find("added 1, skipped 2"), std::string::npos) << changed.out;

    Outcome listed = run("list --json");
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    for (const std::string& expected : {"\"path\": \"" + music + "/a.mp3\"", std::string("\"albumArtist\": \"Various\""),
                                       std::string("\"trackCount\": 12"), std::string("\"compilation\": true"),
                                       std::string("\"title\": \"Renamed\""), std::string("\"artist\": \"Cy\"")})
        EXPECT_NE(listed.out.find(expected), std::string::npos) << expected << " in " << listed.out;

    encode(13, 40, 6, dir / "excerpt.mp3", "-b:a 128k");
    Outcome named = run("identify --json '" + dir / "excerpt.mp3" + "'");
    EXPECT_EQ(named.exitCode, 0) << named.err;
    EXPECT_NE(named.out.find("\"matches\": [\n  {\"path\": \"" + music + "/sub/c.flac\""), std::string::npos)
        << named.out;

    std::filesystem::remove(music + "/a.mp3");
    EXPECT_EQ(run("prune").exitCode, 0);
    EXPECT_EQ(run("list --json").out.find("a.mp3"), std::string::npos);
}

TEST_F(CatalogTool, UsageErrorsExitTwo) {
    for (const std::string arguments : {"", "add", "remove", "identify", "identify a b", "identify x --start -1",
                                        "identify x --start", "list extra", "list -j", "frobnicate"}) {
        Outcome outcome = run(arguments);
        EXPECT_EQ(std::make_tuple(outcome.exitCode, outcome.out.empty(), outcome.err.empty()),
                  std::make_tuple(2, true, false)) << arguments;
    }
}

}  // namespace
