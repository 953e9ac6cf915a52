// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command/command_line.h"

namespace {

command_line_t read(std::vector<std::string> words) {
  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  return read_command_line(static_cast<int>(argv.size()), argv.data());
}

std::string joined(const std::vector<std::string> &words) {
  std::string text;
  for (const std::string &word : words)
    text += (text.empty() ? "" : " ") + word;
  return text;
}

TEST(CommandLine, CopiesBecomeAnOptionAndTheSubcommandSaysWhatItNeeds) {
  struct Case {
    std::vector<std::string> argv;
    const char *arguments, *subcommand;
    bool serve, needsServer;
  } cases[] = {
      {{"app", "submit", "-n", "3", "label.png"},
       "app submit -o copies=3 label.png",
       "submit",
       false,
       true},
      {{"app", "-c", "2", "label.png"}, "app -o copies=2 label.png", "submit", false, true},
      {{"app", "submit", "-d", "label", "-n"}, "app submit -d label -n", "submit", false, true},
      {{"app", "server", "-o", "server-port=8001"},
       "app server -o server-port=8001",
       "server",
       true,
       false},
      {{"app", "drivers"}, "app drivers", "drivers", false, false},
      {{"app", "devices"}, "app devices", "devices", false, false},
      {{"app", "add", "-d", "label", "-m", "strb203"},
       "app add -d label -m strb203",
       "add",
       false,
       true},
      {{"app", "-d", "server", "jobs"}, "app -d server jobs", "jobs", false, true},
      {{"app", "status"}, "app status", "status", false, true},
      {{"app", "shutdown"}, "app shutdown", "shutdown", false, true},
      {{"app", "status", "-u", "ipp://host/ipp/print"},
       "app status -u ipp://host/ipp/print",
       "status",
       false,
       false},
      {{"app", "cancel", "-u", "ipp://host/ipp/print", "-j", "1"},
       "app cancel -u ipp://host/ipp/print -j 1",
       "cancel",
       false,
       false},
      {{"app", "add", "--help"}, "app add --help", "add", false, false},
      {{"app", "--", "-n"}, "app -- -n", "submit", false, true},
  };
  for (const Case &c : cases) {
    command_line_t line = read(c.argv);
    EXPECT_EQ(joined(line.arguments), c.arguments) << joined(c.argv);
    EXPECT_EQ(line.subcommand, c.subcommand) << joined(c.argv);
    EXPECT_EQ(line.serve, c.serve) << joined(c.argv);
    EXPECT_EQ(line.needsServer, c.needsServer) << joined(c.argv);
  }
}

TEST(CommandLine, ACopyCountIsANumberFrom1To999) {
  struct Case {
    const char *count;
    bool good;
  } cases[] = {{"1", true},       {"999", true},  {"0", false}, {"1000", false},
               {"100000", false}, {"abc", false}, {"", false},  {"-2", false},
               {"2x", false},     {" 2", false},  {"007", true}};
  for (const Case &c : cases) {
    for (const char *flag : {"-n", "-c"}) {
      command_line_t line = read({"app", "submit", flag, c.count, "label.png"});
      EXPECT_EQ(line.error.empty(), c.good) << flag << " '" << c.count << "'";
      if (!c.good) {
        EXPECT_EQ(line.error, std::string("Bad copy count '") + c.count + "' for " + flag +
                                  ": give a number from 1 to 999.");
      }
    }
  }
}

} // namespace
