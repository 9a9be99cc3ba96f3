#include "tracks/TROVTrack.h"

#include <gtest/gtest.h>

#include "platform/Log.h"
#include "tracks/TrackChangedEvent.h"
#include "tracks/ZORStringAdditions.h"

namespace {

struct Recorder : TrackChangeListener {
    std::vector<std::shared_ptr<TrackChangedEvent>> events;
    std::function<void()> onChange;
    void trackChanged(const std::shared_ptr<TrackChangedEvent>& event) override {
        events.push_back(event);
        if (onChange) onChange();
    }
    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& event : events) result.push_back(event->propertyName());
        return result;
    }
};

struct ListenedTrack {
    std::shared_ptr<TROVTrack> track = TROVTrack::initWithNum(7, "Song");
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    ListenedTrack() { track->addTrackChangeListener(recorder); }
    // The track holds its listeners and the kept events hold the track: break the circle.
    ~ListenedTrack() { track->removeTrackChangeListener(recorder); }
};

}  // namespace

TEST(TROVTrack, InitWithNumMakesAnActiveTrackInfoWithTheUntrimmedNameAndNoNumber) {
    auto track = TROVTrack::initWithNum(7, "  Song \n");
    EXPECT_EQ(track->trackName(), "  Song \n");
    EXPECT_TRUE(track->active());
    EXPECT_EQ(track->trackNum(), 0u);
    EXPECT_EQ(track->description(), "  Song \n");
    auto info = std::make_shared<ZORAudioTrackInfo>();
    auto wrapped = TROVTrack::initWithTrackInfo(info);
    EXPECT_EQ(wrapped->trackInfo(), info);
    EXPECT_FALSE(wrapped->active());
}

TEST(TROVTrack, TextSettersTrimAndFireOnlyOnEffectiveChanges) {
    ListenedTrack t;
    t.track->setTrackName("  Blue Monday \n");
    EXPECT_EQ(t.track->trackName(), "Blue Monday");
    ASSERT_EQ(t.recorder->events.size(), 1u);
    EXPECT_EQ(t.recorder->events[0]->propertyName(), "trackName");
    EXPECT_EQ(std::any_cast<std::string>(t.recorder->events[0]->oldValue()), "Song");
    EXPECT_EQ(t.recorder->events[0]->source(), t.track);
    EXPECT_EQ(t.recorder->events[0]->trackGroupIndex(), 0);
    t.track->setTrackName("Blue Monday");
    EXPECT_EQ(t.recorder->events.size(), 1u);

    // An absent stored value always counts as a change; the old value is then empty.
    t.track->setArtistName(std::nullopt);
    t.track->setArtistName("\tNew Order ");
    t.track->setAlbumName("Power, Corruption & Lies");
    t.track->setAlbumArtistName("New Order");
    t.track->setComposerName("Sumner");
    t.track->setGenre(" Synth-pop");
    t.track->setComments("x");
    EXPECT_EQ(t.recorder->names(), (std::vector<std::string>{"trackName", "artistName", "artistName", "albumName",
                                                             "albumArtistName", "composerName", "genre",
                                                             "comments"}));
    EXPECT_FALSE(t.recorder->events[1]->oldValue().has_value());
    EXPECT_FALSE(t.recorder->events[2]->oldValue().has_value());
    EXPECT_EQ(t.track->artistName(), "New Order");
    EXPECT_EQ(t.track->genre(), "Synth-pop");
    t.track->setComments(std::nullopt);
    EXPECT_FALSE(t.track->comments().has_value());
    EXPECT_EQ(std::any_cast<std::string>(t.recorder->events.back()->oldValue()), "x");
}

TEST(TROVTrack, NumberFlagAndImageSettersBoxTheOldValue) {
    ListenedTrack t;
    t.track->setTrackNumber(3);
    t.track->setTrackNumber(5);
    t.track->setTrackNumber(5);
    ASSERT_EQ(t.recorder->events.size(), 2u);
    EXPECT_EQ(t.recorder->events[1]->propertyName(), "trackNumber");
    EXPECT_EQ(std::any_cast<int32_t>(t.recorder->events[1]->oldValue()), 3);
    t.track->setNumberOfTracks(12);
    t.track->setDiscNumber(1);
    t.track->setNumberOfDiscs(2);
    t.track->setCompilation(true);
    t.track->setCompilation(true);
    t.track->setActive(false);
    EXPECT_EQ(t.track->trackInfo()->albumNumber(), 1);
    EXPECT_EQ(t.track->trackInfo()->numberOfAlbums(), 2);
    ASSERT_EQ(t.recorder->events.size(), 7u);
    EXPECT_EQ(t.recorder->names().back(), "active");
    EXPECT_TRUE(std::any_cast<bool>(t.recorder->events.back()->oldValue()));
    EXPECT_EQ(t.recorder->events[5]->propertyName(), "compilation");

    auto art = std::make_shared<const ZORAudioTrackInfo::Image>(ZORAudioTrackInfo::Image{1, 2, 3});
    t.track->setCoverArt(art);
    t.track->setCoverArt(std::make_shared<const ZORAudioTrackInfo::Image>(ZORAudioTrackInfo::Image{1, 2, 3}));
    EXPECT_EQ(t.recorder->events.size(), 8u);
    t.track->setTrackColor(TROVTrack::Color{1, 0, 0, 1});
    t.track->setTrackColor(TROVTrack::Color{1, 0, 0, 1});
    t.track->setTrackColor(std::nullopt);
    ASSERT_EQ(t.recorder->events.size(), 10u);
    EXPECT_EQ(std::any_cast<TROVTrack::Color>(t.recorder->events.back()->oldValue()), (TROVTrack::Color{1, 0, 0, 1}));
}

TEST(TROVTrack, TimeSettersTrackTheLastEditedEdge) {
    ListenedTrack t;
    t.track->setStopTime(1000);
    EXPECT_FALSE(t.track->lastEditWasStartTime());
    t.track->setStartTime(0);
    EXPECT_FALSE(t.track->lastEditWasStartTime());
    EXPECT_EQ(t.recorder->events.size(), 1u);
    t.track->setStartTime(100);
    EXPECT_TRUE(t.track->lastEditWasStartTime());
    t.track->setDuration(500);
    EXPECT_TRUE(t.track->lastEditWasStartTime());
    EXPECT_EQ(t.track->stopTime(), 600);
    t.track->setDuration(500);
    EXPECT_EQ(t.recorder->names(), (std::vector<std::string>{"stopTime", "startTime", "stopTime"}));
    EXPECT_EQ(std::any_cast<uint32_t>(t.recorder->events[2]->oldValue()), 1000u);
    t.track->setStopTime(5000000000LL);
    t.track->setStopTime(1);
    EXPECT_EQ(std::any_cast<uint32_t>(t.recorder->events.back()->oldValue()), uint32_t(5000000000LL));
    EXPECT_FALSE(t.track->lastEditWasStartTime());
}

TEST(TROVTrack, AlbumYearIsStoredAsTextAndFiresNothing) {
    ListenedTrack t;
    EXPECT_EQ(t.track->albumYear(), -1);
    t.track->setAlbumYear(1999);
    EXPECT_EQ(t.track->albumYear(), 1999);
    EXPECT_EQ(t.track->trackInfo()->albumYear(), "1999");
    t.track->setAlbumYear(-1);
    EXPECT_EQ(t.track->albumYear(), -1);
    t.track->trackInfo()->setAlbumYear(std::string("1983 (remaster)"));
    EXPECT_EQ(t.track->albumYear(), 1983);
    EXPECT_TRUE(t.recorder->events.empty());
}

TEST(TROVTrack, AdditionalIDTracksFireOnEveryChangeAndEveryClear) {
    ListenedTrack t;
    t.track->clearAdditionalIDTracks();
    EXPECT_EQ(t.recorder->events.size(), 1u);
    auto candidate = std::make_shared<int>(1);
    t.track->addIDTrack(candidate);
    t.track->addIDTrack(candidate);
    ASSERT_TRUE(t.track->additionalIDTracks().has_value());
    EXPECT_EQ(t.track->additionalIDTracks()->size(), 1u);
    EXPECT_EQ(t.recorder->events.size(), 2u);
    t.track->setAdditionalIDTracks(TROVTrack::IDTracks{candidate});
    EXPECT_EQ(t.recorder->events.size(), 2u);
    t.track->setAdditionalIDTracks(std::nullopt);
    EXPECT_FALSE(t.track->additionalIDTracks().has_value());
    t.track->setAdditionalIDTracks(std::nullopt);
    t.track->setAdditionalIDTracks(TROVTrack::IDTracks{});
    EXPECT_EQ(t.recorder->names(), std::vector<std::string>(4, "additionalIDTracks"));
    for (const auto& event : t.recorder->events) EXPECT_FALSE(event->oldValue().has_value());
}

TEST(TROVTrack, ListenersAreCalledOnceInOrderAndOnlyThoseAtTheStartOfTheFiring) {
    auto track = TROVTrack::initWithNum(0, "A");
    auto first = std::make_shared<Recorder>();
    auto second = std::make_shared<Recorder>();
    auto late = std::make_shared<Recorder>();
    std::vector<std::string> order;
    first->onChange = [&] {
        order.push_back("first");
        track->addTrackChangeListener(late);
        track->removeTrackChangeListener(second);
    };
    second->onChange = [&] { order.push_back("second"); };
    track->addTrackChangeListener(first);
    track->addTrackChangeListener(second);
    track->addTrackChangeListener(first);
    track->setTrackName("B");
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(late->events.empty());
    EXPECT_EQ(first->events[0], second->events[0]);
    track->setTrackName("C");
    EXPECT_EQ(late->events.size(), 1u);
    EXPECT_EQ(second->events.size(), 1u);
    for (auto* recorder : {first.get(), second.get(), late.get()}) recorder->events.clear();
}

TEST(TROVTrack, FiringWithoutAListenerArrayCreatesNoEvent) {
    auto track = TROVTrack::initWithNum(0, "A");
    std::weak_ptr<TROVTrack> weak = track;
    track->setTrackName("B");
    track->fireTrackChangedWithPropertyName("x", std::any());
    // An event would hold the track; none exists, so the track goes with its last owner.
    track.reset();
    EXPECT_TRUE(weak.expired());
}

TEST(TROVTrack, IncludesBothEndsAndComparesNumbersNeverAsSame) {
    auto track = TROVTrack::initWithNum(0, "A");
    track->setStartTime(100);
    track->setStopTime(200);
    for (auto [point, included] :
         std::vector<std::pair<uint32_t, bool>>{{99, false}, {100, true}, {200, true}, {201, false}})
        EXPECT_EQ(track->includesTimePoint(point), included) << point;

    auto other = TROVTrack::initWithNum(0, "B");
    EXPECT_EQ(track->trackNumCompare(*other), -1);
    EXPECT_EQ(other->trackNumCompare(*track), -1);
    track->setTrackNum(4);
    other->setTrackNum(3);
    EXPECT_EQ(track->trackNumCompare(*other), 1);
    EXPECT_EQ(other->trackNumCompare(*track), -1);
    other->setTrackNum(0xFFFFFFFFu);
    EXPECT_EQ(other->trackNumCompare(*track), 1);
}

TEST(TROVTrack, EnsureMinimumDurationMovesTheEdgeEditedLast) {
    const struct {
        bool startEditedLast;
        int64_t start, stop;
        uint32_t minimum, fileLength;
        int64_t newStart, newStop;
    } cases[] = {
        {false, 500, 600, 1000, 1200, 200, 1200},  // the stop edge reaches the end, the start gives the rest
        {true, 500, 600, 1000, 1200, 0, 1000},     // the start edge reaches the beginning, the stop the rest
        {true, 4900, 5000, 1000, 9000, 4000, 5000},
        {false, 100, 150, 1000, 9000, 100, 1100},
        // Nothing moves when the file is no longer than the minimum or the track is long enough.
        {false, 100, 1100, 9000, 9000, 100, 1100},
        {false, 100, 1100, 1000, 9000, 100, 1100},
    };
    for (const auto& c : cases) {
        auto track = TROVTrack::initWithNum(0, "A");
        if (c.startEditedLast) {
            track->setStopTime(c.stop);
            track->setStartTime(c.start);
        } else {
            track->setStartTime(c.start);
            track->setStopTime(c.stop);
        }
        ASSERT_EQ(track->lastEditWasStartTime(), c.startEditedLast);
        track->ensureMinimumDuration(c.minimum, c.fileLength);
        EXPECT_EQ(track->startTime(), c.newStart) << c.start << "-" << c.stop << " min " << c.minimum;
        EXPECT_EQ(track->stopTime(), c.newStop) << c.start << "-" << c.stop << " min " << c.minimum;
    }
}

TEST(TROVTrack, NilIntoANumberIsLoggedAndIgnoredAndAListIsDescribedAsTheLogShowsIt) {
    platform::LogCapture log;
    auto track = TROVTrack::initWithNum(0, "A");
    track->unableToSetNilForKey("trackNumber");
    EXPECT_TRUE(log.contains("unableToSetNilForKey: trackNumber"));
    EXPECT_EQ(track->trackNumber(), 0);
    track->setTrackName("Auto-define track");
    EXPECT_EQ(TROVTrack::describeTracks({}), "(\n)");
    EXPECT_EQ(TROVTrack::describeTracks({track, track}), "(\n    Auto-define track,\n    Auto-define track\n)");
}

TEST(ZORStringAdditions, TrimsOrRemovesWhiteSpaceAndLineBreaksIncludingUnicodeOnes) {
    const auto set = ZORStringAdditions::whitespaceAndNewlineCharacterSet();
    using ZORStringAdditions::workaroundStringByTrimmingCharactersInSet;
    // Broken UTF-8 from a tag is made readable, not dropped.
    for (const auto& [text, trimmed] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {" ", ""}, {"\n", ""}, {"a", "a"}, {" \t\r\n ", ""}, {" a b ", "a b"},
             {"\u00a0 Caf\u00e9 \u3000\u2028", "Caf\u00e9"}, {" \xF0\x9F\x8E\xB5 ", "\xF0\x9F\x8E\xB5"},
             {" ab\xff ", "ab\uFFFD"}})
        EXPECT_EQ(workaroundStringByTrimmingCharactersInSet(text, set), trimmed) << text;
    // One unit is tested against white space, whatever the set.
    auto letterA = [](char16_t unit) { return unit == u'a'; };
    for (const auto& [text, trimmed] :
         std::vector<std::pair<std::string, std::string>>{{"a", "a"}, {"aba", "b"}, {"aa", ""}})
        EXPECT_EQ(workaroundStringByTrimmingCharactersInSet(text, letterA), trimmed) << text;

    // Removing takes out every unit of the set.
    EXPECT_EQ(ZORStringAdditions::stringByRemovingCharactersInSet(" a\tb\nc\u00a0d ", set), "abcd");
    EXPECT_EQ(ZORStringAdditions::stringByRemovingCharactersInSet("", set), "");
}
