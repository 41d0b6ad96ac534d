#include <fstream>

#include "engine/session/automation_errors.h"
#include "session/session_fixture.h"
#include "support/msg_writer.h"

namespace parvane::session::testing {
namespace {

using platform::AutomationError;

template <class F>
AutomationError raised(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e;
  }
  ADD_FAILURE() << "no AutomationError raised";
  return AutomationError(0, "");
}

TEST_F(SessionTest, FactoryServesTheThreeIdentifiersOnly) {
  EXPECT_NE(std::dynamic_pointer_cast<platform::RDOSession>(factory_.CreateObject("Redemption.RDOSession")), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<platform::MAPIUtils>(factory_.CreateObject("Redemption.MAPIUtils")), nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<platform::OutlookApplication>(factory_.CreateObject("Outlook.Application")),
            nullptr);
  auto e = raised([&] { factory_.CreateObject("Excel.Application"); });
  EXPECT_EQ(e.code(), AutomationError::kCannotCreateObject);
  EXPECT_NE(std::string(e.what()).find("Excel.Application"), std::string::npos);
}

TEST_F(SessionTest, AnExistingFileIsNeverOverwritten) {
  auto session = logon();
  auto file = path("taken.pst");
  std::ofstream(file) << "keep me";
  auto e = raised([&] { session->Stores()->AddPSTStore(file, 1, "Taken"); });
  EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
  EXPECT_EQ(e.code(), AutomationError::kFileExists);  // a caller may take another name
  std::ifstream in(file);
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "keep me");
  // a folder that does not exist cannot take a store either
  auto e2 = raised([&] { session->Stores()->AddPSTStore(path("no/such/dir/x.pst"), 1, "Nowhere"); });
  EXPECT_NE(std::string(e2.what()).find("no/such/dir/x.pst"), std::string::npos) << e2.what();
}

TEST_F(SessionTest, TheRunsSequenceBuildsFoldersAndMessages) {
  auto session = logon();
  const std::string name = "Ostrel Software : Created - 6.12.26 9.5.07";
  auto file = path("run.pst");
  auto store = session->Stores()->AddPSTStore(file, 1, name);
  auto again = session->Stores()->GetStoreFromID(store->EntryID());
  auto top = again->IPMRootFolder()->Folders();
  ASSERT_EQ(top->Count(), 1);
  EXPECT_EQ(top->Item(1)->Name(), "Deleted Items");
  top->Add("Mail", 6);
  EXPECT_EQ(top->Count(), 2);
  // MAPI refuses a sibling of the same name in another letter case
  auto collision = raised([&] { top->Add("MAIL", 6); });
  EXPECT_EQ(collision.code(), kMapiCollision);
  EXPECT_NE(std::string(collision.what()).find("MAIL"), std::string::npos);

  // deeper folders are made through Outlook's lookup, names in any letter case
  auto outlook = as<platform::OutlookApplication>(factory_.CreateObject("Outlook.Application"));
  auto mailFolder = outlook->GetNamespace("MAPI")->Folders()->Item(name)->Folders()->Item("mail");
  EXPECT_EQ(mailFolder->Name(), "Mail");
  mailFolder->Folders()->Add("Work", 6);
  EXPECT_THROW(mailFolder->Folders()->Add("work", 6), AutomationError);
  EXPECT_THROW(outlook->GetNamespace("MAPI")->Folders()->Item("No such store"), AutomationError);

  auto plain = path("plain.msg");
  auto attached = path("attached.msg");
  testsupport::writeMsgFile(plain, testsupport::simpleMessage("Plain", "no attachment", {"a@example.com"}));
  testsupport::writeMsgFile(attached, testsupport::simpleMessage("With file", "one attachment", {},
                                                                  {{"f.txt", core::Bytes(100, 'f')}}));
  importInto(*session, "\\\\" + name + "\\Mail\\Work", plain);
  importInto(*session, "\\\\" + name + "\\mail\\WORK", attached);
  importInto(*session, "\\\\" + name + "\\Mail", plain);
  EXPECT_THROW(session->GetFolderFromPath("\\\\" + name + "\\Mail\\Missing"), AutomationError);
  EXPECT_THROW(session->GetFolderFromPath("\\\\Another store\\Mail"), AutomationError);

  store->Remove();
  session->Logoff();
  // the file stays, whole: flags 17 on a message without attachments must not claim one
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
  auto counts = folderCounts(file);
  EXPECT_NE(counts.output.find("Mail 1\n"), std::string::npos) << counts.output;
  EXPECT_NE(counts.output.find("Work 2\n"), std::string::npos) << counts.output;
  // and the store is no longer attached
  EXPECT_THROW(session->Stores(), AutomationError);  // logged off
  auto session2 = logon();
  EXPECT_THROW(session2->Stores()->GetStoreFromID(store->EntryID()), AutomationError);
  EXPECT_THROW(top->Count(), AutomationError);
}

TEST_F(SessionTest, AFolderPathIsFoundAgainAsTheProfileChanges) {
  auto session = logon();
  auto first = session->Stores()->AddPSTStore(path("first.pst"), 1, "Same");
  first->IPMRootFolder()->Folders()->Add("In", 6);
  // a path not found is looked up again once its folder exists
  EXPECT_THROW(session->GetFolderFromPath("\\\\Same\\In\\Sub"), AutomationError);
  session->GetFolderFromPath("\\\\Same\\in")->Folders()->Add("Sub", 6);
  EXPECT_EQ(session->GetFolderFromPath("\\\\Same\\In\\Sub")->Name(), "Sub");
  // a path found in a store taken out of the profile no longer leads there
  first->Remove();
  EXPECT_THROW(session->GetFolderFromPath("\\\\Same\\In"), AutomationError);
  // but into the store of that name attached since
  auto second = session->Stores()->AddPSTStore(path("second.pst"), 1, "Same");
  second->IPMRootFolder()->Folders()->Add("In", 6);
  auto mail = session->GetFolderFromPath("\\\\Same\\In")->Items()->Add(std::int32_t{0});
  EXPECT_NO_THROW(mail->Save());
  second->Remove();
  EXPECT_NE(folderCounts(path("second.pst")).output.find("In 1\n"), std::string::npos);
}

TEST_F(SessionTest, AFailedImportLeavesNoMessageAndNamesTheFile) {
  auto session = logon();
  const std::string name = "Failures";
  auto file = path("fail.pst");
  auto store = session->Stores()->AddPSTStore(file, 1, name);
  store->IPMRootFolder()->Folders()->Add("In", 6);
  auto utils = as<platform::MAPIUtils>(factory_.CreateObject("Redemption.MAPIUtils"));

  auto missing = path("missing.msg");
  auto broken = path("broken.msg");
  std::ofstream(broken) << "this is not a compound file at all, just text";
  for (const auto& source : {missing, broken}) {
    auto mail = session->GetFolderFromPath("\\\\" + name + "\\In")->Items()->Add(std::int32_t{0});
    auto importError = raised([&] { mail->Import(source, 3); });
    const std::string importText = importError.what();
    // the file is named once, followed by the reader's reason
    const auto first = importText.find(source);
    ASSERT_NE(first, std::string::npos) << importText;
    EXPECT_EQ(importText.find(source, first + 1), std::string::npos) << importText;
    EXPECT_EQ(importText.rfind("Cannot import \"" + source + "\": ", 0), 0u) << importText;
    EXPECT_GT(importText.size(), ("Cannot import \"" + source + "\": ").size() + 3) << importText;
    utils->HrSetOneProp(*mail->MAPIOBJECT(), 0x0E070003, std::int16_t{17}, true);
    auto saveError = raised([&] { mail->Save(); });
    EXPECT_NE(std::string(saveError.what()).find("import"), std::string::npos) << saveError.what();
    EXPECT_NE(std::string(saveError.what()).find(source), std::string::npos) << saveError.what();
  }
  // a good file after the failures is stored
  auto good = path("good.msg");
  testsupport::writeMsgFile(good, testsupport::simpleMessage("Good", "kept"));
  importInto(*session, "\\\\" + name + "\\In", good);
  store->Remove();
  auto counts = folderCounts(file);
  EXPECT_NE(counts.output.find("In 1\n"), std::string::npos) << counts.output;
  EXPECT_EQ(pstcheck(file).status, 0);
}

// Big values are read when the message is saved; a file that breaks by then
// fails the save, names the file and leaves nothing behind.
TEST_F(SessionTest, AFileThatBreaksBeforeTheSaveLeavesNoMessage) {
  auto session = logon();
  auto file = path("late.pst");
  auto store = session->Stores()->AddPSTStore(file, 1, "Late");
  store->IPMRootFolder()->Folders()->Add("In", 6);
  auto source = path("late.msg");
  testsupport::writeMsgFile(source, testsupport::simpleMessage("Late", "body", {"a@example.com"},
                                                               {{"big.bin", core::Bytes(400000, 0x42)}}));
  auto mail = session->GetFolderFromPath("\\\\Late\\In")->Items()->Add(std::int32_t{0});
  mail->Import(source, 3);
  fs::resize_file(source, fs::file_size(source) / 3);
  auto e = raised([&] { mail->Save(); });
  EXPECT_NE(std::string(e.what()).find(source), std::string::npos) << e.what();
  store->Remove();
  auto counts = folderCounts(file);
  EXPECT_NE(counts.output.find("In 0\n"), std::string::npos) << counts.output;
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
}

// A small file is read whole by Import: what it held then is what is saved.
TEST_F(SessionTest, ASmallFileIsSavedAsItWasWhenImported) {
  auto session = logon();
  auto file = path("early.pst");
  auto store = session->Stores()->AddPSTStore(file, 1, "Early");
  store->IPMRootFolder()->Folders()->Add("In", 6);
  auto source = path("early.msg");
  testsupport::writeMsgFile(source, testsupport::simpleMessage("Early", "body", {"a@example.com"}));
  auto mail = session->GetFolderFromPath("\\\\Early\\In")->Items()->Add(std::int32_t{0});
  mail->Import(source, 3);
  fs::resize_file(source, fs::file_size(source) / 3);
  mail->Save();
  store->Remove();
  auto counts = folderCounts(file);
  EXPECT_NE(counts.output.find("In 1\n"), std::string::npos) << counts.output;
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
}

TEST_F(SessionTest, OnlyMessageFlagsAndSimpleValuesCanBeSet) {
  auto session = logon();
  auto store = session->Stores()->AddPSTStore(path("props.pst"), 1, "Props");
  auto mail = store->IPMRootFolder()->Items()->Add(std::int32_t{0});
  auto utils = as<platform::MAPIUtils>(factory_.CreateObject("Redemption.MAPIUtils"));
  EXPECT_EQ(raised([&] { utils->HrSetOneProp(*mail->MAPIOBJECT(), 0x0E070003, std::string("x"), true); }).code(),
            AutomationError::kTypeMismatch);
  EXPECT_EQ(raised([&] { utils->HrSetOneProp(*mail->MAPIOBJECT(), 0x00370102, std::int32_t{1}, true); }).code(),
            AutomationError::kTypeMismatch);
  class Foreign : public platform::MapiObject {};
  Foreign foreign;
  EXPECT_THROW(utils->HrSetOneProp(foreign, 0x0E070003, std::int32_t{1}, true), AutomationError);
  EXPECT_EQ(raised([&] { mail->Import("x.eml", 1); }).code(), kMapiNotSupported);
  // only mail items: no type, 0 or a message class
  EXPECT_EQ(raised([&] { store->IPMRootFolder()->Items()->Add(std::int32_t{1}); }).code(), kMapiNotSupported);
  EXPECT_NO_THROW(store->IPMRootFolder()->Items()->Add(platform::Variant{}));
  EXPECT_NO_THROW(store->IPMRootFolder()->Folders()->Add("Untyped", platform::Variant{}));
}

TEST_F(SessionTest, AnItemSavedWithoutImportKeepsItsClassAndFlags) {
  auto session = logon();
  auto file = path("bare.pst");
  auto store = session->Stores()->AddPSTStore(file, 1, "Bare");
  store->IPMRootFolder()->Folders()->Add("In", 6);
  auto folder = session->GetFolderFromPath("\\\\Bare\\In");
  auto note = folder->Items()->Add(std::string("IPM.StickyNote"));
  auto utils = as<platform::MAPIUtils>(factory_.CreateObject("Redemption.MAPIUtils"));
  utils->HrSetOneProp(*note->MAPIOBJECT(), 0x0E070003, std::int16_t{17}, true);
  utils->HrSetOneProp(*note->MAPIOBJECT(), 0x0037001F, std::string("Bare subject"), false);
  note->Save();
  note->Save();  // a second save stores nothing more
  store->Remove();
  EXPECT_EQ(pstcheck(file).status, 0);
  auto read = run("/usr/bin/python3 -c \"import pypff,sys\n"
                  "f=pypff.file(); f.open(sys.argv[1])\n"
                  "d=f.get_root_folder().get_sub_folder(1).get_sub_folder(1)\n"
                  "m=d.get_sub_message(0)\n"
                  "print(d.number_of_sub_messages, m.subject, m.get_number_of_attachments())\" " + file);
  EXPECT_EQ(read.output, "1 Bare subject 0\n");
  auto messageClass = run("/usr/bin/python3 " + std::string(PARVANE_SOURCE_DIR) +
                          "/tests/engine/messaging/tools/dissect_pst.py " + shellQuoted(file) +
                          " | grep -c 'prop 0x001A001F = {\"str\": \"IPM.StickyNote\"'");
  EXPECT_EQ(messageClass.output, "1\n");
}

// A full disk: the save fails with a clear text, nothing half-written remains.
TEST_F(SessionTest, AFullDiskFailsTheSaveAndKeepsTheFileWhole) {
  fs::create_directories(dir_ / "small");
  if (run("mount -t tmpfs -o size=640k tmpfs " + shellQuoted((dir_ / "small").string())).status != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  struct Unmount {
    std::string at;
    ~Unmount() { run("umount " + shellQuoted(at)); }
  } unmount{(dir_ / "small").string()};
  auto session = logon();
  auto file = (dir_ / "small" / "full.pst").string();
  auto store = session->Stores()->AddPSTStore(file, 1, "Full");
  store->IPMRootFolder()->Folders()->Add("In", 6);
  auto small = path("small.msg");
  auto big = path("big.msg");
  testsupport::writeMsgFile(small, testsupport::simpleMessage("Fits", "body"));
  testsupport::writeMsgFile(big, testsupport::simpleMessage("Too big", "body", {}, {{"big.bin", core::Bytes(2u << 20, 3)}}));
  importInto(*session, "\\\\Full\\In", small);
  auto e = raised([&] { importInto(*session, "\\\\Full\\In", big); });
  EXPECT_EQ(e.code(), kMapiDiskFull) << e.what();
  EXPECT_NE(std::string(e.what()).find(big), std::string::npos) << e.what();
  try {
    store->Remove();
  } catch (const AutomationError&) {
    // the final commit may not fit either; the file stays as of its last commit
  }
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
}

// The window may close while a store is attached: the process's exit closes it whole.
TEST_F(SessionTest, AStoreStillAttachedAtExitIsClosedWhole) {
  auto file = path("exit.pst");
  auto msgFile = path("exit.msg");
  testsupport::writeMsgFile(msgFile, testsupport::simpleMessage("Before exit", "body", {}, {{"a.bin", core::Bytes(9000, 1)}}));
  std::fflush(nullptr);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 3;
    try {
      EngineObjectFactory factory;
      auto session = as<platform::RDOSession>(factory.CreateObject("Redemption.RDOSession"));
      session->Logon();
      auto store = session->Stores()->AddPSTStore(file, 1, "Exit");
      store->IPMRootFolder()->Folders()->Add("Kept", 6);
      auto mail = session->GetFolderFromPath("\\\\Exit\\Kept")->Items()->Add(std::int32_t{0});
      mail->Import(msgFile, 3);
      mail->Save();
      status = 0;
    } catch (...) {
    }
    std::exit(status);  // no Remove: static destruction closes the store
  }
  int st = 0;
  ::waitpid(child, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  ASSERT_EQ(WEXITSTATUS(st), 0);
  auto check = pstcheck(file);
  EXPECT_EQ(check.status, 0) << check.output;
  auto counts = folderCounts(file);
  EXPECT_NE(counts.output.find("Kept 1\n"), std::string::npos) << counts.output;
}

}  // namespace
}  // namespace parvane::session::testing
