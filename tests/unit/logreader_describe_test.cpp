// What the log reader prints for an entry: the catalogue's meaning, the
// number after the code explained, foreign bytes shown.
#include "tools/logreader/log_describe.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/message_catalogue.h"
#include "tests/fakes/fake_reader_system.h"
#include "tools/logreader/windows_errors.h"

namespace {

using logreader::DescribeEntry;
using logreader::EntryKind;
using logreader::LogEntry;

const LogTime kTime{2010, 11, 3, 9, 5, 42, 96};

LogEntry Decode(const std::string& bytes) {
  logreader::LogSplitter splitter;
  std::vector<LogEntry> entries;
  splitter.Feed(bytes, entries);
  if (splitter.HasTail()) entries.push_back(splitter.Tail());
  EXPECT_EQ(entries.size(), 1u);
  return entries.empty() ? LogEntry{} : entries[0];
}

std::string Describe(LogLevel level, const std::wstring& message) {
  return DescribeEntry(Decode(LogLineBytes(kTime, level, message)));
}

std::string Meaning(MessageCode code) { return MessageFor(code).meaning; }

TEST(LogDescribe, LinesReadAsTimeLevelCodeAndMeaning) {
  struct Case {
    LogLevel level;
    std::wstring message;
    std::string printed;
  } cases[] = {
      {kLogInformation, L"1608", "2010-11-03T09:05:42.096Z info    1608 " + Meaning(MessageCode::CycleStarted)},
      {kLogError, L"1219 5",
       "2010-11-03T09:05:42.096Z error   1219 " + Meaning(MessageCode::CreateOpenManagerFailed) +
           "; last Windows error 5 (ERROR_ACCESS_DENIED)"},
      {kLogWarning, L"1401 12029",
       "2010-11-03T09:05:42.096Z warning 1401 " + Meaning(MessageCode::ManifestConnectFailed) +
           "; last Windows error 12029 (ERROR_WINHTTP_CANNOT_CONNECT)"},
      {kLogInformation, L"1622 4",
       "2010-11-03T09:05:42.096Z info    1622 " + Meaning(MessageCode::ControlReceived) +
           "; control code 4 = interrogate (SERVICE_CONTROL_INTERROGATE)"},
      {kLogInformation, L"1629 upd\u00e4te.example.org",
       "2010-11-03T09:05:42.096Z info    1629 " + Meaning(MessageCode::ManifestHostConfigured) +
           "; host name \"upd\xc3\xa4te.example.org\""},
      {kLogInformation, L"C:\\Program Files\\Orrin\\Vexel Player\\VexelPlayerUpdateService.exe",
       "2010-11-03T09:05:42.096Z info    text \"C:\\Program Files\\Orrin\\Vexel Player\\VexelPlayerUpdateService.exe\""
       " (a start line: the executable's path or the first argument)"},
      {kLogInformation, L"-install\t\x1b",
       "2010-11-03T09:05:42.096Z info    text \"-install\\t\\x1B\" (a start line: the executable's path or the first "
       "argument)"},
      {kLogError, L"", "2010-11-03T09:05:42.096Z error   text \"\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Describe(c.level, c.message), c.printed);
  }
}

TEST(LogDescribe, SurprisesAreShownNotHidden) {
  struct Case {
    LogLevel level;
    std::wstring message;
    std::string tail;  // how the printed line ends
  } cases[] = {
      {kLogError, L"1999", "1999 unknown code: the message catalogue has no meaning for it"},
      {kLogError, L"1999 5", "1999 unknown code: the message catalogue has no meaning for it; number 5"},
      {kLogError, L"1202 abc", "1202 unknown code: the message catalogue has no meaning for it; text \"abc\""},
      {kLogInformation, L"1608 5", Meaning(MessageCode::CycleStarted) + "; unexpected after the code: \"5\""},
      {kLogError, L"1219", Meaning(MessageCode::CreateOpenManagerFailed) + "; the error number is missing"},
      {kLogError, L"1219 x", Meaning(MessageCode::CreateOpenManagerFailed) +
                                 "; unexpected text where the error number belongs: \"x\""},
      {kLogInformation, L"1622", Meaning(MessageCode::ControlReceived) + "; the number is missing"},
      {kLogInformation, L"1628", Meaning(MessageCode::DownloadHostConfigured) + "; the host name is missing"},
      {kLogInformation, L"1219 5", Meaning(MessageCode::CreateOpenManagerFailed) +
                                       "; last Windows error 5 (ERROR_ACCESS_DENIED); written as info, though the "
                                       "code is error"},
  };
  for (const Case& c : cases) {
    const std::string printed = Describe(c.level, c.message);
    ASSERT_GE(printed.size(), c.tail.size()) << printed;
    EXPECT_EQ(printed.substr(printed.size() - c.tail.size()), c.tail) << printed;
  }
}

TEST(LogDescribe, WindowsErrorsByNameAndAsHresult) {
  struct Case {
    std::int32_t value;
    std::string text;
  } cases[] = {
      {0, "last Windows error 0 (ERROR_SUCCESS)"},
      {5, "last Windows error 5 (ERROR_ACCESS_DENIED)"},
      {1063, "last Windows error 1063 (ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)"},
      {12175, "last Windows error 12175 (ERROR_WINHTTP_SECURE_FAILURE)"},
      {4242, "last Windows error 4242"},
      {-1, "last Windows error -1 = 0xFFFFFFFF"},
      {static_cast<std::int32_t>(0x80070005u), "last Windows error -2147024891 = 0x80070005 (E_ACCESSDENIED)"},
      {static_cast<std::int32_t>(0x80070002u),
       "last Windows error -2147024894 = 0x80070002 (Windows error 2 ERROR_FILE_NOT_FOUND as an HRESULT)"},
      {static_cast<std::int32_t>(0x80070FFFu), "last Windows error -2147020801 = 0x80070FFF (Windows error 4095 as an HRESULT)"},
      {static_cast<std::int32_t>(0x80004001u), "last Windows error -2147467263 = 0x80004001 (E_NOTIMPL)"},
      {static_cast<std::int32_t>(0x800B0109u), "last Windows error -2146762487 = 0x800B0109 (CERT_E_UNTRUSTEDROOT)"},
  };
  for (const Case& c : cases) EXPECT_EQ(logreader::ExplainWindowsError(c.value), c.text);
}

TEST(LogDescribe, ServiceControlCodes) {
  EXPECT_EQ(logreader::ExplainServiceControl(1), "control code 1 = stop (SERVICE_CONTROL_STOP)");
  EXPECT_EQ(logreader::ExplainServiceControl(4), "control code 4 = interrogate (SERVICE_CONTROL_INTERROGATE)");
  EXPECT_EQ(logreader::ExplainServiceControl(5), "control code 5 = shutdown (SERVICE_CONTROL_SHUTDOWN)");
  EXPECT_EQ(logreader::ExplainServiceControl(200), "control code 200 = a control of the service's own (128 to 255)");
  EXPECT_EQ(logreader::ExplainServiceControl(99), "control code 99 (not a known service control)");
  EXPECT_EQ(logreader::ExplainServiceControl(-1), "control code -1 (not a known service control)");
}

TEST(LogDescribe, NameTablesAreAscendingAndUnique) {
  // Lookups halve the tables: a row out of order would hide others.
  for (std::size_t i = 0; i < logreader::WindowsErrorNameCount(); ++i) {
    const logreader::NamedCode& row = logreader::WindowsErrorNames()[i];
    if (i > 0) {
      EXPECT_LT(logreader::WindowsErrorNames()[i - 1].value, row.value) << row.name;
    }
    EXPECT_STREQ(logreader::WindowsErrorName(row.value), row.name);
  }
  for (std::size_t i = 0; i < logreader::ServiceControlCount(); ++i) {
    const logreader::ServiceControl& row = logreader::ServiceControls()[i];
    if (i > 0) {
      EXPECT_LT(logreader::ServiceControls()[i - 1].value, row.value) << row.name;
    }
    EXPECT_EQ(logreader::FindServiceControl(row.value), &row);
  }
}

TEST(LogDescribe, ForeignBytesShownAsWhatTheyLookLike) {
  struct Case {
    std::string bytes;
    std::string shown;
  } cases[] = {
      {"hello\r\n", "8-bit text \"hello\\r\\n\""},
      {"gr\xc3\xbc\xc3\x9f", "8-bit text \"gr\xc3\xbc\xc3\x9f\""},
      {Utf16Bytes(L"2010-11-3+9-5-4"), "UTF-16 text \"2010-11-3+9-5-4\""},
      {Utf16Bytes(L"abc") + "\x00", "UTF-16 text \"abc\""},
      {std::string("\x00\x01\xff\xfe\x80", 5), "bytes 00 01 FF FE 80"},
      {std::string(40, '\xff'),
       "bytes FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF ... "
       "(40 bytes in all)"},
      {std::string(300, 'a'), "8-bit text \"" + std::string(240, 'a') + "\" ... (300 bytes in all)"},
  };
  for (const Case& c : cases) EXPECT_EQ(logreader::ShowForeignBytes(c.bytes), c.shown);
}

TEST(LogDescribe, UnparsedAndIncompleteEntriesSayWhereAndWhy) {
  logreader::LogSplitter splitter;
  std::vector<LogEntry> entries;
  splitter.Feed(LogLineBytes(kTime, kLogError, L"1219 5") + "abc" + LogLineBytes(kTime, kLogError, L"1220 5") +
                    Utf16Bytes(L"2010-11-3+9-5-4"),
                entries);
  ASSERT_EQ(entries.size(), 3u);
  ASSERT_TRUE(splitter.HasTail());
  EXPECT_EQ(DescribeEntry(entries[1]),
            "[unparsed at byte 72, 3 bytes: an odd number of bytes, no UTF-16 text] 8-bit text \"abc\"");
  EXPECT_EQ(DescribeEntry(splitter.Tail()),
            "[incomplete last line at byte 147, 30 bytes: no line end yet; still being written, or cut off] "
            "UTF-16 text \"2010-11-3+9-5-4\"");
}

// Every code of the catalogue, written in each shape its row allows, reads
// back as its own code with the catalogue's meaning, and nothing about it
// looks wrong to the reader.
TEST(LogReaderCatalogue, DecodesEveryCodeOfTheCatalogue) {
  ASSERT_GT(MessageCatalogueSize(), 0u);
  std::set<std::int32_t> decoded;
  for (std::size_t i = 0; i < MessageCatalogueSize(); ++i) {
    const MessageInfo& row = MessageCatalogue()[i];
    const std::wstring code = FormatNumber(row.code);
    struct Shape {
      std::wstring message;
      std::string explained;  // what the printed line shows of the argument
    };
    std::vector<Shape> shapes;
    switch (row.argument) {
      case MessageArgument::None: shapes = {{code, ""}}; break;
      case MessageArgument::LastError: shapes = {{code + L" 5", "; last Windows error 5 (ERROR_ACCESS_DENIED)"}}; break;
      case MessageArgument::Either:
        shapes = {{code, ""}, {code + L" 2", "; last Windows error 2 (ERROR_FILE_NOT_FOUND)"}};
        break;
      case MessageArgument::Number:
        shapes = {{code + L" 4", row.code == static_cast<std::int32_t>(MessageCode::ControlReceived)
                                     ? "; control code 4 = interrogate (SERVICE_CONTROL_INTERROGATE)"
                                     : "; number 4"}};
        break;
      case MessageArgument::Text: shapes = {{code + L" h\u00f6st.example", "; host name \"h\xc3\xb6st.example\""}}; break;
    }
    for (const Shape& shape : shapes) {
      SCOPED_TRACE(WideToUtf8(shape.message));
      const LogEntry e = Decode(LogLineBytes(kTime, row.level, shape.message));
      ASSERT_EQ(e.kind, EntryKind::Line);
      EXPECT_EQ(e.message.code, row.code);
      EXPECT_EQ(e.level, row.level);
      // Time, level, code, the catalogue's meaning, the argument explained,
      // and no remark about anything unexpected.
      std::string level = logreader::LevelName(row.level);
      level.resize(7, ' ');
      EXPECT_EQ(DescribeEntry(e),
                "2010-11-03T09:05:42.096Z " + level + " " + WideToUtf8(code) + " " + row.meaning + shape.explained);
      decoded.insert(e.message.code);
    }
  }
  EXPECT_EQ(decoded.size(), MessageCatalogueSize());
}

}  // namespace
