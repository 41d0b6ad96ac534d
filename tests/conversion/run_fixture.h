// A window of in-memory controls and a recording profile to drive the run.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"
#include "support/fake_automation.h"
#include "support/fake_ui.h"

namespace parvane::conversion {

class RunTest : public ::testing::Test {
 protected:
  using List = std::vector<std::string>;
  static constexpr const char* kStamp = "6.12.26 9.5.07";
  static constexpr const char* kStore = "Ostrel Software : Created - 6.12.26 9.5.07";

  RunTest() {
    options.clock = [] { return LocalTime{2026, 12, 6, 9, 5, 7}; };
    options.pathRules = kPosixPathRules;
  }

  void setList(std::initializer_list<std::string> paths) {
    grid.setRows(static_cast<std::int32_t>(paths.size()));
    std::int32_t row = 0;
    for (const auto& path : paths) {
      grid.setRow(row++);
      grid.setCol(0);
      grid.setText(path);
    }
  }

  RunOutcome run(const std::string& destination = "/out") {
    dialog.results.push_back(destination);
    return CmdExtractDBX_Click(values, controls, profile, options);
  }

  // The folders of the store written to `path`, "A", "A\B", ...
  List foldersOf(const std::string& path) const {
    auto* store = profile.storeAt(path);
    return store ? store->root->folderPaths() : List{"<no store>"};
  }
  // The files imported into one folder of that store, in order.
  List messagesIn(const std::string& path, const std::string& folder) const {
    List out;
    auto* store = profile.storeAt(path);
    const auto* node = store ? store->root->find(folder) : nullptr;
    if (!node) return {"<no folder>"};
    for (const auto& m : node->messages) out.push_back(m->importedFrom);
    return out;
  }

  testing::FakeGrid grid;
  testing::FakeLabel frame{"Details :"}, label{"-"};
  testing::FakeProgressBar bar1, bar2;
  testing::FakeButton extract{true}, add{true}, addFolder{true}, clear{true};
  testing::ScriptedMessageBox box;
  testing::FakeFolderDialog dialog;
  testing::FakeDesktop desktop;
  testing::FakeProfile profile;
  WindowValues values;
  RunControls controls{grid, frame, label, bar1, bar2, extract, add, addFolder, clear,
                       box,  dialog, desktop};
  RunOptions options;
};

}  // namespace parvane::conversion
