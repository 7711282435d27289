#include "service/form.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/text.h"

namespace service {
namespace {

using Fields = FormFields;

TEST(DecodeUrlEncoded, GivesRawBytesInOrder) {
  Fields f = DecodeUrlEncoded("drivers=QUJD%2B%2F%3D&setup_api_log=a+b%E9%80%0D%0A&empty=&flag");
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0], (std::pair<std::string, std::string>{"drivers", "QUJD+/="}));
  EXPECT_EQ(f[1].second, "a b\xE9\x80\r\n");
  EXPECT_EQ(f[2], (std::pair<std::string, std::string>{"empty", ""}));
  EXPECT_EQ(f[3], (std::pair<std::string, std::string>{"flag", ""}));
  // Separators only; the value keeps a literal '=' after the first.
  EXPECT_TRUE(DecodeUrlEncoded("&&").empty());
  EXPECT_EQ(DecodeUrlEncoded("a=b=c")[0].second, "b=c");
}

TEST(DecodeUrlEncoded, RefusesBrokenEscapes) {
  EXPECT_THROW(DecodeUrlEncoded("a=%"), PostError);
  EXPECT_THROW(DecodeUrlEncoded("a=%4"), PostError);
  EXPECT_THROW(DecodeUrlEncoded("a=%G1"), PostError);
  EXPECT_THROW(DecodeUrlEncoded("a%2=b"), PostError);
}

TEST(DecodeMultipart, GivesEachPartAndRefusesCutOrCrowdedBodies) {
  // RFC 7578 (multipart/form-data): parts between "--boundary" lines, CRLF line ends.
  const std::string body =
      "preamble\r\n--XyZ\r\nContent-Disposition: form-data; name=\"scanid\"\r\n\r\nABC\r\n"
      "--XyZ\r\ncontent-disposition: form-data; filename=\"r.txt\"; name=drivers\r\nContent-Type: "
      "text/plain\r\n"
      "\r\nline 1\r\n-XyZ\r\n--XyZ--\r\n";
  EXPECT_EQ(MultipartBoundary("multipart/form-data; charset=x; boundary=\"XyZ\""), "XyZ");
  Fields f = DecodeMultipart(body, "XyZ");
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0], (std::pair<std::string, std::string>{"scanid", "ABC"}));
  EXPECT_EQ(f[1], (std::pair<std::string, std::string>{"drivers", "line 1\r\n-XyZ"}));
  EXPECT_THROW(DecodeMultipart(body.substr(0, body.size() - 12), "XyZ"), PostError);
  EXPECT_THROW(DecodeMultipart(body, ""), PostError);
  std::string crowded, form;
  for (size_t i = 0; i <= kMaxFormFields; ++i) {
    crowded += "--b\r\nContent-Disposition: form-data; name=a\r\n\r\n\r\n";
    form += "a&";
  }
  EXPECT_THROW(DecodeMultipart(crowded + "--b--", "b"), PostError);
  EXPECT_THROW(DecodeUrlEncoded(form), PostError);
}

TEST(Windows1252ToUtf8, MapsTheHighHalfAsBrowsersDo) {
  EXPECT_EQ(platform::Windows1252ToUtf8("caf\xE9 \x80 \x93q\x94 \x81"),
            "caf\u00e9 \u20ac \u201cq\u201d \u0081");
  EXPECT_EQ(platform::Windows1252ToUtf8("\r\n\x7F\xFF"), "\r\n\x7F\u00ff");
}

TEST(IsScanId, ExactlyThirtyTwoHexDigits) {
  EXPECT_TRUE(IsScanId("6F9619FF8B86D011B42D00C04FC964FF"));
  EXPECT_TRUE(IsScanId("6f9619ff8b86d011b42d00c04fc964ff"));
  EXPECT_FALSE(IsScanId("6F9619FF8B86D011B42D00C04FC964F"));
  EXPECT_FALSE(IsScanId("6F9619FF8B86D011B42D00C04FC964FF0"));
  EXPECT_FALSE(IsScanId("../../../../../../etc/passwd00000"));
  EXPECT_FALSE(IsScanId("6F9619FF-8B86-D011-B42D-00C04FC964"));
  EXPECT_FALSE(IsScanId(std::string("6F9619FF8B86D011B42D00C04FC964F\0", 32)));
}

// Base64 of a one-device list as the program writes it.
const char* kDrivers =
    "DQpkcml2ZXJfMT1SZWFsdGVrIFBDSWUgR2JFIEZhbWlseSBDb250cm9sbGVyWztdMTAuMzguMTExOC4yMDE5WztdUmVhbH"
    "Rla1s7XTExLTE4"
    "LTIwMTlbO11QQ0lcVkVOXzEwRUMmREVWXzgxNjgsWztdUENJXFZFTl8xMEVDJkRFVl84MTY4LFx7NGQzNmU5NzItZTMyNS"
    "0xMWNlLWJmYzEt"
    "MDgwMDJiZTEwMzE4fVwwMDAxWztdTmV0Wztdb2VtNy5pbmZbO11QQ0lcVkVOXzEwRUMmREVWXzgxNjgmUkVWXzE1LFBDSV"
    "xWRU5fMTBFQyZE"
    "RVZfODE2OCxbO11bO11wY2lcdmVuXzEwZWMmZGV2XzgxNjhbO10wDQoNCmJpb3M9VGVzdA==";

Fields Good() {
  return {{"drivers", kDrivers},
          {"hwid", "V0QtMTIz"},
          {"scanid", "6f9619ff8b86d011b42d00c04fc964ff"},
          {"setup_api_log", "line \xE9\r\n"}};
}

std::string Refusal(const Fields& f) {
  try {
    ValidatePost(f);
  } catch (const PostError& e) {
    return e.what();
  }
  return "";
}

TEST(ValidatePost, TakesTheFourFieldsAndNormalisesTheScanId) {
  match::Report report;
  ReportPost post = ValidatePost(Good(), &report);
  EXPECT_EQ(post.scan_id, "6F9619FF8B86D011B42D00C04FC964FF");
  EXPECT_EQ(post.drivers, kDrivers);
  EXPECT_EQ(post.hwid, "V0QtMTIz");
  EXPECT_EQ(post.setup_log, "line \u00e9\r\n");
  ASSERT_EQ(report.devices.size(), 1u);
  EXPECT_EQ(report.devices[0].name, "Realtek PCIe GbE Family Controller");
}

TEST(ValidatePost, NamesWhatIsWrong) {
  Fields f = Good();
  f.erase(f.begin() + 1);
  EXPECT_EQ(Refusal(f), "The field \"hwid\" is missing.");
  f = Good();
  f.push_back({"scanid", "00000000000000000000000000000000"});
  EXPECT_EQ(Refusal(f), "The field \"scanid\" is given more than once.");
  f = Good();
  f[2].second = "../../etc/passwd";
  EXPECT_EQ(Refusal(f), "The scan id is not 32 hexadecimal digits.");
  f = Good();
  f[0].second = "not base64!";
  EXPECT_EQ(Refusal(f), "The device data is not Base64.");
  f = Good();
  f[0].second = "";
  EXPECT_EQ(Refusal(f), "The report holds no device data.");
  f = Good();
  f[1].second = "V0QtMTI";
  EXPECT_EQ(Refusal(f), "The hardware id is not Base64.");
  f = Good();
  f[3].second = std::string("a\0b", 3);
  EXPECT_EQ(Refusal(f), "The setup-log excerpt holds a NUL character.");
  // Unknown extra fields are no reason to refuse.
  f = Good();
  f.push_back({"comment", "x"});
  EXPECT_EQ(Refusal(f), "");
}

TEST(ValidatePost, RefusesADeviceListOfTheWrongShape) {
  Fields f = Good();
  // "driver_1=a[;]b" : two fields where the list has twelve.
  f[0].second = "DQpkcml2ZXJfMT1hWztdYg==";
  EXPECT_NE(Refusal(f), "");
  // Base64 of text that is no device list at all.
  f[0].second = "aGVsbG8gd29ybGQ=";
  EXPECT_NE(Refusal(f), "");
}

}  // namespace
}  // namespace service
