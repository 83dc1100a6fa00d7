// The stand-in host core on its own: the loader and its private copies,
// the control object's services, the tables and the answers to host
// messages, driven through the same records a plug-in would send.
#include <sqlite3.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/host_api.h"
#include "plugin_fixture.h"
#include "tests/fixtures/probe_ids.h"

namespace vask::test {
namespace {

using host::HostCore;
using host::RecordedCall;
namespace probe = vask::test_probe;

std::string ProbePath() { return BuildDir() + "/libvask_test_plugin.so"; }

HostMessage Message(int id, intptr_t p1 = 0, intptr_t p2 = 0) {
  HostMessage m{};
  m.size = HostMessageSize(2);
  m.id = id;
  m.p1 = p1;
  m.p2 = p2;
  return m;
}

HostMessage Message3(int id, intptr_t p1, intptr_t p2, intptr_t p3) {
  HostMessage m = Message(id, p1, p2);
  m.size = HostMessageSize(3);
  m.p3 = p3;
  return m;
}

intptr_t Ptr(const void* p) { return reinterpret_cast<intptr_t>(p); }

// A core with the probe plug-in loaded (not started) for the service tests.
class HostCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = core_.Load(ProbePath(), true, &error_);
    ASSERT_NE(plugin_, 0) << error_;
    control_ = core_.Control(plugin_);
  }
  intptr_t Send(HostMessage m) { return control_->SendToHost(&m); }

  HostCore core_{host::HostOptions{":memory:", "SELF", false}};
  int plugin_ = 0;
  HostControl* control_ = nullptr;
  std::string error_;
};

TEST(HostLoaderTest, PrivateCopiesKeepTheirOwnStaticStateAndAreDeletedAtUnload) {
  // The loader copies into $TMPDIR; a folder of this test's own keeps the
  // count free of the copies that tests running beside it make.
  char folder[] = "/tmp/vask-loader-test-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const char* previous = std::getenv("TMPDIR");
  const std::string saved = previous ? previous : "";
  setenv("TMPDIR", folder, 1);
  auto copies = [&folder] {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator(folder)) {
      if (e.path().filename().string().rfind("vask-plugin-", 0) == 0) ++n;
    }
    return n;
  };
  {
    HostCore core;
    std::string error;
    int a = core.Load(ProbePath(), true, &error);
    int b = core.Load(ProbePath(), true, &error);
    ASSERT_NE(a, 0) << error;
    ASSERT_NE(b, 0) << error;
    EXPECT_NE(a, b);
    EXPECT_EQ(core.Call(a, probe::kCount), 1);
    EXPECT_EQ(core.Call(a, probe::kCount), 2);
    EXPECT_EQ(core.Call(b, probe::kCount), 1);  // not 3: its own copy

    // The copies live in the temporary folder until unload.
    EXPECT_EQ(copies(), 2);
    core.Unload(a);
    core.Unload(b);
    EXPECT_EQ(copies(), 0);
    EXPECT_EQ(core.Call(a, probe::kCount), 0);  // gone
  }
  if (previous) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  std::filesystem::remove_all(folder);
}

TEST(HostLoaderTest, RefusesMissingFilesAndLibrariesWithoutTheExport) {
  HostCore core;
  std::string error;
  EXPECT_EQ(core.Load(BuildDir() + "/no-such-plugin.so", false, &error), 0);
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_EQ(core.Load(BuildDir() + "/no-such-plugin.so", true, &error), 0);
  EXPECT_FALSE(error.empty());
  error.clear();
  // The platform library is a loadable library without IMessageProc.
  std::string platform = BuildDir() + "/platform/libvaskwin32.so";
  ASSERT_TRUE(std::filesystem::exists(platform));
  EXPECT_EQ(core.Load(platform, true, &error), 0);
  EXPECT_NE(error.find("IMessageProc"), std::string::npos) << error;
  EXPECT_TRUE(core.Plugins().empty());
}

TEST(HostLoaderTest, StartRunsTheSequenceInOrderAndUnloadStopsOnce) {
  HostCore core;
  int id = core.Load(ProbePath(), true);
  ASSERT_NE(id, 0);
  ASSERT_TRUE(core.Start(id));
  auto identity = core.Identity(id);
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->net, probe::kNet);
  EXPECT_EQ(identity->capabilities, probe::kNetworkFlags);
  EXPECT_EQ(identity->shortName, "Probe");
  EXPECT_EQ(identity->displayName, "Probe plug-in");
  EXPECT_EQ(identity->netName, "PROBE");
  EXPECT_EQ(identity->kind, "Test");
  const char* seen = reinterpret_cast<const char*>(core.Call(id, probe::kReceived));
  ASSERT_NE(seen, nullptr);
  std::string sequence;
  for (int received : {kMsgSetControl, kMsgNetworkId, kMsgNetworkFlags, kMsgShortName,
                       kMsgDisplayName, kMsgNetworkName, kMsgNetworkNameAgain, kMsgHostWord,
                       kMsgRegisterSettings, kMsgRegisterInterface, kMsgStart, probe::kReceived}) {
    sequence += (sequence.empty() ? "" : ",") + std::to_string(received);
  }
  EXPECT_EQ(seen, sequence);

  core.Unload(id);
  core.Unload(id);
  EXPECT_EQ(core.calls().CountIf([](const RecordedCall& c) {
    return c.IsHostMessage() && c.id == kMsgLog && c.Text("text") == "probe stopping";
  }),
            1u);
}

TEST(HostLoaderTest, UnloadWaitsForThePluginsThreadsToLeaveItsCode) {
  HostCore core;
  int id = core.Load(ProbePath(), true);
  ASSERT_TRUE(core.Start(id));
  ASSERT_EQ(core.Call(id, probe::kSlowThread, 300), 1);
  core.Unload(id);
  // Unloaded only after the thread's last call into the host: had the
  // library gone first, the thread would have crashed in unmapped code.
  EXPECT_EQ(core.calls().CountIf([](const RecordedCall& c) {
    return c.IsHostMessage() && c.id == kMsgLog && c.Text("text") == "probe thread ending";
  }),
            1u);
  EXPECT_TRUE(core.Plugins().empty());
}

TEST(HostLoaderTest, EachPluginHasItsOwnIdAndSendToPluginReachesTheOther) {
  HostCore core;
  int a = core.Load(ProbePath(), true);
  int b = core.Load(ProbePath(), true);
  ASSERT_TRUE(core.Start(a));
  ASSERT_TRUE(core.Start(b));
  EXPECT_EQ(core.Call(a, probe::kPluginId), a);
  EXPECT_EQ(core.Call(b, probe::kPluginId), b);
  core.Call(b, probe::kCount);
  core.Call(b, probe::kCount);
  EXPECT_EQ(core.Call(a, probe::kAskCount, b), 3);  // b's counter, asked by a
  auto routed = core.calls().WaitFor(
      [](const RecordedCall& c) { return c.service == "SendToPlugin"; }, std::chrono::seconds(1));
  ASSERT_TRUE(routed);
  EXPECT_EQ(routed->plugin, a);
  EXPECT_EQ(routed->Int("receiver"), b);
  EXPECT_EQ(routed->id, probe::kCount);
  EXPECT_EQ(routed->answer, 3);
  EXPECT_EQ(core.Call(a, probe::kAskCount, 999), 0);  // no plug-in 999 there
}

TEST_F(HostCoreTest, ValuesConvertBetweenTextAndIntegerAndHonourTheCallersBuffer) {
  core_.tables().DefineColumn(kTableSettings, kSettingChannel, kColumnText, 0, "Vask",
                              "Vask/Channel");
  core_.tables().DefineColumn(kTableSettings, kSettingLastStatus, kColumnInt, kStatusAvailable, "",
                              "Vask/Status");

  ValueRecord v{kValueText, 0, 0};
  control_->GetValue(kTableSettings, 0, kSettingChannel, &v);
  ASSERT_NE(Unpacked(v.value), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(v.value), "Vask");  // the default

  char small[4] = {'x', 'x', 'x', 'x'};
  v = {kValueText, Ptr(small), sizeof small};
  control_->GetValue(kTableSettings, 0, kSettingChannel, &v);
  EXPECT_EQ(Unpacked(v.value), Ptr(small));
  EXPECT_STREQ(small, "Vas");  // cut, with its NUL inside the buffer

  v = {kValueInt, 0, 0};
  control_->GetValue(kTableSettings, 0, kSettingLastStatus, &v);
  EXPECT_EQ(Unpacked(v.value), kStatusAvailable);

  // An integer column read as text gives the decimal; text written into it
  // is parsed.
  v = {kValueText, Ptr("  -12abc"), 0};
  control_->SetValue(kTableSettings, 0, kSettingLastStatus, &v);
  v = {kValueText, 0, 0};
  control_->GetValue(kTableSettings, 0, kSettingLastStatus, &v);
  EXPECT_STREQ(reinterpret_cast<const char*>(v.value), "-12");

  // A text column read as an integer parses its leading number.
  v = {kValueText, Ptr("15 computers"), 0};
  control_->SetValue(kTableSettings, 0, kSettingChannel, &v);
  v = {kValueInt, 0, 0};
  control_->GetValue(kTableSettings, 0, kSettingChannel, &v);
  EXPECT_EQ(Unpacked(v.value), 15);

  // Missing rows and columns read as "" and 0.
  v = {kValueText, 0, 0};
  control_->GetValue(kTableContacts, 42, kColumnStatusInfo, &v);
  ASSERT_NE(Unpacked(v.value), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(v.value), "");
  v = {kValueInt, 5, 0};
  control_->GetValue(kTableContacts, 42, kColumnStatus, &v);
  EXPECT_EQ(Unpacked(v.value), 0);

  // The own entry carries the computer name given to the core.
  EXPECT_EQ(core_.tables().GetText(kTableContacts, 0, kColumnId), "SELF");
}

TEST_F(HostCoreTest, HostTextCopiesOutliveTheNextCallsOnTheirThread) {
  core_.SetSettingText(kSettingHostFolder, "/first");
  ValueRecord first{kValueText, 0, 0};
  control_->GetValue(kTableSettings, 0, kSettingHostFolder, &first);
  core_.SetSettingText(kSettingHostFolder, "/second");
  ValueRecord second{kValueText, 0, 0};
  control_->GetValue(kTableSettings, 0, kSettingHostFolder, &second);
  EXPECT_STREQ(reinterpret_cast<const char*>(first.value), "/first");
  EXPECT_STREQ(reinterpret_cast<const char*>(second.value), "/second");

  char* a = control_->TempBuffer(8);
  std::strcpy(a, "kept");
  char* b = nullptr;
  std::thread other([&] {
    b = control_->TempBuffer(8);
    std::strcpy(b, "other");
  });
  other.join();
  for (int i = 0; i < 10; ++i) control_->TempBuffer(100);
  EXPECT_STREQ(a, "kept");
  EXPECT_STREQ(b, "other");
  EXPECT_NE(a, b);
}

TEST_F(HostCoreTest, ContactsAreFoundIgnoringCaseAndCountedWithTheOwnEntry) {
  EXPECT_EQ(Send(Message(kMsgContactCount)), 1);  // only the own entry
  int b = core_.AddContact("BETA");
  int c = core_.AddContact("gamma", 3);    // network 3: not ours
  EXPECT_EQ(core_.AddContact("beta"), b);  // the same contact again
  EXPECT_EQ(Send(Message(kMsgFindContact, NET_LAN, Ptr("Beta"))), b);
  EXPECT_EQ(Send(Message(kMsgFindContact, NET_LAN, Ptr("GAMMA"))), -1);  // another network
  EXPECT_EQ(Send(Message(kMsgFindContact, 3, Ptr("GAMMA"))), c);
  EXPECT_EQ(Send(Message(kMsgFindContact, NET_LAN, Ptr("SELF"))),
            -1);  // the own entry is no contact
  EXPECT_EQ(Send(Message(kMsgContactCount)), 3);

  // A removed row leaves a hole the walk reads as an empty row.
  ASSERT_TRUE(core_.RemoveContact(b));
  EXPECT_EQ(Send(Message(kMsgContactCount)), 3);
  EXPECT_EQ(core_.tables().GetInt(kTableContacts, b, kColumnNet), 0);
  EXPECT_EQ(control_->RowIndex(kTableContacts, b), 0);
  EXPECT_EQ(control_->RowIndex(kTableContacts, c), c);
  EXPECT_EQ(control_->RowIndex(kTableContacts, 0), 0);
  EXPECT_FALSE(core_.RemoveContact(0));
}

TEST_F(HostCoreTest, ContactStatusKeepsTheFlagBitsAndOwnStatusCanBeRewritten) {
  int b = core_.AddContact("BETA");
  core_.tables().SetInt(kTableContacts, b, kColumnStatus, kStatusIgnoredFlag | kStatusDnd);
  Send(Message3(kMsgContactStatus, b, kStatusAvailable, Ptr("przy biurku")));
  EXPECT_EQ(core_.tables().GetInt(kTableContacts, b, kColumnStatus),
            kStatusIgnoredFlag | kStatusAvailable);
  EXPECT_EQ(core_.tables().GetText(kTableContacts, b, kColumnStatusInfo), "przy biurku");
  auto last = core_.calls().Last(kMsgContactStatus);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->Text("address"), "BETA");

  core_.SetAnswer(kMsgAnnounceStatus, [](HostMessage* m) -> std::optional<intptr_t> {
    m->p2 = kStatusDnd;
    return std::nullopt;
  });
  HostMessage own = Message3(kMsgAnnounceStatus, 0, kStatusAvailable, Ptr("tekst"));
  control_->SendToHost(&own);
  EXPECT_EQ(Unpacked(own.p2), kStatusDnd);  // the plug-in reads the rewritten value back
  EXPECT_EQ(core_.ownStatus().status, kStatusDnd);
  EXPECT_EQ(core_.ownStatus().text, "tekst");
  // What the plug-in sent:
  EXPECT_EQ(core_.calls().Last(kMsgAnnounceStatus)->Int("status"), kStatusAvailable);

  core_.ClearAnswer(kMsgAnnounceStatus);
  own = Message3(kMsgAnnounceStatus, 0, -1, 0);
  control_->SendToHost(&own);
  EXPECT_EQ(core_.ownStatus().status, kStatusDnd);  // -1 leaves it
  EXPECT_EQ(core_.ownStatus().changes, 2);

  core_.SetAnswer(kMsgIsIgnored, [](HostMessage*) -> std::optional<intptr_t> { return 7; });
  EXPECT_EQ(Send(Message(kMsgIsIgnored, NET_LAN, Ptr("x"))), 7);
  core_.ClearAnswer(kMsgIsIgnored);
  core_.SetIgnored("Nosy", true);
  EXPECT_NE(Send(Message(kMsgIsIgnored, NET_LAN, Ptr("NOSY"))), 0);
  EXPECT_EQ(Send(Message(kMsgIsIgnored, NET_LAN, Ptr("BETA"))), 0);
  core_.SetIgnored("nosy", false);
  EXPECT_EQ(Send(Message(kMsgIsIgnored, NET_LAN, Ptr("NOSY"))), 0);
}

TEST_F(HostCoreTest, ReceivedMessagesAreStoredWithTheirBytesAndSender) {
  int b = core_.AddContact("BETA");
  char body[] = "Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1";  // CP1250 bytes
  MessageRecord record{};
  record.size = sizeof record;
  record.net = NET_LAN;
  record.type = 1;
  record.from = const_cast<char*>("beta");
  record.to = const_cast<char*>("");
  record.body = body;
  record.ext = const_cast<char*>("");
  record.flags = 128;
  record.time = 1700000000;
  Send(Message(kMsgShowMessage, Ptr(&record)));
  std::strcpy(body, "overwritten");  // the host kept its own copy
  auto history = core_.History(b);
  ASSERT_EQ(history.size(), 1u);
  EXPECT_EQ(history[0].body, "Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1");
  EXPECT_EQ(history[0].from, "beta");
  EXPECT_EQ(history[0].time, 1700000000);
  EXPECT_EQ(history[0].type, 1);
  EXPECT_EQ(core_.calls().Last(kMsgShowMessage)->Text("body"), history[0].body);

  Send(Message(kMsgSendResult, 77, 1));
  Send(Message(kMsgSendResult, 78, 0));
  EXPECT_EQ(core_.SendResult(77), 1);
  EXPECT_EQ(core_.SendResult(78), 0);
  EXPECT_FALSE(core_.SendResult(79));
}

TEST_F(HostCoreTest, SendResultsKeepOnlyTheLatestSoALongSessionDoesNotGrow) {
  const int kept = static_cast<int>(HostCore::kSendResultsKept);
  for (int id = 1; id <= kept; ++id) Send(Message(kMsgSendResult, id, 1));
  Send(Message(kMsgSendResult, kept, 0));  // a second answer for a kept id replaces it
  EXPECT_EQ(core_.SendResult(1), 1);
  EXPECT_EQ(core_.SendResult(kept), 0);
  Send(Message(kMsgSendResult, kept + 1, 1));
  EXPECT_FALSE(core_.SendResult(1));
  EXPECT_EQ(core_.SendResult(2), 1);
  EXPECT_EQ(core_.SendResult(kept + 1), 1);
}

TEST_F(HostCoreTest, ItemsKeepTheirDeclarationAndFollowStatusAndTextChanges) {
  ActionInfo add{};
  add.size = kActionInfoShort;
  add.ref = {kItemRefreshAll, kItemSettingsGroup, -2};
  add.position = -1;
  add.mask = kActionMaskAdd;
  add.status = 0x10 | 0x2;
  add.statusMask = -1;
  add.text = "Dostępny";
  add.param = 0x50F00001;  // any parameter: kept as given
  add.width = 120;
  add.height = 20;
  Send(Message(kMsgAddItem, Ptr(&add)));

  ActionInfo status{};
  status.size = kActionInfoShort;
  status.ref = {kItemRefreshAll, kItemSettingsGroup, -2};
  status.mask = kActionMaskStatus;
  status.status = 1;
  status.statusMask = 1;
  Send(Message(kMsgSetItemStatus, Ptr(&status)));

  ActionInfo text = status;
  text.mask = kActionMaskText;
  text.text = "Zajęty";
  Send(Message(kMsgSetItemText, Ptr(&text)));

  auto item = core_.Item(kItemRefreshAll, kItemSettingsGroup);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->style, 0x12);
  EXPECT_EQ(item->status, 0x13);
  EXPECT_EQ(item->text, "Zajęty");
  EXPECT_EQ(item->param, 0x50F00001);
  EXPECT_EQ(item->width, 120);

  ActionInfo read = status;
  read.mask = kActionMaskText;
  read.text = nullptr;
  read.textSize = 0;
  const char* answer = reinterpret_cast<const char*>(Send(Message(kMsgReadItemText, Ptr(&read))));
  ASSERT_NE(answer, nullptr);
  EXPECT_STREQ(answer, "Zajęty");
}

TEST_F(HostCoreTest, ContactWindowItemsLiveOnlyWhileTheDetailsWindowIsOpen) {
  int b = core_.AddContact("BETA");
  ActionRef window{kParentDetailsWindow, 0, b};
  EXPECT_EQ(Send(Message(kMsgItemExists, Ptr(&window))), 0);
  ActionRef parentOf{kContactWindowItemBase + kColumnFirstName, kParentWindowRoot, -2};
  int parent = static_cast<int>(Send(Message(kMsgItemParent, Ptr(&parentOf))));
  EXPECT_NE(parent, 0);

  core_.OpenDetails(b);
  EXPECT_NE(Send(Message(kMsgItemExists, Ptr(&window))), 0);
  ActionInfo set{};
  set.size = kActionInfoShort;
  set.ref = {kContactWindowItemBase + kColumnFirstName, parent, b};
  set.mask = kActionMaskText;
  set.text = "Ala";
  Send(Message(kMsgSetItemText, Ptr(&set)));
  EXPECT_EQ(core_.DetailsText(b, kColumnFirstName), "Ala");

  ActionInfo read = set;
  read.text = nullptr;
  EXPECT_STREQ(reinterpret_cast<const char*>(Send(Message(kMsgReadItemText, Ptr(&read)))), "Ala");
  read.ref.contact = core_.AddContact("GAMMA");  // its window is not open
  EXPECT_STREQ(reinterpret_cast<const char*>(Send(Message(kMsgReadItemText, Ptr(&read)))), "");

  core_.CloseDetails(b);
  EXPECT_EQ(Send(Message(kMsgItemExists, Ptr(&window))), 0);
  EXPECT_EQ(core_.DetailsText(b, kColumnFirstName), "");
}

TEST_F(HostCoreTest, NoticeCancelWritesTheRecordUntilTheNoticeIsRemoved) {
  SearchStatusRecord notice{};
  notice.size = sizeof notice;
  notice.title = "Vask - wyszukiwanie";
  notice.text = "Zapytanie";
  notice.style = 514;
  EXPECT_EQ(core_.PressCancel(), 0);
  Send(Message(kMsgSearchNoticeShow, Ptr(&notice)));
  ASSERT_EQ(core_.openNotices().size(), 1u);
  EXPECT_EQ(core_.openNotices()[0].title, "Vask - wyszukiwanie");
  EXPECT_EQ(notice.cancelled, 0);
  EXPECT_EQ(core_.PressCancel(), 1);
  EXPECT_EQ(notice.cancelled, 1);
  Send(Message(kMsgSearchNoticeHide, Ptr(&notice)));
  EXPECT_TRUE(core_.openNotices().empty());
  notice.cancelled = 0;
  EXPECT_EQ(core_.PressCancel(), 0);
  EXPECT_EQ(notice.cancelled, 0);  // a removed notice is never written
}

TEST_F(HostCoreTest, FoundContactsColumnsIconsAndBoxesAreKept) {
  FoundContact found{};
  found.size = sizeof found;
  found.status = kStatusAvailable;
  std::memset(found.uid, 'Q', sizeof found.uid);  // no NUL: the decoder stays inside
  std::strcpy(found.column6, "Jan");
  found.net = NET_LAN;
  Send(Message(kMsgFoundContact, Ptr(&found)));
  found.status = kStatusOffline;
  ASSERT_EQ(core_.foundContacts().size(), 1u);
  EXPECT_EQ(Unpacked(core_.foundContacts()[0].status), kStatusAvailable);
  EXPECT_EQ(core_.calls().Last(kMsgFoundContact)->Text("uid"), std::string(256, 'Q'));
  EXPECT_EQ(core_.calls().Last(kMsgFoundContact)->Text("column6"), "Jan");

  ColumnDef def{};
  def.size = sizeof def;
  def.id = kMsgDefineColumn;
  def.table = kTableSettings;
  def.column = kSettingStatusInfo;
  def.columnType = kColumnText;
  def.defaultValue = Ptr("opis");
  def.name = "Vask/StatusInfo";
  control_->SendToHost(reinterpret_cast<HostMessage*>(&def));
  EXPECT_EQ(core_.GetSettingText(kSettingStatusInfo), "opis");
  ASSERT_EQ(core_.definedColumns().size(), 1u);
  EXPECT_EQ(core_.definedColumns()[0].name, "Vask/StatusInfo");
  EXPECT_EQ(core_.calls().Last(kMsgDefineColumn)->Text("default"), "opis");

  HostMessage info = Message(kMsgInfoBox, Ptr("Informacja"), 0);
  info.size = HostMessageSize(4);
  info.p3 = Ptr("Tytuł");
  control_->SendToHost(&info);
  Send(Message(kMsgErrorBox, Ptr("Błąd")));
  auto boxes = core_.messageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_FALSE(boxes[0].error);
  EXPECT_EQ(boxes[0].title, "Tytuł");
  EXPECT_TRUE(boxes[1].error);
  EXPECT_EQ(boxes[1].text, "Błąd");
}

unsigned WINAPI Exit42(void*) { return 42; }

TEST_F(HostCoreTest, ThreadsAreWaitableAndAFailedStartReturnsNull) {
  HANDLE thread = control_->BeginThread(nullptr, 0, Exit42, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  CloseHandle(thread);

  core_.FailThreads(1);
  EXPECT_EQ(control_->BeginThread(nullptr, 0, Exit42, nullptr, 0, nullptr), nullptr);
  thread = control_->BeginThread(nullptr, 0, Exit42, nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, 10000);
  CloseHandle(thread);
}

unsigned WINAPI AskForATempBuffer(void* control) {
  char* buffer = static_cast<HostControl*>(control)->TempBuffer(64);
  return buffer != nullptr ? 1 : 0;
}

// A plug-in starts a thread for every message it sends: what the host kept
// for such a thread goes when the thread ends, other threads' stays.
TEST_F(HostCoreTest, AThreadsBuffersGoWhenItEnds) {
  const char* kept = core_.KeepText("stays");
  const size_t before = core_.threadBufferCount();
  for (int i = 0; i < 3; ++i) {
    HANDLE thread = control_->BeginThread(nullptr, 0, AskForATempBuffer, control_, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 1u);
    CloseHandle(thread);
  }
  EXPECT_EQ(core_.threadBufferCount(), before);
  EXPECT_STREQ(kept, "stays");
}

TEST_F(HostCoreTest, PumpMessagesDrainsTheCallersInput) {
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), 0x400, 1, 2));
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), 0x400, 3, 4));
  control_->PumpMessages();
  control_->PumpMessages();
  EXPECT_EQ(core_.pumpCount(), 2u);
  auto pumps = core_.calls().All();
  std::vector<intptr_t> drained;
  for (const RecordedCall& c : pumps) {
    if (c.service == "PumpMessages") drained.push_back(Unpacked(c.message.p1));
  }
  EXPECT_EQ(drained, (std::vector<intptr_t>{2, 0}));
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(HostCoreTest, WaitForSeesCallsFromOtherThreadsInOrder) {
  std::thread sender([&] {
    for (int i = 0; i < 50; ++i) Send(Message(kMsgContactChanged, i));
  });
  auto last = core_.calls().WaitForHost(kMsgContactChanged, std::chrono::seconds(10),
                                        [](const RecordedCall& c) { return c.message.p1 == 49; });
  sender.join();
  ASSERT_TRUE(last);
  auto all = core_.calls().HostMessages(kMsgContactChanged);
  ASSERT_EQ(all.size(), 50u);
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(Unpacked(all[i].message.p1), static_cast<intptr_t>(i));
    if (i) {
      EXPECT_LT(all[i - 1].sequence, all[i].sequence);
    }
  }
  EXPECT_FALSE(core_.calls().WaitForHost(kMsgContactWentOffline, std::chrono::milliseconds(20)));
}

TEST(HostProfileTest, AProfileKeepsItsTablesAndAForeignFileIsRefusedUntouched) {
  std::string dir = MakeTempDir("vask-profile");
  ASSERT_FALSE(dir.empty());
  std::string path = dir + "/A.db";
  {
    HostCore core(host::HostOptions{path, "A", false});
    ASSERT_TRUE(core.ok()) << core.error();
    core.SetSetting(kSettingRestoreStatus, 1);
    core.AddContact("BETA");
    core.SetIgnored("NOSY", true);
  }
  {
    HostCore core(host::HostOptions{path, "A", false});
    ASSERT_TRUE(core.ok()) << core.error();
    EXPECT_EQ(core.GetSetting(kSettingRestoreStatus), 1);
    EXPECT_EQ(core.FindContact(NET_LAN, "beta"), 1);
    EXPECT_TRUE(core.IsIgnored("nosy"));
  }

  std::string foreign = dir + "/foreign.db";
  {
    std::ofstream out(foreign, std::ios::binary);
    out << "this is not a database, but somebody's notes\n";
  }
  auto size = std::filesystem::file_size(foreign);
  HostCore refused(host::HostOptions{foreign, "A", false});
  EXPECT_FALSE(refused.ok());
  EXPECT_FALSE(refused.error().empty());
  EXPECT_EQ(std::filesystem::file_size(foreign), size);

  // Another program's SQLite database is refused too, and keeps its data.
  std::string other = dir + "/other.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes (x); INSERT INTO notes VALUES (1);", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  {
    HostCore core(host::HostOptions{other, "A", false});
    EXPECT_FALSE(core.ok());
  }
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  sqlite3_stmt* count = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &count, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(count, 0), 1);  // only its own table
  sqlite3_finalize(count);
  sqlite3_close(db);
  RemoveTree(dir);
}

// The journal mode as another connection reads it from the file.
std::string JournalMode(const std::string& path) {
  sqlite3* db = nullptr;
  std::string mode;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      mode = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
    }
    sqlite3_finalize(s);
  }
  sqlite3_close(db);
  return mode;
}

// A profile on disk logs ahead, so that a history row is not two waits for
// the disk; another program's database is refused before anything changes.
TEST(HostProfileTest, AProfileFileLogsAheadAndAForeignDatabaseKeepsItsJournal) {
  std::string dir = MakeTempDir("vask-profile");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/A.db";
  {
    HostCore core(host::HostOptions{path, "A", false});
    ASSERT_TRUE(core.ok()) << core.error();
    core.AddContact("BETA");
  }
  EXPECT_EQ(JournalMode(path), "wal");
  {
    HostCore core(host::HostOptions{path, "A", false});
    ASSERT_TRUE(core.ok()) << core.error();
    EXPECT_EQ(core.FindContact(NET_LAN, "BETA"), 1);
  }

  const std::string other = dir + "/other.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes (x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  {
    HostCore core(host::HostOptions{other, "A", false});
    EXPECT_FALSE(core.ok());
  }
  EXPECT_EQ(JournalMode(other), "delete");
  RemoveTree(dir);
}

// Runs SQL on a profile through a connection of its own.
bool ExecOn(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// Every failed read or write returns failure and is told once, in Polish
// with SQLite's reason; a contact the profile cannot keep leaves no row.
TEST(HostProfileTest, FailedReadsAndWritesAreReturnedAndToldNeverSilent) {
  std::string dir = MakeTempDir("vask-profile");
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "/A.db";
  HostCore core(host::HostOptions{path, "A", false});
  ASSERT_TRUE(core.ok()) << core.error();
  std::vector<std::string> told;
  core.tables().SetFailureListener([&told](const std::string& m) { told.push_back(m); });
  ASSERT_TRUE(core.SetSetting(kSettingNotices, 1));
  ASSERT_EQ(core.AddContact("BETA"), 1);
  EXPECT_TRUE(told.empty());

  ASSERT_TRUE(ExecOn(path,
                     "CREATE TRIGGER frozen BEFORE INSERT ON cells "
                     "BEGIN SELECT RAISE(ABORT, 'cells frozen'); END;"));
  EXPECT_FALSE(core.SetSetting(kSettingNotices, 0));
  EXPECT_EQ(core.GetSetting(kSettingNotices), 1);
  EXPECT_EQ(core.AddContact("GAMMA"), -1);
  EXPECT_EQ(core.tables().ContactRows(), (std::vector<int>{0, 1}));
  ASSERT_EQ(told.size(), 2u);
  EXPECT_EQ(told[0], "Nie udało się zapisać profilu: cells frozen");
  EXPECT_EQ(told[1], "Nie udało się zapisać profilu: cells frozen");

  told.clear();
  ASSERT_TRUE(ExecOn(path, "DROP TABLE ignored; DROP TABLE history;"));
  EXPECT_FALSE(core.IsIgnored("NOSY"));
  EXPECT_FALSE(core.SetIgnored("NOSY", true));
  host::HistoryEntry e;
  e.body = "zgubiona?";
  EXPECT_EQ(core.tables().AddHistory(e), 0);
  EXPECT_TRUE(core.History().empty());
  ASSERT_EQ(told.size(), 4u);
  EXPECT_EQ(told[0], "Nie udało się odczytać profilu: no such table: ignored");
  EXPECT_EQ(told[1], "Nie udało się zapisać profilu: no such table: ignored");
  EXPECT_EQ(told[2], "Nie udało się zapisać profilu: no such table: history");
  EXPECT_EQ(told[3], "Nie udało się odczytać profilu: no such table: history");
  RemoveTree(dir);
}

// The plug-in's notices carry no time: stored with the time they came, they
// follow what came before; entries are in order of time, then of arrival.
TEST(HostProfileTest, TheHistoryIsInOrderOfTimeAndANoticeWithoutOneGetsItsArrival) {
  HostCore core(host::HostOptions{":memory:", "A", false});
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  auto add = [&core](const char* body, int64_t time) {
    host::HistoryEntry e;
    e.body = body;
    e.time = time;
    return core.tables().AddHistory(e);
  };
  ASSERT_NE(add("later, by a clock ahead", now + 3600), 0);
  ASSERT_NE(add("same second, first", now - 60), 0);
  ASSERT_NE(add("notice", 0), 0);
  ASSERT_NE(add("same second, second", now - 60), 0);
  auto history = core.History();
  ASSERT_EQ(history.size(), 4u);
  EXPECT_EQ(history[0].body, "same second, first");
  EXPECT_EQ(history[1].body, "same second, second");
  EXPECT_EQ(history[2].body, "notice");
  EXPECT_GE(history[2].time, now);
  EXPECT_EQ(history[3].body, "later, by a clock ahead");
}

// The fixture itself, on the probe plug-in: it starts and stops it.
class ProbeFixtureTest : public PluginFixture {
 protected:
  std::string PluginPath() const override { return ProbePath(); }
  void BeforeStart() override { SetSetting(kSettingRestoreStatus, 1); }
};

TEST_F(ProbeFixtureTest, StartsTheLoadedCopyWithTheEnvironmentSet) {
  EXPECT_EQ(Call(probe::kPluginId), plugin());
  EXPECT_EQ(Call(probe::kEcho, 40, 2), 42);
  EXPECT_EQ(GetSetting(kSettingRestoreStatus), 1);
  const char* lan = std::getenv("VASK_LAN_DIR");
  ASSERT_NE(lan, nullptr);
  EXPECT_EQ(lanDir(), lan);
  EXPECT_STREQ(std::getenv("COMPUTERNAME"), "A");
  int b = AddContact("B");
  EXPECT_EQ(ContactText(b, kColumnId), "B");
  EXPECT_EQ(ContactInt(b, kColumnNet), NET_LAN);
}

}  // namespace
}  // namespace vask::test

namespace vask::test {
namespace {

host::RecordedCall CallWithText(size_t bytes) {
  host::RecordedCall call;
  call.service = "SendToHost";
  call.fields.push_back({"body", std::string(bytes, 'x'), host::Field::kText});
  return call;
}

// A long scripted session keeps its recent calls only: bounded in number
// and in the bytes of the texts they copied, the newest always kept.
TEST(CallLogTest, RetentionBoundsTheCallsAndTheirTextsKeepingTheNewest) {
  host::CallLog log;
  log.SetRetention(0, 1000);
  for (int i = 0; i < 5; ++i) log.Add(CallWithText(400));
  auto kept = log.All();
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept.back().sequence, 5u);

  log.Add(CallWithText(5000));  // larger than the bound alone
  kept = log.All();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].sequence, 6u);

  log.SetRetention(3, 0);
  for (int i = 0; i < 4; ++i) log.Add(CallWithText(10000));
  EXPECT_EQ(log.All().size(), 3u);
  log.Clear();
  log.SetRetention(0, 1000);
  log.Add(CallWithText(400));
  log.Add(CallWithText(400));
  EXPECT_EQ(log.All().size(), 2u) << "Clear must forget the bytes of the calls it dropped";
}

}  // namespace
}  // namespace vask::test
