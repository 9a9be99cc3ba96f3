#include "messaging/TROVMessage.h"
#include "platform/Log.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <climits>

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
    int32_t id = 0;
    float ratio = 0;
    bool on = false, off = true;
    std::string path;
    ASSERT_TRUE(message->getValueSInt32("msgID", id));
    ASSERT_TRUE(message->getValueFloat32("ratio", ratio));
    ASSERT_TRUE(message->getValueBoolean("on", on));
    ASSERT_TRUE(message->getValueBoolean("off", off));
    ASSERT_TRUE(message->getValueNSString("path", path));
    EXPECT_EQ(id, -7);
    EXPECT_EQ(ratio, 0.25f);
    EXPECT_TRUE(on);
    EXPECT_FALSE(off);
    EXPECT_EQ(path, "/tmp/a & b <c> \xC3\xA9t\xC3\xA9.wav");
    EXPECT_EQ(message->messagePort(), nullptr);
}

TEST(TROVMessageWireFormat, CommandCodeTravelsAsPlainInteger) {
    auto message = emptyMessage();
    message->setValueWithSInt32("msgID", 0x72546C6D);
    std::optional<std::string> xml = message->flatten();
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), std::string::npos);
    EXPECT_NE(xml->find("<plist version=\"1.0\">"), std::string::npos);
    EXPECT_NE(xml->find("<key>msgID</key>"), std::string::npos);
    EXPECT_NE(xml->find("<integer>1918135405</integer>"), std::string::npos);
    int32_t id = 0;
    EXPECT_TRUE(TROVMessage::initWithData(xml)->getValueSInt32("msgID", id));
    EXPECT_EQ(id, 0x72546C6D);
}

TEST(TROVMessageWireFormat, ValueKindsSurviveFlattenAndRead) {
    auto message = emptyMessage();
    message->setValueWithBoolean("visible", true);
    message->setValueWithFloat32("quarter", 0.25f);
    message->setValueWithFloat32("tenth", 0.1f);
    message->setValueWithSInt32("low", INT32_MIN);
    message->setValueWithNSString("empty", "");
    std::optional<std::string> xml = message->flatten();
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("<true/>"), std::string::npos);
    auto back = TROVMessage::initWithData(xml);
    bool visible = false;
    int32_t visibleAsNumber = -1, low = 0;
    float quarter = 0, tenth = 0;
    std::string empty = "unset";
    EXPECT_TRUE(back->getValueBoolean("visible", visible));
    EXPECT_TRUE(back->getValueSInt32("visible", visibleAsNumber));
    EXPECT_TRUE(back->getValueFloat32("quarter", quarter));
    EXPECT_TRUE(back->getValueFloat32("tenth", tenth));
    EXPECT_TRUE(back->getValueSInt32("low", low));
    EXPECT_TRUE(back->getValueNSString("empty", empty));
    EXPECT_TRUE(visible);
    EXPECT_EQ(visibleAsNumber, 1);
    EXPECT_EQ(quarter, 0.25f);
    EXPECT_EQ(tenth, 0.1f);
    EXPECT_EQ(low, INT32_MIN);
    EXPECT_EQ(empty, "");
}

TEST(TROVMessageWireFormat, KeysKeepTheOrderInWhichTheyWereSet) {
    auto message = emptyMessage();
    for (const char* key : {"msgID", "cap", "state", "stime"}) message->setValueWithSInt32(key, 1);
    message->setValueWithSInt32("cap", 2);  // replacing keeps the place
    std::string xml = *message->flatten();
    EXPECT_LT(xml.find("msgID"), xml.find("cap"));
    EXPECT_LT(xml.find("cap"), xml.find("state"));
    EXPECT_LT(xml.find("state"), xml.find("stime"));
    int32_t cap = 0;
    message->getValueSInt32("cap", cap);
    EXPECT_EQ(cap, 2);
}

TEST(TROVMessageWireFormat, EmptyMessageIsAnEmptyDict) {
    std::optional<std::string> xml = emptyMessage()->flatten();
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("<dict/>"), std::string::npos);
    EXPECT_EQ(TROVMessage::initWithData(xml)->messageDictionary().size(), 0u);
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
}

TEST(TROVMessageWireFormat, ValueOutsidePropertyListsCannotBeFlattened) {
    auto message = emptyMessage();
    auto nested = platform::PropertyList::array();
    nested.append(platform::PropertyList::adopt(plist_new_uid(3)));
    message->setValueWithCFType("list", nested);
    EXPECT_FALSE(message->flatten());
}

TEST(TROVMessageGetters, AbsentKeyLeavesTheTargetUntouched) {
    auto message = emptyMessage();
    int32_t number = 42;
    float real = 4.5f;
    bool flag = true;
    std::string text = "kept";
    EXPECT_FALSE(message->getValueSInt32("timeout", number));
    EXPECT_FALSE(message->getValueFloat32("SilenceThreshold", real));
    EXPECT_FALSE(message->getValueBoolean("visible", flag));
    EXPECT_FALSE(message->getValueNSString("path", text));
    EXPECT_EQ(number, 42);
    EXPECT_EQ(real, 4.5f);
    EXPECT_TRUE(flag);
    EXPECT_EQ(text, "kept");
}

TEST(TROVMessageGetters, NumbersAndBooleansConvertIntoEachOther) {
    auto message = TROVMessage::initWithData(handWritten(
        "<key>up</key><real>2.9</real><key>down</key><real>-2.9</real>"
        "<key>three</key><integer>3</integer><key>zero</key><integer>0</integer>"));
    int32_t up = 0, down = 0;
    float three = 0;
    bool threeTrue = false, zeroTrue = true;
    EXPECT_TRUE(message->getValueSInt32("up", up));
    EXPECT_TRUE(message->getValueSInt32("down", down));
    EXPECT_TRUE(message->getValueFloat32("three", three));
    EXPECT_TRUE(message->getValueBoolean("three", threeTrue));
    EXPECT_TRUE(message->getValueBoolean("zero", zeroTrue));
    EXPECT_EQ(up, 2);  // toward zero
    EXPECT_EQ(down, -2);
    EXPECT_EQ(three, 3.0f);
    EXPECT_TRUE(threeTrue);
    EXPECT_FALSE(zeroTrue);
}

TEST(TROVMessageGetters, WrongKindIsRefusedWithOneLogLine) {
    auto message = TROVMessage::initWithData(handWritten(
        "<key>timeout</key><string>5</string>"
        "<key>visible</key><data>AAE=</data>"
        "<key>path</key><integer>12</integer>"
        "<key>SilenceThreshold</key><array/>"));
    platform::LogCapture log;
    int32_t timeout = 7;
    bool visible = false;
    std::string path = "kept";
    float threshold = 0.5f;
    EXPECT_FALSE(message->getValueSInt32("timeout", timeout));
    EXPECT_FALSE(message->getValueBoolean("visible", visible));
    EXPECT_FALSE(message->getValueNSString("path", path));
    EXPECT_FALSE(message->getValueFloat32("SilenceThreshold", threshold));
    EXPECT_EQ(timeout, 7);
    EXPECT_FALSE(visible);
    EXPECT_EQ(path, "kept");
    EXPECT_EQ(threshold, 0.5f);
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_TRUE(log.contains("value of \"timeout\" is a string, not a 32-bit integer"));
    EXPECT_TRUE(log.contains("value of \"path\" is an integer, not a string"));
}

TEST(TROVMessageGetters, ValuesOutOfRangeAreRefused) {
    auto message = TROVMessage::initWithData(handWritten(
        "<key>big</key><integer>1099511627776</integer>"
        "<key>huge</key><real>1e300</real>"
        "<key>notANumber</key><real>nan</real>"
        "<key>max</key><integer>2147483647</integer>"));
    platform::LogCapture log;
    int32_t big = 1, huge = 1, notANumber = 1, max = 0;
    float hugeFloat = 1;
    EXPECT_FALSE(message->getValueSInt32("big", big));
    EXPECT_FALSE(message->getValueSInt32("huge", huge));
    EXPECT_FALSE(message->getValueFloat32("huge", hugeFloat));
    EXPECT_FALSE(message->getValueSInt32("notANumber", notANumber));
    EXPECT_TRUE(message->getValueSInt32("max", max));
    EXPECT_EQ(big, 1);
    EXPECT_EQ(huge, 1);
    EXPECT_EQ(hugeFloat, 1.0f);
    EXPECT_EQ(notANumber, 1);
    EXPECT_EQ(max, INT32_MAX);
    EXPECT_EQ(log.count("out of range"), 4u);
}

TEST(TROVMessageSending, ReceivedMessageHasNoPortToSendThrough) {
    auto received = TROVMessage::initWithData(handWritten("<key>msgID</key><integer>1</integer>"));
    platform::LogCapture log;
    EXPECT_EQ(received->sendWithReply(true), nullptr);
    EXPECT_EQ(received->sendWithReply(false), nullptr);
    EXPECT_EQ(log.count("mMessagePort is nil"), 2u);
}
