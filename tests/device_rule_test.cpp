// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "app/access/device_rule.h"
#include "app/access/printer_name.h"

namespace {

namespace fs = std::filesystem;

// A directory allowed for file devices, with a file, a subdirectory, a link out of it
// and a directory beside it whose name begins with the allowed one's.
class DeviceRule : public testing::Test {
protected:
  void SetUp() override {
    char pattern[] = "/tmp/device-rule.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    fs::create_directories(root / "labels" / "sub");
    fs::create_directories(root / "labels-other");
    fs::create_symlink(root / "labels-other", root / "labels" / "away");
    allowed = fs::canonical(root / "labels").string();
  }
  void TearDown() override {
    fs::remove_all(root);
  }
  fs::path root;
  std::string allowed;
};

TEST_F(DeviceRule, FilesOnlyInsideTheAllowedDirectoryAndEveryOtherDevice) {
  struct Case {
    std::string uri;
    bool withDirectory, allowed;
  } cases[] = {
      {"socket://127.0.0.1:9100", false, true},
      {"usb://Strobane/Label?serial=1", false, true},
      {"file://" + allowed + "/out.prn", false, false},
      {"file://" + allowed + "/out.prn", true, true},
      {"file://" + allowed + "/sub/out.prn?ext=prn", true, true},
      {"file://" + allowed + "/../labels-other/out.prn", true, false},
      {"file://" + allowed + "-other/out.prn", true, false},
      {"file://" + allowed + "/away/out.prn", true, false},
      {"file://" + allowed + "/missing/out.prn", true, false},
      {"file:///etc/passwd", true, false},
      {"file://" + allowed, true, true},
  };
  for (const Case &c : cases) {
    std::string reason;
    bool result =
        is_device_allowed(c.uri.c_str(), c.withDirectory ? allowed.c_str() : nullptr, &reason);
    EXPECT_EQ(result, c.allowed) << c.uri << (c.withDirectory ? " with" : " without")
                                 << " a directory: " << reason;
    EXPECT_EQ(reason.empty(), c.allowed) << c.uri;
  }
}

TEST_F(DeviceRule, TheReasonSaysHowToAllowFilesOrWhereTheyMayGo) {
  std::string reason;
  is_device_allowed("file:///tmp/x.prn", nullptr, &reason);
  EXPECT_EQ(
      reason,
      "file devices are not allowed (the server's -o device-directory=DIR allows them in DIR)");
  reason.clear();
  is_device_allowed("file:///etc/x.prn", allowed.c_str(), &reason);
  EXPECT_EQ(reason, "/etc/x.prn is outside the directory allowed for file devices, " + allowed);
}

TEST(PrinterName, NamesThatAPathCanReachAgain) {
  struct Case {
    const char *name;
    bool allowed;
  } cases[] = {
      {"label", true},   {"label300", true}, {"_spare", true},     {"by-ann.2", true},
      {"../x", false},   {"a/b", false},     {".hidden", false},   {"-x", false},
      {"9lives", false}, {"", false},        {"two words", false}, {"caf\xc3\xa9", false},
  };
  for (const Case &c : cases)
    EXPECT_EQ(is_printer_name(c.name), c.allowed) << c.name;
  EXPECT_TRUE(is_printer_name(std::string(127, 'a').c_str()));
  EXPECT_FALSE(is_printer_name(std::string(128, 'a').c_str()));
  EXPECT_FALSE(is_printer_name(nullptr));
}

} // namespace
