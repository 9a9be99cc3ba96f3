#include "messaging/TROVMessage.h"

#include "MessageTestSupport.h"
#include "platform/Log.h"

#include <plist/plist.h>

#include <climits>

using namespace msgtest;

namespace {

// As another producer writes a property list: declaration, DOCTYPE, tabs.
std::string handWritten(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" + entries + "</dict>\n</plist>\n";
}

std::shared_ptr<TROVMessage> emptyMessage() { return TROVMessage::initWithData(std::nullopt); }

}  // namespace

TEST(TROVMessageWireFormat, ReadsHandWrittenPropertyLists) {
    auto message = TROVMessage::initWithData(handWritten(
        "\t<key>msgID</key>\n\t<integer>-7</integer>\n"
        "\t<key>ratio</key>\n\t<real>0.25</real>\n"
        "\t<key>on</key>\n\t<true/>\n"
        "\t<key>off</key>\n\t<false/>\n"
        "\t<key>path</key>\n\t<string>/tmp/a &amp; b &lt;c&gt; \xC3\xA9t\xC3\xA9.wav</string>\n"));
    EXPECT_EQ(getInt(*message, "msgID"), -7);
    EXPECT_EQ(getFloat(*message, "ratio"), 0.25f);
    EXPECT_EQ(getBool(*message, "on"), true);
    EXPECT_EQ(getBool(*message, "off"), false);
    EXPECT_EQ(getString(*message, "path"), "/tmp/a & b <c> \xC3\xA9t\xC3\xA9.wav");
    EXPECT_EQ(message->messagePort(), nullptr);
}

TEST(TROVMessageWireFormat, CommandCodeAndEveryValueKindSurviveFlattenAndRead) {
    auto message = emptyMessage();
    message->setValueWithSInt32("msgID", 0x72546C6D);
    std::optional<std::string> xml = message->flatten();
    ASSERT_TRUE(xml);
    for (const char* part : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<plist version=\"1.0\">",
                             "<key>msgID</key>", "<integer>1918135405</integer>"})
        EXPECT_NE(xml->find(part), std::string::npos) << part;
    EXPECT_EQ(getInt(*TROVMessage::initWithData(xml), "msgID"), 0x72546C6D);

    // Every value kind survives flattening and reading.
    message = emptyMessage();
    message->setValueWithBoolean("visible", true);
    message->setValueWithFloat32("quarter", 0.25f);
    message->setValueWithFloat32("tenth", 0.1f);
    message->setValueWithSInt32("low", INT32_MIN);
    message->setValueWithNSString("empty", "");
    xml = message->flatten();
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("<true/>"), std::string::npos);
    auto back = TROVMessage::initWithData(xml);
    EXPECT_EQ(getBool(*back, "visible", false), true);
    EXPECT_EQ(getInt(*back, "visible"), 1);
    EXPECT_EQ(getFloat(*back, "quarter"), 0.25f);
    EXPECT_EQ(getFloat(*back, "tenth"), 0.1f);
    EXPECT_EQ(getInt(*back, "low"), INT32_MIN);
    EXPECT_EQ(getString(*back, "empty"), "");
}

TEST(TROVMessageWireFormat, KeysKeepTheOrderInWhichTheyWereSet) {
    auto message = emptyMessage();
    for (const char* key : {"msgID", "cap", "state", "stime"}) message->setValueWithSInt32(key, 1);
    message->setValueWithSInt32("cap", 2);  // replacing keeps the place
    EXPECT_EQ(message->messageDictionary().keys(), (std::vector<std::string>{"msgID", "cap", "state", "stime"}));
    std::string xml = *message->flatten();
    EXPECT_LT(xml.find("msgID"), xml.find("cap"));
    EXPECT_LT(xml.find("cap"), xml.find("state"));
    EXPECT_LT(xml.find("state"), xml.find("stime"));
    EXPECT_EQ(getInt(*message, "cap"), 2);

    // An empty message is an empty dict.
    std::optional<std::string> empty = emptyMessage()->flatten();
    ASSERT_TRUE(empty);
    EXPECT_NE(empty->find("<dict/>"), std::string::npos);
    EXPECT_EQ(TROVMessage::initWithData(empty)->messageDictionary().size(), 0u);
}

TEST(TROVMessageWireFormat, UnreadableDataGivesAnEmptyMessage) {
    const std::optional<std::string> inputs[] = {
        std::nullopt,
        std::string(),
        std::string("garbage"),
        std::string("<plist version=\"1.0\"><dict><key>msgID</key><integer>1</integer>"),  // cut short
        std::string("<plist version=\"1.0\"><array><integer>1</integer></array></plist>"),
        std::string("<plist version=\"1.0\"><string>msgID</string></plist>"),
        std::string("\x00\x01\xff\xfe", 4),
    };
    for (const auto& input : inputs) {
        auto message = TROVMessage::initWithData(input);
        EXPECT_EQ(message->messageDictionary().type(), platform::PropertyList::Type::Dictionary);
        EXPECT_EQ(message->messageDictionary().size(), 0u) << input.value_or("(none)");
    }

    // A value outside property lists cannot be flattened.
    auto message = emptyMessage();
    auto nested = platform::PropertyList::array();
    nested.append(platform::PropertyList::adopt(plist_new_uid(3)));
    message->setValueWithCFType("list", nested);
    EXPECT_FALSE(message->flatten());
}

TEST(TROVMessageGetters, NumbersAndBooleansConvertIntoEachOther) {
    auto message = TROVMessage::initWithData(handWritten(
        "<key>up</key><real>2.9</real><key>down</key><real>-2.9</real>"
        "<key>three</key><integer>3</integer><key>zero</key><integer>0</integer>"));
    EXPECT_EQ(getInt(*message, "up"), 2);  // toward zero
    EXPECT_EQ(getInt(*message, "down"), -2);
    EXPECT_EQ(getFloat(*message, "three"), 3.0f);
    EXPECT_EQ(getBool(*message, "three", false), true);
    EXPECT_EQ(getBool(*message, "zero"), false);
}

TEST(TROVMessageGetters, WrongKindIsRefusedWithOneLogLineAndAbsentKeysLeaveTheTarget) {
    auto message = TROVMessage::initWithData(handWritten(
        "<key>timeout</key><string>5</string>"
        "<key>visible</key><data>AAE=</data>"
        "<key>path</key><integer>12</integer>"
        "<key>SilenceThreshold</key><array/>"));
    platform::LogCapture log;
    EXPECT_EQ(getInt(*message, "timeout"), std::nullopt);
    EXPECT_EQ(getBool(*message, "visible", false), std::nullopt);
    EXPECT_EQ(getString(*message, "path"), std::nullopt);
    EXPECT_EQ(getFloat(*message, "SilenceThreshold"), std::nullopt);
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_TRUE(log.contains("value of \"timeout\" is a string, not a 32-bit integer"));
    EXPECT_TRUE(log.contains("value of \"path\" is an integer, not a string"));
    // Absent keys are refused too and leave the target untouched.
    auto empty = emptyMessage();
    EXPECT_EQ(getInt(*empty, "timeout"), std::nullopt);
    EXPECT_EQ(getFloat(*empty, "SilenceThreshold"), std::nullopt);
    EXPECT_EQ(getBool(*empty, "visible"), std::nullopt);
    EXPECT_EQ(getString(*empty, "path"), std::nullopt);
}

TEST(TROVMessageGetters, ValuesOutOfRangeAreRefused) {
    auto message = TROVMessage::initWithData(handWritten(
        "<key>big</key><integer>1099511627776</integer>"
        "<key>huge</key><real>1e300</real>"
        "<key>notANumber</key><real>nan</real>"
        "<key>max</key><integer>2147483647</integer>"));
    platform::LogCapture log;
    EXPECT_EQ(getInt(*message, "big"), std::nullopt);
    EXPECT_EQ(getInt(*message, "huge"), std::nullopt);
    EXPECT_EQ(getFloat(*message, "huge"), std::nullopt);
    EXPECT_EQ(getInt(*message, "notANumber"), std::nullopt);
    EXPECT_EQ(getInt(*message, "max"), INT32_MAX);
    EXPECT_EQ(log.count("out of range"), 4u);
}

TEST(TROVMessageSending, ReceivedMessageHasNoPortToSendThrough) {
    auto received = TROVMessage::initWithData(handWritten("<key>msgID</key><integer>1</integer>"));
    platform::LogCapture log;
    EXPECT_EQ(received->sendWithReply(true), nullptr);
    EXPECT_EQ(received->sendWithReply(false), nullptr);
    EXPECT_EQ(log.count("mMessagePort is nil"), 2u);
}
