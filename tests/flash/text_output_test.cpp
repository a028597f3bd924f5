// What dov-flash prints: the progress on a terminal and in a log, and the
// final report.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "flash_report.h"
#include "text_progress.h"
#include "updater/output_channel.h"

namespace dov::flash {
namespace {

std::string Contents(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

// The procedure's use of the bar: shown at 0, one step and repaint per
// byte, hidden at the end; on a terminal `columns` wide.
std::string Progress(bool terminal, int steps, int columns = 120) {
  std::FILE* file = std::tmpfile();
  TOutputChannel channel(fileno(file));
  TTextProgress progress(&channel, terminal, [columns] { return columns; });
  progress.SetRange(0, 20480);
  progress.SetPosition(0);
  progress.SetStep(1);
  progress.SetVisible(true);
  for (int i = 0; i < steps; ++i) {
    progress.StepIt();
    progress.Repaint();
  }
  if (steps == 20480) progress.SetVisible(false);
  progress.Finish();
  channel.Close(std::chrono::seconds(10));
  std::string text = Contents(file);
  std::fclose(file);
  return text;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos;
       at += what.size())
    ++n;
  return n;
}

TEST(TextProgress, TerminalRedrawsOneLineOnlyWhenItChanges) {
  const std::string text = Progress(true, 20480);
  EXPECT_EQ(Count(text, "\r"), 101u);  // 0% to 100%
  EXPECT_EQ(Count(text, "\n"), 1u);
  EXPECT_NE(text.find("\r[########################################] 100%  "
                      "20480/20480 bytes\x1b[K\n"),
            std::string::npos);
  // A failure half-way leaves the line ended all the same.
  const std::string broken = Progress(true, 10240);
  EXPECT_TRUE(broken.ends_with("50%  10240/20480 bytes\x1b[K\n")) << broken;
}

// A line wider than the terminal wraps, and the next redraw then starts on
// the wrapped part: the bar narrows first, then the line is cut.
TEST(TextProgress, TheBarFitsTheTerminal) {
  const struct {
    int columns;
    const char* last;
  } cases[] = {
      {60, "\r[#################################] 100%  20480/20480 bytes"},
      {45, "\r[##################] 100%  20480/20480 bytes"},
      {30, "\r[##########] 100%  20480/2048"},
  };
  for (const auto& c : cases) {
    const std::string text = Progress(true, 20480, c.columns);
    const std::string last = text.substr(text.rfind('\r'));
    EXPECT_EQ(last, std::string(c.last) + "\x1b[K\n") << c.columns;
    EXPECT_LT(last.size() - 5, static_cast<std::size_t>(c.columns));
  }
}

TEST(TextProgress, LogsGetALineForEveryTenth) {
  const std::string text = Progress(false, 20480);
  EXPECT_EQ(Count(text, "\n"), 11u);
  EXPECT_EQ(Count(text, "\r"), 0u);
  EXPECT_TRUE(text.starts_with("progress: 0% (0/20480 bytes)\n"));
  EXPECT_TRUE(text.ends_with("progress: 100% (20480/20480 bytes)\n"));
}

TEST(FlashReport, TextAndJson) {
  TFlashOutcome outcome;
  outcome.Code = kExitTransferFailed;
  outcome.PortName = "COM12";
  outcome.BytesSent = 263;
  outcome.BytesTotal = 20487;
  outcome.DurationMs = 4321;
  outcome.Error = "cut \"short\"\\\n";
  EXPECT_EQ(FormatText(outcome),
            "port:        COM12\n"
            "bytes sent:  263 of 20487\n"
            "duration:    4.321 s\n"
            "result:      transfer failed\n"
            "error:       cut \"short\"\\\n\n");
  EXPECT_EQ(FormatJson(outcome),
            "{\n"
            "  \"port\": \"COM12\",\n"
            "  \"bytes_sent\": 263,\n"
            "  \"bytes_total\": 20487,\n"
            "  \"duration_ms\": 4321,\n"
            "  \"result\": \"transfer failed\",\n"
            "  \"exit_code\": 5,\n"
            "  \"error\": \"cut \\\"short\\\"\\\\\\n\",\n"
            "  \"error_detail\": null,\n"
            "  \"warnings\": []\n"
            "}\n");
  // What a gang run reads back from each device's process.
  const auto back = ParseJson(FormatJson(outcome));
  ASSERT_TRUE(back);
  EXPECT_EQ(FormatText(*back), FormatText(outcome));
  // The detail of a port error and the warnings beside the result, both
  // ways.
  TFlashOutcome warned = outcome;
  warned.ErrorDetail = "COM12 (/dev/ttyACM0): Input/output error";
  warned.Warnings = {"device console: disable failed", "trace incomplete"};
  EXPECT_TRUE(FormatText(warned).ends_with(
      "detail:      COM12 (/dev/ttyACM0): Input/output error\n"
      "warning:     device console: disable failed\n"
      "warning:     trace incomplete\n"))
      << FormatText(warned);
  const auto warnedBack = ParseJson(FormatJson(warned));
  ASSERT_TRUE(warnedBack);
  EXPECT_EQ(warnedBack->ErrorDetail, warned.ErrorDetail);
  EXPECT_EQ(warnedBack->Warnings, warned.Warnings);
  const std::string array = FormatJson(std::vector{outcome, outcome});
  EXPECT_TRUE(array.starts_with("[\n  {\n    \"port\": \"COM12\",")) << array;
  EXPECT_EQ(Count(array, "\"port\": \"COM12\""), 2u);
  outcome.Code = kExitOk;
  outcome.Error.clear();
  EXPECT_NE(FormatJson(outcome).find("\"error\": null"), std::string::npos);
  EXPECT_EQ(FormatText(outcome).find("error"), std::string::npos);
  for (const char* text :
       {"", "{}", "[]", "not json", "{\"port\": \"COM3\"}",
        "{\"port\":\"COM3\",\"bytes_sent\":1,\"bytes_total\":2,"
        "\"duration_ms\":3,\"result\":\"fine\",\"exit_code\":0,"
        "\"error\":null}"}) {
    EXPECT_FALSE(ParseJson(text)) << text;
  }
}

// File names reach the report in error messages, and a file name may hold
// any bytes: the JSON stays valid UTF-8 whatever they are.
TEST(FlashReport, JsonIsValidUtf8WhateverTheMessageHolds) {
  const struct {
    const char* name;
    std::string error;
    std::string shown;  // the message as a JSON reader gets it back
  } cases[] = {
      {"UTF-8",
       "/tmp/\xC3\xBC"
       "ber.hex: missing",
       "/tmp/\xC3\xBC"
       "ber.hex: missing"},
      {"a byte that is never UTF-8", "/tmp/\xFF.hex: missing",
       "/tmp/\xEF\xBF\xBD.hex: missing"},
      {"a sequence cut short", "/tmp/\xC3(.hex", "/tmp/\xEF\xBF\xBD(.hex"},
      {"a control character", std::string("a\0b\x1F", 4),
       std::string("a\0b\x1F", 4)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TFlashOutcome outcome;
    outcome.Code = kExitBadImage;
    outcome.Error = c.error;
    const std::string json = FormatJson(outcome);
    ASSERT_TRUE(nlohmann::json::accept(json)) << json;
    EXPECT_EQ(nlohmann::json::parse(json)["error"], c.shown);
  }
}

}  // namespace
}  // namespace dov::flash
