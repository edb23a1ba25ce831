// Which entries of a directory count as driver plug-ins, and in which order.
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "varo/driver_plugins.h"

namespace {

using Names = std::vector<std::string>;

TEST(DriverPlugins, OnlyFilesCarryingTheMarkWithinThePathLimit) {
  QTemporaryDir tmp;
  ASSERT_TRUE(tmp.isValid());
  const std::string dir = tmp.path().toStdString() + "/";
  for (const char* name :
       {"libVaroDeviceBase_B.so", "old_VaroDeviceBase_x.so", "a_VaroDeviceBase_z",
        "B_VaroDeviceBase_y", ".h_VaroDeviceBase_", "x_varodevicebase_.so", "target.so"})
    std::ofstream(dir + name) << "x";
  ASSERT_EQ(mkdir((dir + "VaroDeviceBase_dir").c_str(), 0700), 0);
  ASSERT_EQ(symlink("target.so", (dir + "l_VaroDeviceBase_file").c_str()), 0);
  ASSERT_EQ(symlink("VaroDeviceBase_dir", (dir + "l_VaroDeviceBase_dir").c_str()), 0);
  ASSERT_EQ(symlink("missing.so", (dir + "l_VaroDeviceBase_none").c_str()), 0);

  using varo::DriverOrder;
  const size_t limit = dir.size() + std::string("libVaroDeviceBase_B.so").size();
  struct Case {
    varo::DriverListing listing;
    Names expected;  // file-system order is compared sorted
  } cases[] = {
      {{DriverOrder::NameIgnoringCase, 299, true},
       {".h_VaroDeviceBase_", "a_VaroDeviceBase_z", "B_VaroDeviceBase_y", "l_VaroDeviceBase_file",
        "libVaroDeviceBase_B.so", "old_VaroDeviceBase_x.so"}},
      {{DriverOrder::FileSystem, limit, false},
       {"B_VaroDeviceBase_y", "a_VaroDeviceBase_z", "l_VaroDeviceBase_file",
        "libVaroDeviceBase_B.so"}},  // a path one character longer is skipped, not cut
  };
  for (const Case& c : cases) {
    for (const std::string& d : {dir, dir.substr(0, dir.size() - 1)}) {
      Names got;
      for (const std::string& path : varo::listDriverPlugins(d, c.listing).value_or(Names()))
        got.push_back(path.substr(0, dir.size()) == dir ? path.substr(dir.size()) : path);
      if (c.listing.order == DriverOrder::FileSystem) std::sort(got.begin(), got.end());
      EXPECT_EQ(got, c.expected) << d;
    }
  }
  for (const std::string& d : {dir + "absent/", dir + "target.so", std::string()})
    EXPECT_FALSE(varo::listDriverPlugins(d).has_value()) << d;
}

}  // namespace
