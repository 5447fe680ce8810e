// vexel-publish manifest and check-manifest against the updater's own
// manifest fetch: what manifest writes is read back to the same values, and
// check-manifest accepts and refuses exactly what the fetch does, with the
// same codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "support/message_catalogue.h"
#include "support/utf16.h"
#include "tests/fakes/fake_http_client.h"
#include "tests/fakes/fake_steady_clock.h"
#include "tests/fakes/log_capture.h"
#include "tests/publish/publish_program.h"
#include "tests/support/temp_dir.h"
#include "transfer/version_manifest.h"

namespace {

using testing::HasSubstr;
using Numbers = std::array<std::uint32_t, 4>;

struct UpdaterReading {
  bool ok = false;
  Numbers activeX{};
  Numbers plugin{};
  std::uint32_t checkFrequency = 0;
  std::vector<std::string> codes;  // every line the fetch logged
};

// The updater's fetch of `body`, served in one piece by a fake server, with
// the updater's own bounds.
UpdaterReading FetchAsTheUpdater(const std::string& body) {
  FakeHttpClient http;
  FakeSteadyClock clock;
  platform::ScopedSeam<platform::HttpClient> httpSeam(&http);
  platform::ScopedSeam<platform::SteadyClock> clockSeam(&clock);
  http.body.push_back(FakeHttpClient::Chunk{body});
  std::unique_ptr<ComponentVersion> activeX;
  std::unique_ptr<ComponentVersion> plugin;
  std::unique_ptr<std::uint32_t> checkFrequency;
  UpdaterReading reading;
  LogCapture log(true);
  const ManifestSource source{L"localhost", kManifestPort, kManifestPath, kManifestLimits};
  reading.ok = FetchVersionManifestFrom(source, &activeX, &plugin, &checkFrequency);
  for (const std::wstring& message : log.Messages()) reading.codes.push_back(WideToUtf8(message));
  if (reading.ok) {
    reading.activeX = {activeX->major, activeX->minor, activeX->buildMajor, activeX->buildMinor};
    reading.plugin = {plugin->major, plugin->minor, plugin->buildMajor, plugin->buildMinor};
    reading.checkFrequency = *checkFrequency;
  }
  return reading;
}

std::string Text(const Numbers& n) {
  return std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." + std::to_string(n[3]);
}

TEST(ManifestsWritten, AreReadByTheUpdaterToTheValuesGiven) {
  struct Case {
    Numbers activeX;
    Numbers plugin;
    std::uint32_t checkFrequency;
    bool warned;  // outside the 1 to 3 days the schedule keeps
  } cases[] = {
      {{11, 2, 202, 235}, {11, 3, 300, 1}, 2, false},
      {{0, 0, 0, 0}, {0, 0, 0, 0}, 1, false},
      {{4294967295u, 4294967295u, 4294967295u, 4294967295u}, {1, 0, 0, 4294967295u}, 3, false},
      {{9, 0, 0, 1}, {10, 1, 0, 0}, 0, true},
      {{9, 0, 0, 1}, {10, 1, 0, 0}, 4, true},
      {{9, 0, 0, 1}, {10, 1, 0, 0}, 4294967295u, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Text(c.activeX) + " " + Text(c.plugin) + " " + std::to_string(c.checkFrequency));
    TempDir dir;
    const ProgramRun written =
        RunPublish({"manifest", "--activex", Text(c.activeX), "--plugin", Text(c.plugin), "--check-frequency",
                    std::to_string(c.checkFrequency), "--out", "version.xml"},
                   dir.Path());
    ASSERT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(written.err.find("warning: --check-frequency") != std::string::npos, c.warned) << written.err;

    const std::string document = ReadFileBytes(dir / "version.xml");
    const UpdaterReading updater = FetchAsTheUpdater(document);
    ASSERT_TRUE(updater.ok);
    EXPECT_TRUE(updater.codes.empty());
    EXPECT_EQ(updater.activeX, c.activeX);
    EXPECT_EQ(updater.plugin, c.plugin);
    EXPECT_EQ(updater.checkFrequency, c.checkFrequency);

    // The same to the standard output.
    const ProgramRun printed = RunPublish({"manifest", "--activex", Text(c.activeX), "--plugin", Text(c.plugin),
                                           "--check-frequency", std::to_string(c.checkFrequency), "--out", "-"},
                                          dir.Path());
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.out, document);

    const ProgramRun checked = RunPublish({"check-manifest", "version.xml"}, dir.Path());
    EXPECT_EQ(checked.exitCode, 0) << checked.out;
    EXPECT_THAT(checked.out, HasSubstr("\n  ActiveX control (flavour 1): " + Text(c.activeX) + "\n"));
    EXPECT_THAT(checked.out, HasSubstr("\n  plug-in (flavour 2): " + Text(c.plugin) + "\n"));
    EXPECT_THAT(checked.out, HasSubstr("\n  check frequency: " + std::to_string(c.checkFrequency)));
  }
}

const std::string kActiveX = R"(<ActiveX major="11" minor="2" buildMajor="202" buildMinor="235"/>)";
const std::string kPlugin = R"(<Plugin major="11" minor="3" buildMajor="300" buildMinor="1"/>)";
const std::string kSauConfig = R"(<SAUConfig checkFrequency="2"/>)";
const std::string kManifest = "<version>" + kActiveX + kPlugin + kSauConfig + "</version>";

// Padding `document` with blanks to `size` bytes.
std::string PaddedTo(const std::string& document, std::size_t size) {
  return document + std::string(size - document.size(), ' ');
}

// `levels` elements, each inside the one before.
std::string Nested(int levels) {
  std::string open;
  std::string close;
  for (int i = 0; i < levels; ++i) {
    open += "<x>";
    close += "</x>";
  }
  return open + close;
}

TEST(ManifestsChecked, GetTheUpdatersVerdictAndCodes) {
  struct Case {
    const char* name;
    std::string body;
    std::vector<std::string> codes;  // what the updater logs: empty for an accepted manifest
  } cases[] = {
      {"a manifest", kManifest, {}},
      {"lenient numbers",
       "<version>" + std::string(R"(<ActiveX major="11abc" minor="" buildMajor="-1" buildMinor="7"/>)") + kPlugin +
           R"(<SAUConfig checkFrequency=" 5 days"/>)" + "</version>",
       {}},
      {"exactly the size bound", PaddedTo(kManifest, 1024 * 1024), {}},
      {"a zero byte ends the text", kManifest + std::string(1, '\0') + "<broken", {}},
      {"one byte past the size bound", PaddedTo(kManifest, 1024 * 1024 + 1), {"1409"}},
      {"empty", "", {"1411", "1409"}},
      {"plain text", "Service Unavailable", {"1431", "1409"}},
      {"an HTML error page", "<html><body><h1>404 Not Found</h1></body></html>", {"1411", "1409"}},
      {"a zero byte before the manifest", std::string(1, '\0') + kManifest, {"1411", "1409"}},
      {"nested too deeply",
       "<version>" + Nested(150) + kActiveX + kPlugin + kSauConfig + "</version>",
       {"1431", "1409"}},
      {"no ActiveX", "<version>" + kPlugin + kSauConfig + "</version>", {"1437", "1409"}},
      {"ActiveX without minor",
       "<version>" + std::string(R"(<ActiveX major="1" buildMajor="1" buildMinor="1"/>)") + kPlugin + kSauConfig +
           "</version>",
       {"1434", "1409"}},
      {"no Plugin", "<version>" + kActiveX + kSauConfig + "</version>", {"1438", "1409"}},
      {"Plugin without buildMinor",
       "<version>" + kActiveX + R"(<Plugin major="11" minor="3" buildMajor="300"/>)" + kSauConfig + "</version>",
       {"1435", "1409"}},
      {"no SAUConfig", "<version>" + kActiveX + kPlugin + "</version>", {"1439", "1409"}},
      {"no checkFrequency", "<version>" + kActiveX + kPlugin + "<SAUConfig/></version>", {"1436", "1409"}},
      {"Version in other letter case", "<Version>" + kActiveX + kPlugin + kSauConfig + "</Version>", {"1411", "1409"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const UpdaterReading updater = FetchAsTheUpdater(c.body);
    ASSERT_EQ(updater.codes, c.codes) << "the updater no longer reads this manifest as the table says";

    TempDir dir;
    WriteFileBytes(dir / "version.xml", c.body);
    for (const std::string& source : {std::string("version.xml"), std::string("-")}) {
      const ProgramRun run = RunPublish({"check-manifest", source}, dir.Path(), source == "-" ? c.body : "");
      ASSERT_EQ(run.exitCode, updater.ok ? 0 : 1) << run.out << run.err;
      EXPECT_EQ(run.err, "");
      const std::vector<std::string> lines = LinesOf(run.out);
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.front(), std::string(updater.ok ? "accepted: " : "refused: ") +
                                   (source == "-" ? "(standard input)" : "version.xml"));
      std::vector<std::string> logged;
      for (const std::string& line : lines) {
        const std::string prefix = "  the updater logs ";
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string code = line.substr(prefix.size(), line.find(':') - prefix.size());
        logged.push_back(code);
        const MessageInfo* info = FindMessage(std::stoi(code));
        ASSERT_NE(info, nullptr) << code;
        EXPECT_EQ(line, prefix + code + ": " + info->meaning);
      }
      EXPECT_EQ(logged, updater.codes);
      if (updater.ok) {
        EXPECT_THAT(run.out, HasSubstr("\n  ActiveX control (flavour 1): " + Text(updater.activeX) + "\n"));
        EXPECT_THAT(run.out, HasSubstr("\n  plug-in (flavour 2): " + Text(updater.plugin) + "\n"));
        EXPECT_THAT(run.out, HasSubstr("\n  check frequency: " + std::to_string(updater.checkFrequency)));
      }
    }
  }
}

TEST(ManifestsChecked, NameTheValuesTheUpdaterReadsLeniently) {
  TempDir dir;
  WriteFileBytes(dir / "version.xml",
                 "<version>" + std::string(R"(<ActiveX major="11abc" minor="02" buildMajor="-1" buildMinor="7"/>)") +
                     kPlugin + R"(<SAUConfig checkFrequency="9"/>)" + "</version>");
  const ProgramRun run = RunPublish({"check-manifest", "version.xml"}, dir.Path());
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.out, HasSubstr("\n  note: ActiveX major=\"11abc\" is read as 11\n"));
  EXPECT_THAT(run.out, HasSubstr("\n  note: ActiveX minor=\"02\" is read as 2\n"));
  EXPECT_THAT(run.out, HasSubstr("\n  note: ActiveX buildMajor=\"-1\" is read as 4294967295\n"));
  EXPECT_EQ(run.out.find("buildMinor"), std::string::npos) << "a plain number needs no note";
  EXPECT_THAT(run.out, HasSubstr("check frequency: 9 (the updater's schedule keeps 1 to 3 days: it waits 3)"));
}

}  // namespace
