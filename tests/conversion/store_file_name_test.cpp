// The name a new store is created under when its stamped name is taken.
#include "conversion/store_file_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace parvane::conversion {
namespace {

using platform::AutomationError;

TEST(NumberedStorePath, TheNumberGoesBeforeTheExtension) {
  EXPECT_EQ(NumberedStorePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst", 1),
            "/out/OstrelMSGMessages6.12.26 9.5.07.pst");
  EXPECT_EQ(NumberedStorePath("/out/OstrelMSGMessages6.12.26 9.5.07.pst", 2),
            "/out/OstrelMSGMessages6.12.26 9.5.07 (2).pst");
  EXPECT_EQ(NumberedStorePath("C:\\out.d\\x.pst", 12), "C:\\out.d\\x (12).pst");
  EXPECT_EQ(NumberedStorePath("/out.d/x", 3), "/out.d/x (3)");  // a dot in a folder is no extension
}

// Stores created on a disk that other runs write to as well: `taken` names
// exist already, and a name may be taken between two attempts.
class RacingStores : public platform::RDOStores {
 public:
  std::shared_ptr<platform::RDOStore> AddPSTStore(const std::string& path, std::int32_t,
                                                  const std::string&) override {
    if (path == failing) throw AutomationError(AutomationError::kFailed, "disk error");
    if (!taken.insert(path).second) {
      throw AutomationError(AutomationError::kFileExists, path + ": the file already exists");
    }
    return nullptr;
  }
  std::shared_ptr<platform::RDOStore> GetStoreFromID(const std::string&) override { return nullptr; }
  std::set<std::string> taken;
  std::string failing;
};

TEST(AddStoreAtFreePath, TakesTheFirstNameWhoseCreationSucceeds) {
  RacingStores stores;
  stores.taken = {"/o/s.pst", "/o/s (2).pst", "/o/s (3).pst"};
  std::string path = "/o/s.pst";
  AddStoreAtFreePath(stores, path, true, 1, "S");
  EXPECT_EQ(path, "/o/s (4).pst");

  // A name given by the user is never replaced by another.
  path = "/o/s.pst";
  EXPECT_THROW(AddStoreAtFreePath(stores, path, false, 1, "S"), AutomationError);
  // Any other failure ends the search at once.
  stores.failing = "/o/s (5).pst";
  path = "/o/s.pst";
  try {
    AddStoreAtFreePath(stores, path, true, 1, "S");
    ADD_FAILURE() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.code(), AutomationError::kFailed);
  }
  EXPECT_EQ(path, "/o/s (5).pst");
}

}  // namespace
}  // namespace parvane::conversion
