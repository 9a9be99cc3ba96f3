#include "tracks/TROVTrack.h"

#include <gtest/gtest.h>

#include "tracks/TrackChangedEvent.h"
#include "tracks/ZORStringAdditions.h"

namespace {

// An old value as text: "-" when there was none.
std::string shown(const std::any& value) {
    if (auto text = std::any_cast<std::string>(&value)) return *text;
    if (auto number = std::any_cast<int32_t>(&value)) return std::to_string(*number);
    if (auto frame = std::any_cast<uint32_t>(&value)) return std::to_string(*frame);
    if (auto flag = std::any_cast<bool>(&value)) return *flag ? "YES" : "NO";
    if (auto color = std::any_cast<TROVTrack::Color>(&value)) return "red " + std::to_string(int(color->red));
    return value.has_value() ? "?" : "-";
}

struct Recorder : TrackChangeListener {
    std::vector<std::shared_ptr<TrackChangedEvent>> events;
    std::function<void()> onChange;
    void trackChanged(const std::shared_ptr<TrackChangedEvent>& event) override {
        events.push_back(event);
        if (onChange) onChange();
    }
    // "name:old" for each event since the last call.
    std::string taken() {
        std::string text;
        for (const auto& event : events) text += (text.empty() ? "" : " ") + event->propertyName() + ":" + shown(event->oldValue());
        events.clear();
        return text;
    }
};

}  // namespace

// Texts are trimmed and fire only on an effective change, an absent stored
// value always counting as one; other values fire with the old value boxed:
// cover art is compared by content, a duration moves the stop, and the year
// is stored as text and fires nothing.
TEST(TROVTrack, SettersFireWithTheOldValueOnlyOnEffectiveChanges) {
    const struct {
        const char* name;
        void (TROVTrack::*set)(const TROVTrack::Text&);
        const TROVTrack::Text& (TROVTrack::*get)() const;
    } properties[] = {{"trackName", &TROVTrack::setTrackName, &TROVTrack::trackName},
                      {"artistName", &TROVTrack::setArtistName, &TROVTrack::artistName},
                      {"albumName", &TROVTrack::setAlbumName, &TROVTrack::albumName},
                      {"albumArtistName", &TROVTrack::setAlbumArtistName, &TROVTrack::albumArtistName},
                      {"composerName", &TROVTrack::setComposerName, &TROVTrack::composerName},
                      {"genre", &TROVTrack::setGenre, &TROVTrack::genre},
                      {"comments", &TROVTrack::setComments, &TROVTrack::comments}};
    const auto shared = TROVTrack::initWithNum(7, "Song");
    const auto recorder = std::make_shared<Recorder>();
    shared->addTrackChangeListener(recorder);
    TROVTrack& track = *shared;
    for (const auto& p : properties) {
        SCOPED_TRACE(p.name);
        const std::string before = (track.*p.get)().value_or("-");
        (track.*p.set)("\t New Order \n");
        (track.*p.set)("New Order");
        EXPECT_EQ((track.*p.get)(), "New Order");
        EXPECT_EQ(recorder->events.at(0)->source(), shared);
        (track.*p.set)(std::nullopt);
        (track.*p.set)(std::nullopt);
        EXPECT_EQ(recorder->taken(), std::string(p.name) + ":" + before + " " + p.name + ":New Order " + p.name + ":-");
    }

    for (int twice = 0; twice < 2; ++twice) {
        track.setDiscNumber(1);
        track.setActive(false);
        track.setCoverArt(std::make_shared<const ZORAudioTrackInfo::Image>(ZORAudioTrackInfo::Image{1, 2, 3}));
        track.setTrackColor(TROVTrack::Color{1, 0, 0, 1});
        track.setStartTime(100);
        track.setDuration(500);
    }
    track.setTrackColor(std::nullopt);
    track.setStopTime(5000000000LL);
    track.setStopTime(1);
    EXPECT_EQ(recorder->taken(), "discNumber:0 active:YES coverArt:- trackColor:- startTime:0 stopTime:0 "
                                   "trackColor:red 1 stopTime:600 stopTime:705032704");
    EXPECT_EQ(track.trackInfo()->albumNumber(), 1);

    EXPECT_EQ(track.albumYear(), -1);
    track.setAlbumYear(1999);
    EXPECT_EQ(track.trackInfo()->albumYear(), "1999");
    track.trackInfo()->setAlbumYear(std::string("1983 (remaster)"));
    EXPECT_EQ(track.albumYear(), 1983);
    EXPECT_EQ(recorder->taken(), "");
}

TEST(TROVTrack, ListenersAreCalledOnceInOrderAndOnlyThoseAtTheStartOfTheFiring) {
    auto track = TROVTrack::initWithNum(0, "A");
    auto first = std::make_shared<Recorder>(), second = std::make_shared<Recorder>(), late = std::make_shared<Recorder>();
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
    EXPECT_EQ(std::make_tuple(late->events.size(), second->events.size()), std::make_tuple(1u, 1u));
    // The kept events hold the track, which holds its listeners: break the circle.
    for (auto* recorder : {first.get(), second.get(), late.get()}) recorder->events.clear();
}

// A track includes both edges; ensuring a minimum duration moves the edge edited last.
TEST(TROVTrack, EdgesAreIncludedAndEnsuringAMinimumDurationMovesTheOneEditedLast) {
    auto track = TROVTrack::initWithNum(0, "A");
    track->setStartTime(100);
    track->setStopTime(200);
    for (auto [point, included] :
         std::vector<std::pair<uint32_t, bool>>{{99, false}, {100, true}, {200, true}, {201, false}})
        EXPECT_EQ(track->includesTimePoint(point), included) << point;

    // Start edited last?, start, stop, minimum, file length, new start, new stop.
    const int64_t cases[][7] = {
        {0, 500, 600, 1000, 1200, 200, 1200},  // the stop edge reaches the end, the start gives the rest
        {1, 500, 600, 1000, 1200, 0, 1000},    // the start edge reaches the beginning, the stop the rest
        {1, 4900, 5000, 1000, 9000, 4000, 5000},
        {0, 100, 150, 1000, 9000, 100, 1100},
        // Nothing moves when the file is no longer than the minimum or the track is long enough.
        {0, 100, 1100, 9000, 9000, 100, 1100},
        {0, 100, 1100, 1000, 9000, 100, 1100},
    };
    for (const auto& c : cases) {
        track = TROVTrack::initWithNum(0, "A");
        track->setStartTime(c[0] ? 0 : c[1]);
        track->setStopTime(c[2]);
        if (c[0]) track->setStartTime(c[1]);
        track->ensureMinimumDuration(uint32_t(c[3]), uint32_t(c[4]));
        EXPECT_EQ(std::make_pair(track->startTime(), track->stopTime()), std::make_pair(c[5], c[6])) << c[1] << "-" << c[2];
    }
}

TEST(ZORStringAdditions, TrimsOrRemovesWhiteSpaceAndLineBreaksIncludingUnicodeOnes) {
    const auto set = ZORStringAdditions::whitespaceAndNewlineCharacterSet();
    // Broken UTF-8 from a tag is made readable, not dropped.
    for (const auto& [text, trimmed] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {" ", ""}, {"a", "a"}, {" \t\r\n ", ""}, {" a b ", "a b"},
             {"\u00a0 Caf\u00e9 \u3000\u2028", "Caf\u00e9"}, {" \xF0\x9F\x8E\xB5 ", "\xF0\x9F\x8E\xB5"},
             {" ab\xff ", "ab\uFFFD"}})
        EXPECT_EQ(ZORStringAdditions::workaroundStringByTrimmingCharactersInSet(text, set), trimmed) << text;
    // Removing takes out every unit of the set.
    EXPECT_EQ(ZORStringAdditions::stringByRemovingCharactersInSet(" a\tb\nc\u00a0d ", set), "abcd");
}
