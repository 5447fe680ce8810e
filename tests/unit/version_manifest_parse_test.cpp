// The manifest document: what is read, what fails, with which code.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "tests/fakes/log_capture.h"
#include "tests/unit/allocation_failure.h"
#include "transfer/version_manifest.h"

namespace {

using Numbers = std::array<std::uint32_t, 4>;

struct Result {
  bool ok = false;
  std::unique_ptr<ComponentVersion> activeX;
  std::unique_ptr<ComponentVersion> plugin;
  std::unique_ptr<std::uint32_t> checkFrequency;
  std::vector<std::wstring> messages;
};

Result Parse(const std::string& text) {
  LogCapture log(true);
  std::vector<char> buffer(text.begin(), text.end());
  buffer.push_back('\0');
  Result r;
  r.ok = ParseVersionManifest(buffer.data(), &r.activeX, &r.plugin, &r.checkFrequency);
  r.messages = log.Messages();
  return r;
}

Numbers NumbersOf(const ComponentVersion& v) { return {v.major, v.minor, v.buildMajor, v.buildMinor}; }

const std::string kActiveX = R"(<ActiveX major="11" minor="2" buildMajor="202" buildMinor="235"/>)";
const std::string kPlugin = R"(<Plugin major="11" minor="3" buildMajor="300" buildMinor="1"/>)";
const std::string kSauConfig = R"(<SAUConfig checkFrequency="2"/>)";
const std::string kManifest = "<version>" + kActiveX + kPlugin + kSauConfig + "</version>";
const Numbers kActiveXNumbers{11, 2, 202, 235};
const Numbers kPluginNumbers{11, 3, 300, 1};

TEST(ManifestNumber, ConvertsLikeAnUnsignedDecimalWithSaturation) {
  struct Case {
    const char* value;
    std::uint32_t number;
  } cases[] = {
      {"11", 11},
      {"11abc", 11},
      {"", 0},
      {"abc", 0},
      {"-1", 4294967295u},
      {"12345678901", 4294967295u},
      {"4294967295", 4294967295u},
      {"4294967296", 4294967295u},
      {"99999999999999999999999999", 4294967295u},
      {"-99999999999", 4294967295u},
      {"-4294967295", 1},
      {"-5", 4294967291u},
      {"-0", 0},
      {"+7", 7},
      {"  \t\n\v\f\r42", 42},
      {"0012", 12},
      {"3.5", 3},
      {"0x10", 0},
      {"- 5", 0},
      {"+-5", 0},
      {"7 8", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(ManifestNumber(c.value), c.number) << '"' << c.value << '"';
}

TEST(ParseVersionManifest, AcceptedDocumentsDeliverAllThreeResults) {
  struct Case {
    const char* name;
    std::string text;
    Numbers activeX;
    Numbers plugin;
    std::uint32_t checkFrequency;
  } cases[] = {
      {"table order", kManifest, kActiveXNumbers, kPluginNumbers, 2},
      {"reverse order", "<version>" + kSauConfig + kPlugin + kActiveX + "</version>", kActiveXNumbers,
       kPluginNumbers, 2},
      {"byte order mark, declaration, comment, doctype",
       "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE version>\n<!-- current -->\n" + kManifest +
           "\n",
       kActiveXNumbers, kPluginNumbers, 2},
      {"other elements, attributes and text ignored",
       "<version build=\"x\">text<Other a=\"1\"/>" +
           std::string(R"(<ActiveX note="n" major="11" minor="2" buildMajor="202" buildMinor="235">inner</ActiveX>)") +
           kPlugin + R"(<SAUConfig extra="9" checkFrequency="2"></SAUConfig>)" + "</version>",
       kActiveXNumbers, kPluginNumbers, 2},
      {"the first of several matching elements",
       "<version>" + kActiveX + R"(<ActiveX major="1" minor="1" buildMajor="1" buildMinor="1"/>)" + kPlugin +
           kSauConfig + R"(<SAUConfig checkFrequency="3"/>)" + "</version>",
       kActiveXNumbers, kPluginNumbers, 2},
      {"the first of repeated attributes",
       "<version>" + kActiveX + kPlugin + R"(<SAUConfig checkFrequency="1" checkFrequency="3"/>)" + "</version>",
       kActiveXNumbers, kPluginNumbers, 1},
      {"a version element after another top-level element", "<other/>" + kManifest, kActiveXNumbers,
       kPluginNumbers, 2},
      {"number conversions",
       "<version>" +
           std::string(R"(<ActiveX major="11abc" minor="" buildMajor="-1" buildMinor="12345678901"/>)") + kPlugin +
           R"(<SAUConfig checkFrequency=" 5 days"/>)" + "</version>",
       {11, 0, 4294967295u, 4294967295u}, kPluginNumbers, 5},
      {"character and entity references translated first",
       "<version>" +
           std::string(R"(<ActiveX major="&#49;&#50;" minor="&#x33;" buildMajor="4&amp;5" buildMinor="&quot;6"/>)") +
           kPlugin + kSauConfig + "</version>",
       {12, 3, 4, 0}, kPluginNumbers, 2},
  };
  for (const Case& c : cases) {
    Result r = Parse(c.text);
    ASSERT_TRUE(r.ok) << c.name;
    EXPECT_TRUE(r.messages.empty()) << c.name;
    ASSERT_TRUE(r.activeX && r.plugin && r.checkFrequency) << c.name;
    EXPECT_EQ(NumbersOf(*r.activeX), c.activeX) << c.name;
    EXPECT_EQ(r.activeX->flavour, kFlavourActiveX) << c.name;
    EXPECT_EQ(NumbersOf(*r.plugin), c.plugin) << c.name;
    EXPECT_EQ(r.plugin->flavour, kFlavourPlugin) << c.name;
    EXPECT_EQ(*r.checkFrequency, c.checkFrequency) << c.name;
  }
}

TEST(ParseVersionManifest, RejectedDocumentsLogTheirCodeAndDeliverNothing) {
  const std::string plugin3 = R"(<Plugin major="11" minor="3" buildMajor="300"/>)";
  struct Case {
    const char* name;
    std::string text;
    const wchar_t* code;
  } cases[] = {
      {"empty body", "", L"1411"},
      {"white space only", " \r\n\t", L"1411"},
      {"plain text", "Service Unavailable", L"1431"},
      {"an unterminated error page", "<html><head><title>500 Internal Server Error</title>", L"1431"},
      {"an HTML error page", "<html><body><h1>404 Not Found</h1></body></html>", L"1411"},
      {"a broken attribute", "<version><ActiveX major=11/></version>", L"1431"},
      {"a version element nested in another", "<update>" + kManifest + "</update>", L"1411"},
      {"Version in other letter case", "<Version>" + kActiveX + kPlugin + kSauConfig + "</Version>", L"1411"},
      {"no ActiveX element", "<version>" + kPlugin + kSauConfig + "</version>", L"1437"},
      {"activeX in other letter case",
       "<version>" + std::string(R"(<activeX major="1" minor="1" buildMajor="1" buildMinor="1"/>)") + kPlugin +
           kSauConfig + "</version>",
       L"1437"},
      {"ActiveX below another child",
       "<version><group>" + kActiveX + "</group>" + kPlugin + kSauConfig + "</version>", L"1437"},
      {"ActiveX without minor",
       "<version>" + std::string(R"(<ActiveX major="1" buildMajor="1" buildMinor="1"/>)") + kPlugin + kSauConfig +
           "</version>",
       L"1434"},
      {"ActiveX with Major for major",
       "<version>" + std::string(R"(<ActiveX Major="1" minor="1" buildMajor="1" buildMinor="1"/>)") + kPlugin +
           kSauConfig + "</version>",
       L"1434"},
      {"no Plugin element", "<version>" + kActiveX + kSauConfig + "</version>", L"1438"},
      {"PlugIn in other letter case",
       "<version>" + kActiveX + R"(<PlugIn major="1" minor="1" buildMajor="1" buildMinor="1"/>)" + kSauConfig +
           "</version>",
       L"1438"},
      {"Plugin without buildMinor", "<version>" + kActiveX + plugin3 + kSauConfig + "</version>", L"1435"},
      {"no SAUConfig element", "<version>" + kActiveX + kPlugin + "</version>", L"1439"},
      {"SauConfig in other letter case",
       "<version>" + kActiveX + kPlugin + R"(<SauConfig checkFrequency="2"/>)" + "</version>", L"1439"},
      {"no checkFrequency", "<version>" + kActiveX + kPlugin + "<SAUConfig/></version>", L"1436"},
      {"checkfrequency in other letter case",
       "<version>" + kActiveX + kPlugin + R"(<SAUConfig checkfrequency="2"/>)" + "</version>", L"1436"},
      {"ActiveX missing wins over a missing Plugin", "<version>" + kSauConfig + "</version>", L"1437"},
  };
  for (const Case& c : cases) {
    Result r = Parse(c.text);
    EXPECT_FALSE(r.ok) << c.name;
    EXPECT_EQ(r.messages, std::vector<std::wstring>{c.code}) << c.name;
    EXPECT_FALSE(r.activeX || r.plugin || r.checkFrequency) << c.name;
  }
}

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(ParseVersionManifest, DeepNestingIsRefusedBeforeItCanExhaustTheStack) {
  // A manifest inside `levels` levels of other elements below <version>.
  auto wrapped = [](int levels) {
    return "<version>" + Repeat("<x>", levels) + Repeat("</x>", levels) + kActiveX + kPlugin + kSauConfig +
           "</version>";
  };
  struct Case {
    const char* name;
    std::string text;
    bool ok;
  } cases[] = {
      {"a hundred levels in all", wrapped(99), true},
      {"a hundred and one", wrapped(100), false},
      {"many elements side by side", "<version>" + Repeat("<x a='1'>t</x><y/>", 20000) + kActiveX + kPlugin +
                                         kSauConfig + "</version>", true},
      {"nesting spelt out in a comment", "<!--" + Repeat("<x>", 1000) + "-->" + kManifest, true},
      {"a hundred thousand levels", Repeat("<x>", 100000), false},
      {"closing tags hidden in comments", Repeat("<x><!-- </x> -->", 5000), false},
      {"closing tags hidden in attribute values", Repeat("<x a='</x>' b=\"</x>\">", 5000), false},
      {"closing tags hidden in CDATA sections", Repeat("<x><![CDATA[</x>]]>", 5000), false},
      {"closing tags hidden in processing instructions", Repeat("<x><?pi </x>?>", 5000), false},
      {"closing tags hidden in a DOCTYPE subset",
       "<!DOCTYPE version [" + Repeat("</x>", 5000) + "]>" + Repeat("<x>", 5000), false},
      {"closing tags hidden in other <! nodes", Repeat("<x><!ELEMENT </x>>", 5000), false},
  };
  for (const Case& c : cases) {
    Result r = Parse(c.text);
    EXPECT_EQ(r.ok, c.ok) << c.name;
    if (!c.ok) {
      EXPECT_EQ(r.messages, std::vector<std::wstring>{L"1431"}) << c.name;
    }
  }
}

TEST(ParseVersionManifest, NullPointersFailAtOnceWithoutALogLine) {
  LogCapture log(true);
  std::string text = kManifest;
  std::unique_ptr<ComponentVersion> a, p;
  std::unique_ptr<std::uint32_t> f;
  EXPECT_FALSE(ParseVersionManifest(nullptr, &a, &p, &f));
  EXPECT_FALSE(ParseVersionManifest(text.data(), nullptr, &p, &f));
  EXPECT_FALSE(ParseVersionManifest(text.data(), &a, nullptr, &f));
  EXPECT_FALSE(ParseVersionManifest(text.data(), &a, &p, nullptr));
  EXPECT_TRUE(log.Messages().empty());
  EXPECT_FALSE(a || p || f);
  // The text was not touched either.
  EXPECT_EQ(text, kManifest);
}

TEST(ParseVersionManifest, RunningOutOfMemoryDeliversNothing) {
  struct Case {
    const char* name;
    std::size_t minSize, maxSize;
    int skip;
    const wchar_t* code;
  } cases[] = {
      // The document carries its own pool of several kilobytes; the results
      // are small objects allocated after it is gone.
      {"the parser's document", 4096, static_cast<std::size_t>(-1), 0, L"1410"},
      {"the ActiveX control's version", sizeof(ComponentVersion), sizeof(ComponentVersion), 0, L"1430"},
      {"the plug-in's version", sizeof(ComponentVersion), sizeof(ComponentVersion), 1, L"1430"},
      {"the check frequency", sizeof(std::uint32_t), sizeof(std::uint32_t), 0, L"1430"},
  };
  for (const Case& c : cases) {
    LogCapture log(true);
    std::string text = kManifest;
    std::unique_ptr<ComponentVersion> a, p;
    std::unique_ptr<std::uint32_t> f;
    bool ok;
    bool triggered;
    {
      ScopedAllocationFailure failure(c.minSize, c.maxSize, c.skip);
      ok = ParseVersionManifest(text.data(), &a, &p, &f);
      triggered = failure.Triggered();
    }
    ASSERT_TRUE(triggered) << c.name;
    EXPECT_FALSE(ok) << c.name;
    EXPECT_FALSE(a || p || f) << c.name;
    EXPECT_EQ(log.Messages(), std::vector<std::wstring>{c.code}) << c.name;
  }
}

}  // namespace
