#include "messaging/TROVMessage.h"

#include "MessageTestSupport.h"

#include <plist/plist.h>

#include <climits>
#include <sstream>

using namespace msgtest;

namespace {

// As another producer writes a property list: declaration, DOCTYPE, tabs.
std::string handWritten(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" + entries + "</dict>\n</plist>\n";
}

// The readings of `key` as integer, float, boolean and string; "-" where the getter refuses.
std::string reads(const TROVMessage& message, const std::string& key) {
    std::ostringstream out;
    auto show = [&](const auto& value) { value ? out << *value << ' ' : out << "- "; };
    show(getInt(message, key));
    show(get<float>(message, key, 4.5f));
    show(get<bool>(message, key, true));
    const std::optional<std::string> text = get<std::string>(message, key, "kept");
    out << (text ? '"' + *text + '"' : std::string("-"));
    return out.str();
}

}  // namespace

// Numbers and booleans convert into each other (reals toward zero); other
// kinds, and values out of a 32-bit range, are refused.
TEST(TROVMessage, TypedGettersReadHandWrittenPropertyLists) {
    auto message = TROVMessage::initWithData(handWritten(
        "\t<key>msgID</key>\n\t<integer>-7</integer>\n\t<key>ratio</key>\n\t<real>0.25</real>\n"
        "<key>up</key><real>2.9</real><key>down</key><real>-2.9</real><key>on</key><true/><key>off</key><false/>"
        "<key>path</key><string>/tmp/a &amp; b &lt;c&gt; \xC3\xA9t\xC3\xA9.wav</string>"
        "<key>data</key><data>AAE=</data><key>list</key><array/><key>big</key><integer>1099511627776</integer>"
        "<key>huge</key><real>1e300</real><key>nan</key><real>nan</real><key>max</key><integer>2147483647</integer>"));
    const std::pair<const char*, const char*> cases[] = {
        {"msgID", "-7 -7 1 -"}, {"ratio", "0 0.25 1 -"}, {"up", "2 2.9 1 -"}, {"down", "-2 -2.9 1 -"},
        {"on", "1 1 1 -"}, {"off", "0 0 0 -"}, {"path", "- - - \"/tmp/a & b <c> \xC3\xA9t\xC3\xA9.wav\""},
        {"data", "- - - -"}, {"list", "- - - -"}, {"big", "- 1.09951e+12 1 -"}, {"huge", "- - 1 -"},
        {"nan", "- nan 1 -"}, {"max", "2147483647 2.14748e+09 1 -"}, {"absent", "- - - -"}};
    for (const auto& [key, expected] : cases) EXPECT_EQ(reads(*message, key), expected) << key;
    EXPECT_EQ(message->sendWithReply(true), nullptr);  // read from data, it has no port to send through
}

TEST(TROVMessage, EveryValueKindSurvivesFlattenAndReadInTheOrderSet) {
    auto message = TROVMessage::initWithData(std::nullopt);
    message->setValueWithSInt32("msgID", 0x72546C6D);
    message->setValueWithBoolean("visible", true);
    message->setValueWithFloat32("tenth", 0.1f);
    message->setValueWithSInt32("low", INT32_MIN);
    message->setValueWithNSString("empty", "");
    message->setValueWithSInt32("visible", 3);  // replacing keeps the place
    auto back = TROVMessage::initWithData(message->flatten());
    EXPECT_EQ(back->messageDictionary().keys(), (std::vector<std::string>{"msgID", "visible", "tenth", "low", "empty"}));
    EXPECT_EQ(getInt(*back, "msgID"), 0x72546C6D);
    EXPECT_EQ(getInt(*back, "visible"), 3);
    EXPECT_EQ(get<float>(*back, "tenth", 0), 0.1f);
    EXPECT_EQ(getInt(*back, "low"), INT32_MIN);
    EXPECT_EQ(get<std::string>(*back, "empty", "kept"), "");
    // A value outside property lists cannot be flattened.
    auto nested = platform::PropertyList::array();
    nested.append(platform::PropertyList::adopt(plist_new_uid(3)));
    message->setValueWithCFType("list", nested);
    EXPECT_FALSE(message->flatten());
}
