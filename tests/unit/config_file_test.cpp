#include "config/config_file.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "tests/fakes/fake_file_store.h"

namespace {

using Entries = std::map<std::string, std::string>;

const char kFolder[] = "/system/Kestran/Vexel";
const char kPath[] = "/system/Kestran/Vexel/vxm.cfg";

Entries EntriesOf(const ConfigFile& file) {
  Entries entries;
  for (const ConfigEntry* e = file.Table().First(); e != file.Table().Sentinel(); e = e->next) {
    entries[e->key] = e->value;
  }
  EXPECT_EQ(entries.size(), file.Table().Size());
  return entries;
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  ConfigFileTest() : seam_(&store_) { store_.folders.insert(kFolder); }
  FakeFileStore store_;
  platform::ScopedSeam<platform::FileStore> seam_;
};

TEST(TrimBlank, RemovesControlSpaceAndHighBytesFromBothEnds) {
  struct Case {
    std::string text;
    std::string trimmed;
  } cases[] = {
      {"  key  ", "key"},
      {"\t\r\n\x01\x1f key \x20", "key"},
      {"some value", "some value"},
      {"\x80v\xff", "v"},
      {"v\xc3\xa9", "v"},  // a UTF-8 letter at the end is lost with the end
      {"\xc3\xa9t\xc3\xa9", "t"},
      {"a\xc3\xa9" "b", "a\xc3\xa9" "b"},  // inner bytes stay
      {"   ", ""},
      {"\x81\xfe", ""},
      {"", ""},
      {std::string("\0a\0", 3), std::string("\0a\0", 3)},  // zero is not blank
      {"!~", "!~"},  // 0x21 and 0x7E are not blank
  };
  for (const Case& c : cases) EXPECT_EQ(std::string(TrimBlank(c.text)), c.trimmed) << testing::PrintToString(c.text);
}

// The parse rules, each file read once in one chunk and once a byte at a
// time: a line end split across two reads must not change anything.
TEST_F(ConfigFileTest, LinesGiveTheEntriesTheRulesGive) {
  struct Case {
    const char* what;
    std::string bytes;
    Entries entries;
  } cases[] = {
      {"trimmed key and value, inner space kept", "  key  =  some value  \n", {{"key", "some value"}}},
      {"the first equals sign splits", "key=a=b\n", {{"key", "a=b"}}},
      {"empty key or value, bare equals, blanks", "key=\n=value\n=\n   \n  =  \nx\n", {}},
      {"keys are case-sensitive", "Key=1\nkey=1\n", {{"Key", "1"}, {"key", "1"}}},
      {"inner spaces belong to the key", "my key=1\nmykey=2\n", {{"my key", "1"}, {"mykey", "2"}}},
      {"the last value counts", "k=1\nk=2\n", {{"k", "2"}}},
      {"high bytes at the ends of a value go", "k=\x80v\xff\n", {{"k", "v"}}},
      {"high bytes at the ends of a key go", "\xc3\xa9k\xc3\xa9=1\n", {{"k", "1"}}},
      {"three bytes are not read", "a=1", {}},
      {"four bytes are", "a=1\n", {{"a", "1"}}},
      {"no final line end", "a=12", {{"a", "12"}}},
      {"no final line end after lines", "a=1\nb=2", {{"a", "1"}, {"b", "2"}}},
      {"UTF-8 signature", "\xef\xbb\xbf" "a=1\n", {{"a", "1"}}},
      {"UTF-8 signature and three bytes", "\xef\xbb\xbf" "a=1", {{"a", "1"}}},
      {"UTF-8 signature and one byte", "\xef\xbb\xbf" "a", {}},
      {"a signature later is blank bytes", "a=1\n\xef\xbb\xbf" "b=2\n", {{"a", "1"}, {"b", "2"}}},
      {"UTF-16LE mark", Bytes({0xff, 0xfe, 'a', 0, '=', 0, '1', 0, '\n', 0}), {}},
      {"UTF-16BE mark", Bytes({0xfe, 0xff, 0, 'a', 0, '=', 0, '1', 0, '\n'}), {}},
      {"half a mark is a blank byte", "\xfe" "a=1\n", {{"a", "1"}}},
      {"CR LF", "a=1\r\nb=2\r\n", {{"a", "1"}, {"b", "2"}}},
      {"a lone CR ends a line", "a=1\rb=2", {{"a", "1"}, {"b", "2"}}},
      {"a lone CR before a blank line", "a=1\r\nb=2\r\rc=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
      {"CR CR LF", "a=1\r\r\nb=2", {{"a", "1"}, {"b", "2"}}},
      {"LF CR", "a=1\n\rb=2", {{"a", "1"}, {"b", "2"}}},
      {"blank lines and comments", "# note\n\n; a=b c\n[section]\nx=1\n\n", {{"; a", "b c"}, {"x", "1"}}},
      {"tabs are blank", "\tkey\t=\tv\t\n", {{"key", "v"}}},
      {"zero bytes are kept", std::string("a\0=1\0\n", 6), {{std::string("a\0", 2), std::string("1\0", 2)}}},
  };
  for (const Case& c : cases) {
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{1} << 16}) {
      store_.files[kPath] = c.bytes;
      store_.readChunk = chunk;
      ConfigFile file(kPath);
      EXPECT_EQ(EntriesOf(file), c.entries) << c.what << ", reads of " << chunk;
    }
  }
}

TEST_F(ConfigFileTest, GetAnswersEmptyTextForAnAbsentKeyOrFile) {
  store_.files[kPath] = "a=1\r\n";
  ConfigFile file(kPath);
  EXPECT_EQ(file.Get("a"), "1");
  EXPECT_EQ(file.Get("A"), "");
  EXPECT_EQ(file.Get("b"), "");
  ConfigFile missing("/system/Kestran/Vexel/none.cfg");
  EXPECT_EQ(missing.Get("a"), "");
  EXPECT_EQ(missing.Table().Size(), 0u);
  store_.failOpenWith = 5;
  ConfigFile refused(kPath);
  EXPECT_EQ(refused.Table().Size(), 0u);
}

TEST_F(ConfigFileTest, AReadErrorEndsTheFileThere) {
  store_.files[kPath] = "a=1\nb=2\nc=3\n";
  store_.readChunk = 5;  // "a=1\nb", then "=2\nc=", ...
  store_.failReadWith = 30;
  store_.readsBeforeFailure = 2;
  ConfigFile file(kPath);
  // The line "c=" that the error cut short has no value.
  EXPECT_EQ(EntriesOf(file), (Entries{{"a", "1"}, {"b", "2"}}));
}

TEST_F(ConfigFileTest, SaveWritesEntriesInTableOrderAndNothingElse) {
  struct Case {
    const char* what;
    std::string before;
    std::vector<std::pair<std::string, std::string>> sets;
    std::string after;
  } cases[] = {
      {"bucket 0 before bucket 2", "SilentAutoUpdateEnable=1\nAutoUpdateDisable=0\n", {},
       "AutoUpdateDisable=0\r\nSilentAutoUpdateEnable=1\r\n"},
      {"signature, comments, ignored lines and duplicates go",
       "\xef\xbb\xbf# admin notes\r\nk=1\r\nno equals sign\r\n=x\r\nk=2\r\n", {}, "k=2\r\n"},
      {"a UTF-16 file is replaced by the entries set since",
       Bytes({0xff, 0xfe, 'a', 0, '=', 0, '1', 0}), {{"b", "2"}}, "b=2\r\n"},
      {"a value set keeps its entry's place", "p=1\nb=2\n", {{"p", "9"}, {"a", "3"}}, "p=9\r\na=3\r\nb=2\r\n"},
      {"raw bytes are written back as read", "k=\xc3\xa9t\xc3\xa9 x\n", {}, "k=t\xc3\xa9 x\r\n"},
      {"an empty table empties the file", "# nothing\n", {}, ""},
  };
  for (const Case& c : cases) {
    store_.files.clear();
    store_.files[kPath] = c.before;
    ConfigFile file(kPath);
    for (const auto& [key, value] : c.sets) file.Set(key, value);
    EXPECT_TRUE(file.Save()) << c.what;
    EXPECT_EQ(store_.files[kPath], c.after) << c.what;
    EXPECT_EQ(store_.files.size(), 1u) << c.what << ": only the file itself is left";
  }
}

TEST_F(ConfigFileTest, SaveCreatesAMissingFileInAnExistingFolder) {
  ConfigFile file(kPath);
  file.Set("AutoUpdateDisable", "1");
  ASSERT_TRUE(file.Save());
  EXPECT_EQ(store_.files[kPath], "AutoUpdateDisable=1\r\n");
}

TEST_F(ConfigFileTest, SaveWithoutAFolderOrPathFailsAndCreatesNothing) {
  ConfigFile elsewhere("/no/such/folder/vxm.cfg");
  elsewhere.Set("a", "1");
  EXPECT_FALSE(elsewhere.Save());
  ConfigFile unnamed("");
  unnamed.Set("a", "1");
  EXPECT_FALSE(unnamed.Save());
  EXPECT_TRUE(store_.files.empty());
  EXPECT_TRUE(store_.created.empty());
}

// A save that fails at any step leaves the old file byte for byte, and no
// new file behind. The table is large enough for several writes, so that a
// write can fail after others went through.
TEST_F(ConfigFileTest, ASaveThatFailsPartWayLeavesTheOldFile) {
  const std::string before = "\xef\xbb\xbf# keep me\r\nAutoUpdateDisable=1\r\nOther=x\r\n";
  struct Case {
    const char* step;
    platform::ErrorNumber FakeFileStore::*failure;
    std::size_t failingWrite;
  } cases[] = {
      {"creating the new file", &FakeFileStore::failCreateWith, 0},
      {"the first write", &FakeFileStore::failWriteWith, 1},
      {"the second write", &FakeFileStore::failWriteWith, 2},
      {"the third write", &FakeFileStore::failWriteWith, 3},
      {"the flush", &FakeFileStore::failFlushWith, 0},
      {"the replace", &FakeFileStore::failReplaceWith, 0},
  };
  for (const Case& c : cases) {
    store_.files.clear();
    store_.created.clear();
    store_.writes = 0;
    store_.failCreateWith = store_.failWriteWith = store_.failFlushWith = store_.failReplaceWith = 0;
    store_.files[kPath] = before;
    ConfigFile file(kPath);
    for (int i = 0; i < 5000; ++i) file.Set("Key" + std::to_string(i), std::string(30, 'v'));
    store_.*c.failure = 112;
    store_.failingWrite = c.failingWrite;
    EXPECT_FALSE(file.Save()) << c.step;
    EXPECT_EQ(store_.files[kPath], before) << c.step;
    EXPECT_EQ(store_.files.size(), 1u) << c.step << ": the new file is gone";
    if (c.failingWrite > 1) {
      EXPECT_GE(store_.writes, c.failingWrite) << c.step;
    }
  }
}

// A file whose whole content is the text of a reference reading, done the
// simple way on the whole buffer.
Entries ReferenceReading(const std::string& bytes) {
  Entries entries;
  if (bytes.size() < 4) return entries;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t i = 0;
  if (b(0) == 0xef && b(1) == 0xbb && b(2) == 0xbf) {
    i = 3;
  } else if ((b(0) == 0xfe && b(1) == 0xff) || (b(0) == 0xff && b(1) == 0xfe)) {
    return entries;
  }
  const auto blank = [](char c) { return c != 0 && static_cast<signed char>(c) <= 0x20; };
  const auto trim = [&](std::string s) {
    while (!s.empty() && blank(s.back())) s.pop_back();
    std::size_t k = 0;
    while (k < s.size() && blank(s[k])) ++k;
    return s.substr(k);
  };
  std::vector<std::string> lines(1);
  for (; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back().push_back(bytes[i]);
    }
  }
  for (const std::string& line : lines) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = trim(line.substr(0, eq));
    const std::string value = trim(line.substr(eq + 1));
    if (!key.empty() && !value.empty()) entries[key] = value;
  }
  return entries;
}

TEST_F(ConfigFileTest, BinaryGarbageGivesTheTableOfTheRules) {
  std::mt19937 random(20101103);
  // Bytes drawn mostly from the ones that matter to the parser.
  const char interesting[] = {'=', '\r', '\n', ' ', 'a', 'b', '\0', '\x80', '\xff', '\xef', '\xbb', '\xbf', '\xfe'};
  for (int round = 0; round < 200; ++round) {
    std::string bytes(random() % 400, '\0');
    for (char& c : bytes) {
      c = random() % 2 ? interesting[random() % sizeof interesting] : static_cast<char>(random() % 256);
    }
    store_.files[kPath] = bytes;
    store_.readChunk = 1 + random() % 7;
    ConfigFile file(kPath);
    ASSERT_EQ(EntriesOf(file), ReferenceReading(bytes)) << testing::PrintToString(bytes);
  }
}

TEST_F(ConfigFileTest, LargeFilesAreReadWhole) {
  // One line of 16 MiB.
  std::string huge = "key=" + std::string(16 << 20, 'x') + "\r\n";
  store_.files[kPath] = huge;
  {
    ConfigFile file(kPath);
    EXPECT_EQ(file.Get("key").size(), std::size_t{16} << 20);
  }
  // A million lines, each its own key.
  std::string many;
  many.reserve(20 << 20);
  for (int i = 0; i < 1000000; ++i) many += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  store_.files[kPath] = many;
  {
    ConfigFile file(kPath);
    EXPECT_EQ(file.Table().Size(), 1000000u);
    EXPECT_EQ(file.Get("Key0"), "0");
    EXPECT_EQ(file.Get("Key999999"), "999999");
    file.Set("SilentAutoUpdateEnable", "1");
    ASSERT_TRUE(file.Save());
  }
  ConfigFile reread(kPath);
  EXPECT_EQ(reread.Table().Size(), 1000001u);
  EXPECT_EQ(reread.Get("Key123456"), "123456");
  // A UTF-16 file without a byte-order mark is bytes like any other.
  store_.files[kPath] = Bytes({'a', 0, '=', 0, '1', 0, '\n', 0, 'b', 0, '=', 0, '2', 0});
  ConfigFile utf16(kPath);
  EXPECT_EQ(EntriesOf(utf16), (Entries{{std::string("a\0", 2), std::string("\0" "1\0", 3)},
                                       {std::string("\0b\0", 3), std::string("\0" "2\0", 3)}}));
}

}  // namespace
