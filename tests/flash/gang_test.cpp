// A gang's view of its device processes, with a script standing in for
// dov-flash: rows that fit a narrow terminal, and a process that ends
// without a report named by its signal or its own last message.
#include "gang.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "support/temp_dir.h"

namespace dov::flash {
namespace {

// The device process by its port number (the second argument): 1 reports
// half its progress and success, 2 refuses its trace file, 3 is killed.
constexpr char kScript[] = R"sh(#!/bin/sh
case "$2" in
1) echo "progress: 50% (10240/20480 bytes)" >&2
   echo '{"port":"COM1","bytes_sent":20487,"bytes_total":20487,"duration_ms":1,"result":"ok","exit_code":0,"error":null}' ;;
2) echo "dov-flash: cannot write t.COM2: it is a symbolic link" >&2
   echo "(dov-flash --help lists the options)" >&2
   exit 2 ;;
3) kill -KILL $$ ;;
esac
)sh";

TEST(Gang, RowsFitTheTerminalAndEveryEndIsNamed) {
  dov::test::TempDir dir("dov-gang");
  const auto program = dir / "device";
  std::ofstream(program) << kScript;
  ::chmod(program.c_str(), 0755);
  std::FILE* file = std::tmpfile();
  constexpr int kColumns = 24;
  std::vector<TFlashOutcome> outcomes;
  {
    TOutputChannel out(fileno(file));
    outcomes = RunGang({program, {1, 2, 3}, {}, ""}, nullptr,
                       {&out, true, [] { return kColumns; }});
    out.Close(std::chrono::seconds(10));
  }
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].Code, kExitOk);
  EXPECT_EQ(outcomes[1].Code, kExitUsage);
  EXPECT_EQ(outcomes[1].Error,
            "its dov-flash process ended (exit code 2) without a report: "
            "dov-flash: cannot write t.COM2: it is a symbolic link");
  EXPECT_EQ(outcomes[2].Code, kExitTransferFailed);
  EXPECT_EQ(outcomes[2].Error,
            "its dov-flash process ended (killed by SIGKILL) without a report");

  std::rewind(file);
  std::string drawn;
  for (int c; (c = std::fgetc(file)) != EOF;) drawn += static_cast<char>(c);
  std::fclose(file);
  const std::string rows =
      std::regex_replace(drawn, std::regex("\x1b\\[[0-9]*[AJ]"), "");
  std::istringstream lines(rows);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    // Rows are cut to the width; a passed-on message is the process's own.
    if (line.starts_with("COM") && line.find(": ") != std::string::npos) {
      continue;
    }
    EXPECT_LT(line.size(), static_cast<std::size_t>(kColumns)) << line;
  }
  EXPECT_GT(count, 3);
  EXPECT_NE(rows.find("COM1   [#"), std::string::npos) << rows;
}

}  // namespace
}  // namespace dov::flash
