#include "support/message_catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

TEST(MessageCatalogue, AscendingUniqueCodesWithTheLevelOfTheirHundred) {
  std::set<std::int32_t> seen;
  std::int32_t previous = 0;
  for (std::size_t i = 0; i < MessageCatalogueSize(); ++i) {
    const MessageInfo& m = MessageCatalogue()[i];
    EXPECT_GT(m.code, previous) << m.code;
    previous = m.code;
    EXPECT_TRUE(seen.insert(m.code).second) << m.code;
    const int hundred = m.code / 100;
    const LogLevel expected = (hundred == 12 || hundred == 13) ? kLogError : hundred == 14 ? kLogWarning : kLogInformation;
    EXPECT_TRUE(hundred == 12 || hundred == 13 || hundred == 14 || hundred == 16) << m.code;
    EXPECT_EQ(m.level, expected) << m.code;
    ASSERT_NE(m.meaning, nullptr);
    EXPECT_GT(std::string(m.meaning).size(), 10u) << m.code;
    EXPECT_EQ(FindMessage(m.code), &m);
  }
}

TEST(MessageCatalogue, NumbersOutsideTheTableAreUnknown) {
  for (std::int32_t code : {0, 1199, 1202, 1204, 1208, 1213, 1236, 1306, 1412, 1416, 1420, 1432, 1433, 1611, 1621, 1630}) {
    EXPECT_EQ(FindMessage(code), nullptr) << code;
  }
}

}  // namespace

// Emitters name their codes through MessageCode, so every enumerator is a
// code the program can write: each needs a row with its meaning. The header
// is read as text, so an enumerator added without a row fails here.
namespace {

std::string ReadSource(const std::string& relative) {
  std::ifstream in(std::string(VEXEL_SOURCE_DIR) + "/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string WithoutLineComments(const std::string& text) {
  return std::regex_replace(text, std::regex("//[^\n]*"), "");
}

TEST(MessageCatalogue, EveryMessageCodeEnumeratorHasARow) {
  const std::string header = WithoutLineComments(ReadSource("support/message_catalogue.h"));
  const std::size_t open = header.find("enum class MessageCode");
  ASSERT_NE(open, std::string::npos) << "support/message_catalogue.h has no enum class MessageCode";
  const std::size_t bodyStart = header.find('{', open);
  const std::size_t bodyEnd = header.find('}', bodyStart);
  ASSERT_NE(bodyEnd, std::string::npos);
  const std::string body = header.substr(bodyStart + 1, bodyEnd - bodyStart - 1);

  const std::regex enumerator(R"(^\s*([A-Za-z_][A-Za-z0-9_]*)\s*=\s*([0-9]+)\s*$)");
  std::set<std::string> names;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t comma = body.find(',', start);
    if (comma == std::string::npos) comma = body.size();
    const std::string item = body.substr(start, comma - start);
    start = comma + 1;
    if (item.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    std::smatch m;
    // Every enumerator spells out its number: codes are never renumbered.
    ASSERT_TRUE(std::regex_match(item, m, enumerator)) << "enumerator without a plain number: " << item;
    EXPECT_TRUE(names.insert(m[1]).second) << "named twice: " << m[1];
    const std::int32_t code = std::stoi(m[2]);
    EXPECT_NE(FindMessage(code), nullptr) << m[1] << " = " << code << " has no row in the message catalogue";
  }
  EXPECT_FALSE(names.empty());
}

// A code written as a number in a LogWrite call, not through MessageCode,
// needs its row as well.
TEST(MessageCatalogue, CodesWrittenByNumberHaveARow) {
  namespace fs = std::filesystem;
  const std::regex codeNumber(R"(\b(1[0-9]{3})\b)");
  std::size_t filesRead = 0;
  for (const char* folder : {"app", "service", "update", "transfer", "config", "task", "support", "platform"}) {
    const fs::path dir = fs::path(VEXEL_SOURCE_DIR) / folder;
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& file : fs::recursive_directory_iterator(dir)) {
      const std::string ext = file.path().extension().string();
      if (ext != ".cpp" && ext != ".h") continue;
      ++filesRead;
      const std::string text = WithoutLineComments(ReadSource(fs::relative(file.path(), VEXEL_SOURCE_DIR).string()));
      for (std::size_t at = text.find("LogWrite("); at != std::string::npos; at = text.find("LogWrite(", at + 1)) {
        // The call's arguments, up to the parenthesis that closes it.
        std::size_t end = at + 9;
        for (int depth = 1; end < text.size() && depth > 0; ++end) {
          if (text[end] == '(') ++depth;
          if (text[end] == ')') --depth;
        }
        const std::string call = text.substr(at, end - at);
        for (std::sregex_iterator m(call.begin(), call.end(), codeNumber), none; m != none; ++m) {
          EXPECT_NE(FindMessage(std::stoi((*m)[1])), nullptr)
              << file.path() << ": " << call << " writes a code that has no row in the message catalogue";
        }
      }
    }
  }
  EXPECT_GT(filesRead, 0u);
}

}  // namespace
