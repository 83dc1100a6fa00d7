// The records the shell builds for the host, byte by byte, and the
// operations over the control object that build them. On 32-bit builds the
// offsets are the documented ones (the static_asserts of host_records.h
// prove the layout; these tests prove what the operations write into it).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "abi/host_ids.h"
#include "abi/host_records.h"
#include "base/host_api.h"
#include "fake_host.h"

namespace vask::test {
namespace {

constexpr bool k32 = sizeof(void*) == 4;
constexpr size_t kPtr = sizeof(intptr_t);
// Ids no host message has: the records are built the same for any id.
constexpr int kAnyId = 1234;
constexpr int kAnotherId = 9004;

TEST(HostMessageRecord, SendsCarryTheirSizeZeroHeadAndParametersInOrder) {
  FakeHost host;
  HostScope scope(host);
  SendHost(kAnyId, 7, 9);
  SendHost(HostHead(kMsgContactCount, 0, -1));
  SendHost(kMsgAnnounceStatus, 0, -1, 0x33);
  SendHost(kAnotherId, 1, 2, 3, 4);

  const auto two = host.Sent(kAnyId).at(0).bytes;
  ASSERT_EQ(two.size(), k32 ? 30u : 22u + 2 * kPtr);
  EXPECT_EQ(At<uint16_t>(two, 0), two.size());
  EXPECT_EQ(At<int32_t>(two, 2), kAnyId);
  for (size_t offset : {6u, 10u, 14u, 18u}) EXPECT_EQ(At<int32_t>(two, offset), 0) << offset;
  EXPECT_EQ(At<intptr_t>(two, 22), 7);
  EXPECT_EQ(At<intptr_t>(two, 22 + kPtr), 9);

  const auto head = host.Sent(kMsgContactCount).at(0).bytes;
  EXPECT_EQ(At<int32_t>(head, 10), 0);
  EXPECT_EQ(At<int32_t>(head, 14), -1);

  const auto three = host.Sent(kMsgAnnounceStatus).at(0).bytes;
  ASSERT_EQ(three.size(), k32 ? 34u : 22u + 3 * kPtr);
  EXPECT_EQ(At<intptr_t>(three, 22 + kPtr), -1);
  EXPECT_EQ(At<intptr_t>(three, 22 + 2 * kPtr), 0x33);

  const auto four = host.Sent(kAnotherId).at(0).bytes;
  ASSERT_EQ(four.size(), k32 ? 38u : 22u + 4 * kPtr);
  EXPECT_EQ(At<intptr_t>(four, 22 + 3 * kPtr), 4);
}

TEST(HostMessageRecord, SendToPluginZeroMeansThisPlugin) {
  FakeHost host;
  HostScope scope(host);
  SendPlugin(0, kMsgPublishDetails, 5, 1);
  SendPlugin(3, kMsgFetchDetails, 6, 1);
  ASSERT_EQ(host.Sent(kMsgPublishDetails).size(), 1u);
  EXPECT_EQ(host.Sent(kMsgPublishDetails)[0].receiver, host.pluginId);
  EXPECT_EQ(Unpacked(host.Sent(kMsgPublishDetails)[0].head.p1), 5);
  EXPECT_EQ(host.Sent(kMsgFetchDetails)[0].receiver, 3);
}

TEST(HostMessageRecord, NothingIsSentBeforeTheControlObject) {
  SetHost(nullptr);
  EXPECT_EQ(SendHost(kMsgLog, 0, 0), 0);
  EXPECT_EQ(GetIntSetting(kSettingRestoreStatus), 0);
  EXPECT_EQ(GetTextSetting(kSettingHostFolder), "");
  EXPECT_FALSE(StartThreadAndWait([](void*) -> unsigned { return 0; }, nullptr));
}

TEST(ColumnDefRecord, TableByteThenUnpaddedColumnTypeDefaultAndName) {
  FakeHost host;
  HostScope scope(host);
  static const char kDefault[] = "Vask";
  DefineColumn(kTableSettings, kSettingChannel, kColumnText, reinterpret_cast<intptr_t>(kDefault),
               "");
  const auto bytes = host.Sent(kMsgDefineColumn).at(0).bytes;
  ASSERT_EQ(bytes.size(), k32 ? 39u : 31u + 2 * kPtr);
  EXPECT_EQ(At<uint16_t>(bytes, 0), bytes.size());
  EXPECT_EQ(At<int32_t>(bytes, 2), kMsgDefineColumn);
  EXPECT_EQ(bytes[22], kTableSettings);
  EXPECT_EQ(At<int32_t>(bytes, 23), kSettingChannel);
  EXPECT_EQ(At<int32_t>(bytes, 27), kColumnText);
  EXPECT_STREQ(reinterpret_cast<const char*>(At<intptr_t>(bytes, 31)), "Vask");
  EXPECT_STREQ(reinterpret_cast<const char*>(At<intptr_t>(bytes, 31 + kPtr)), "");
}

TEST(IconRecordLayout, PaddedAfterSizeWithFixedFields) {
  FakeHost host;
  HostScope scope(host);
  EXPECT_EQ(RegisterIcon(kIconKindSmall, kIconSmall, host.module, 121), kIconSmall);
  const auto icon = host.Sent(kMsgRegisterIcon).at(0).p1;
  ASSERT_EQ(icon.size(), k32 ? 36u : sizeof(IconRecord));
  EXPECT_EQ(At<uint16_t>(icon, 0), icon.size());
  EXPECT_EQ(At<uint16_t>(icon, 2), 0);
  EXPECT_EQ(At<int32_t>(icon, 4), kIconSmall);
  EXPECT_EQ(At<int32_t>(icon, 8), kIconKindSmall);
  EXPECT_EQ(At<int32_t>(icon, 12), 0);
  EXPECT_EQ(At<int32_t>(icon, 16), 1);
  EXPECT_EQ(At<HMODULE>(icon, offsetof(IconRecord, module)), host.module);
  EXPECT_EQ(At<int32_t>(icon, offsetof(IconRecord, resourceId)), 121);
  EXPECT_EQ(At<int32_t>(icon, offsetof(IconRecord, zero28)), 0);
  EXPECT_EQ(At<int32_t>(icon, offsetof(IconRecord, zero32)), 0);
}

TEST(ActionInfoRecord, AddItemShortLongAndGroup) {
  FakeHost host;
  HostScope scope(host);
  AddItem(kItemSettingsGroup, 0, 0x110040, "res://dll/111.ico", 0, 150, 50);
  AddItemLong(kItemSettingsGroup, kItemHelp, 0xE0180, "POMOC", 0, 40, 40, 0, 0);
  AddGroupItem(kParentSettings, kItemSettingsGroup, 0, "Vask", kIconPlugin);
  const auto items = host.Sent(kMsgAddItem);
  ASSERT_EQ(items.size(), 3u);

  const size_t text = offsetof(ActionInfo, text);
  const size_t after = text + kPtr;  // textSize and what follows
  const auto& shortForm = items[0].p1;
  ASSERT_EQ(shortForm.size(), k32 ? 74u : after + 20u);
  EXPECT_EQ(At<int32_t>(shortForm, 2), 0);
  EXPECT_EQ(At<int32_t>(shortForm, 6), kItemSettingsGroup);
  EXPECT_EQ(At<int32_t>(shortForm, 10), -2);
  EXPECT_EQ(At<int32_t>(shortForm, 14), -1);
  for (size_t i = 18; i < 30; ++i) EXPECT_EQ(shortForm[i], 0) << i;
  EXPECT_EQ(At<int32_t>(shortForm, 30), kActionMaskAdd);
  EXPECT_EQ(At<int32_t>(shortForm, 34), 0x110040);
  EXPECT_EQ(At<int32_t>(shortForm, 38), -1);
  EXPECT_EQ(At<int32_t>(shortForm, 42), 0);
  EXPECT_EQ(At<int32_t>(shortForm, 46), 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(At<intptr_t>(shortForm, text)), "res://dll/111.ico");
  EXPECT_EQ(At<int32_t>(shortForm, after), 0);       // text size
  EXPECT_EQ(At<int32_t>(shortForm, after + 4), 0);   // last parameter
  EXPECT_EQ(At<int32_t>(shortForm, after + 8), 0);   // parameter
  EXPECT_EQ(At<int32_t>(shortForm, after + 12), 0);  // next-to-last parameter
  EXPECT_EQ(At<uint16_t>(shortForm, after + 16), 150);
  EXPECT_EQ(At<uint16_t>(shortForm, after + 18), 50);

  const auto& longForm = items[1].p1;
  ASSERT_EQ(longForm.size(), shortForm.size() + 4);
  EXPECT_EQ(At<int32_t>(longForm, 2), kItemHelp);
  EXPECT_EQ(At<uint16_t>(longForm, after + 16), 40);
  EXPECT_EQ(At<uint16_t>(longForm, after + 20), 0);
  EXPECT_EQ(At<uint16_t>(longForm, after + 22), 0);

  const auto& group = items[2].p1;
  EXPECT_EQ(At<int32_t>(group, 34), 16);
  EXPECT_EQ(At<int32_t>(group, after + 8), kIconPlugin);
}

TEST(ActionInfoRecord, StatusTextAndReadRequests) {
  FakeHost host;
  HostScope scope(host);
  static const char kHostText[] = "15";
  host.answer = [](HostMessage* m) -> intptr_t {
    return m->id == kMsgReadItemText ? reinterpret_cast<intptr_t>(kHostText) : 0;
  };
  const ActionRef ref{kItemRefreshOwn, kParentOwnDetails, 3};
  SetItemStatus(ref, -1, 1);
  SetItemText(ref, "nowy");
  EXPECT_EQ(ReadItemText(ref), kHostText);

  const size_t text = offsetof(ActionInfo, text);
  const auto status = host.Sent(kMsgSetItemStatus).at(0).p1;
  EXPECT_EQ(At<uint16_t>(status, 0), kActionInfoShort);
  EXPECT_EQ(At<int32_t>(status, 2), kItemRefreshOwn);
  EXPECT_EQ(At<int32_t>(status, 6), kParentOwnDetails);
  EXPECT_EQ(At<int32_t>(status, 10), 3);
  EXPECT_EQ(At<int32_t>(status, 14), 0);
  EXPECT_EQ(At<int32_t>(status, 30), kActionMaskStatus);
  EXPECT_EQ(At<int32_t>(status, 34), -1);
  EXPECT_EQ(At<int32_t>(status, 38), 1);

  const auto set = host.Sent(kMsgSetItemText).at(0).p1;
  EXPECT_EQ(At<int32_t>(set, 30), kActionMaskText);
  EXPECT_STREQ(reinterpret_cast<const char*>(At<intptr_t>(set, text)), "nowy");

  const auto read = host.Sent(kMsgReadItemText).at(0).p1;
  EXPECT_EQ(At<int32_t>(read, 30), kActionMaskText);
  EXPECT_EQ(At<intptr_t>(read, text), 0);
  EXPECT_EQ(At<int32_t>(read, text + kPtr), 0);
}

TEST(SettingsAndColumns, MaskedWriteReadsOnlyWhenMasked) {
  FakeHost host;
  HostScope scope(host);
  host.SetInt(kTableContacts, 2, kColumnStatus, 0x83);
  SetContactIntMasked(2, kColumnStatus, 0x40, -1);
  auto calls = host.Values();
  ASSERT_EQ(calls.size(), 1u);  // no read first
  EXPECT_TRUE(calls[0].set);
  EXPECT_EQ(Unpacked(calls[0].value.value), 0x40);

  SetContactIntMasked(2, kColumnStatus, 0, 1);
  calls = host.Values();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_FALSE(calls[1].set);
  EXPECT_EQ(Unpacked(calls[2].value.value), 0x82);  // only bit 0 cleared
}

TEST(SettingsAndColumns, ContactFieldsThroughTheDetailsWindow) {
  FakeHost host;
  HostScope scope(host);
  static char windowText[] = "15";
  host.answer = [](HostMessage* m) -> intptr_t {
    if (m->id == kMsgItemParent) return 0x7100;  // any parent the host makes up
    if (m->id == kMsgReadItemText) return reinterpret_cast<intptr_t>(windowText);
    return 0;
  };
  const std::string net = ReadContactField(true, 5, kColumnNet);
  windowText[0] = 'X';  // the host's text changes after the call
  EXPECT_EQ(net, "15");
  const auto parent = host.Sent(kMsgItemParent).at(0).p1;
  EXPECT_EQ(At<int32_t>(parent, 0), kContactWindowItemBase + kColumnNet);
  EXPECT_EQ(At<int32_t>(parent, 4), kParentWindowRoot);
  EXPECT_EQ(At<int32_t>(parent, 8), -2);
  const auto read = host.Sent(kMsgReadItemText).at(0).p1;
  EXPECT_EQ(At<int32_t>(read, 2), kContactWindowItemBase + kColumnNet);
  EXPECT_EQ(At<int32_t>(read, 6), 0x7100);
  EXPECT_EQ(At<int32_t>(read, 10), 5);

  WriteContactField(false, 5, kColumnFirstName, "");
  EXPECT_TRUE(host.Sent(kMsgSetItemText).empty());
  WriteContactField(false, 5, kColumnFirstName, "Jan");
  ASSERT_EQ(host.Sent(kMsgSetItemText).size(), 1u);
  EXPECT_EQ(At<int32_t>(host.Sent(kMsgSetItemText)[0].p1, 2),
            kContactWindowItemBase + kColumnFirstName);
  WriteContactField(true, 5, kColumnFirstName, "Jan");
  ASSERT_EQ(host.Values().size(), 1u);
  EXPECT_TRUE(host.Values()[0].set);
  EXPECT_EQ(host.Sent(kMsgItemParent).size(), 2u);  // the table write asks no parent
}

TEST(MessageCopy, SurvivesTheReleaseOfTheHostsRecord) {
  auto* source = new MessageRecord{};
  source->size = sizeof(MessageRecord);
  source->id = 77;
  source->type = 1;
  source->from = _strdup("A");
  source->to = nullptr;
  source->body = _strdup("treść");
  source->ext = _strdup("");
  source->flags = 128;
  source->field42 = -2;
  source->icon = kIconMessage;
  source->time = 0x123456789LL;
  MessageRecord* copy = CopyMessageRecord(source);
  std::strcpy(source->body, "xxxxx");
  std::free(source->from);
  std::free(source->body);
  std::free(source->ext);
  const int64_t time = source->time;
  delete source;

  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Unpacked(copy->id), 77);
  EXPECT_EQ(Unpacked(copy->flags), 128);
  EXPECT_EQ(Unpacked(copy->field42), -2);
  EXPECT_EQ(Unpacked(copy->icon), kIconMessage);
  EXPECT_EQ(Unpacked(copy->time), time);
  EXPECT_STREQ(copy->from, "A");
  EXPECT_EQ(Unpacked(copy->to), nullptr);
  EXPECT_STREQ(copy->body, "treść");
  EXPECT_STREQ(copy->ext, "");
  FreeMessageCopy(copy);
  EXPECT_EQ(CopyMessageRecord(nullptr), nullptr);
}

// Runs StartThreadAndWait on a thread of its own so that a hang fails the
// test at the deadline instead of blocking the suite.
bool RunBounded(HostThreadRoutine routine, void* argument, bool* result) {
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    *result = StartThreadAndWait(routine, argument);
    done = true;
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (!done) {
    waiter.detach();
    return false;
  }
  waiter.join();
  return true;
}

struct PumpScript {
  FakeHost* host = nullptr;
  std::atomic<DWORD> waiter{0};
  std::atomic<bool> finished{false};
};

// Posts two inputs to the waiting thread, each after the previous one was
// pumped, then ends.
unsigned WINAPI PostTwice(void* argument) {
  auto* script = static_cast<PumpScript*>(argument);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int round = 1; round <= 2; ++round) {
    while (!PostThreadMessageA(script->waiter, WM_USER, 0, 0) &&
           std::chrono::steady_clock::now() < until) {
      Sleep(1);
    }
    for (;;) {
      {
        std::lock_guard lock(script->host->mutex);
        if (script->host->pumps >= round) break;
      }
      if (std::chrono::steady_clock::now() >= until) return 1;
      Sleep(1);
    }
  }
  script->finished = true;
  return 0;
}

TEST(StartThreadAndWait, PumpsOncePerInputAndReturnsAfterTheThreadEnded) {
  FakeHost host;
  HostScope scope(host);
  PumpScript script;
  script.host = &host;
  host.beginThread = [&script](HostThreadRoutine routine, void* argument) -> HANDLE {
    // The waiter is the calling thread: its input queue exists from here.
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    script.waiter = GetCurrentThreadId();
    return CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(routine), argument, 0,
                        nullptr);
  };
  bool result = false;
  ASSERT_TRUE(RunBounded(PostTwice, &script, &result));
  EXPECT_TRUE(result);
  EXPECT_TRUE(script.finished);
  std::lock_guard lock(host.mutex);
  EXPECT_EQ(host.pumps, 2);
}

TEST(StartThreadAndWait, AThreadThatCannotStartOrAFailedWaitEndsIt) {
  FakeHost host;
  HostScope scope(host);
  host.beginThread = [](HostThreadRoutine, void*) -> HANDLE { return nullptr; };
  bool result = true;
  ASSERT_TRUE(RunBounded([](void*) -> unsigned { return 0; }, nullptr, &result));
  EXPECT_FALSE(result);
  EXPECT_EQ(host.Sent(kMsgLog).size(), 1u);  // one log line

  // A handle that is no thread: the wait fails at once and is not retried.
  host.beginThread = [](HostThreadRoutine, void*) -> HANDLE {
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(0x4321));
  };
  result = true;
  ASSERT_TRUE(RunBounded([](void*) -> unsigned { return 0; }, nullptr, &result));
  EXPECT_FALSE(result);
  EXPECT_EQ(host.Sent(kMsgLog).size(), 2u);
}

// The bus's texts in the host runtime's layout: 28-byte string objects at
// 24, 52 and 80 of a 108-byte 55001 on 32-bit builds.
TEST(BusRecords, RuntimeStringsHoldShortTextsInsideAndLongOnesBehindAPointer) {
  if (k32) {
    EXPECT_EQ(sizeof(RuntimeString), 28u);
    EXPECT_EQ(offsetof(BusSendRecord, target), 24u);
    EXPECT_EQ(offsetof(BusSendRecord, command), 52u);
    EXPECT_EQ(offsetof(BusSendRecord, body), 80u);
    EXPECT_EQ(sizeof(BusSendRecord), 108u);
    EXPECT_EQ(sizeof(BusSentRecord), 36u);
    EXPECT_EQ(sizeof(BusReceivedRecord), 32u);
  }
  const std::string shortText("a\0b", 3);
  const RuntimeString inside = RuntimeStringOver(shortText);
  EXPECT_EQ(inside.capacity, 15u);
  EXPECT_EQ(inside.length, 3u);
  EXPECT_EQ(std::memcmp(inside.storage.text, shortText.data(), 3), 0);
  EXPECT_EQ(ReadRuntimeString(inside), shortText);

  const std::string longText("szesnascie znakow\0i dalej", 26);
  const RuntimeString behind = RuntimeStringOver(longText);
  EXPECT_EQ(behind.capacity, 26u);
  EXPECT_EQ(behind.storage.pointer, longText.c_str());
  EXPECT_EQ(ReadRuntimeString(behind), longText);

  // Exactly 15 bytes still fit inside; 16 do not.
  EXPECT_EQ(RuntimeStringOver(std::string(15, 'x')).capacity, 15u);
  EXPECT_EQ(RuntimeStringOver(std::string(16, 'x')).storage.pointer != nullptr, true);
}

TEST(BusRecords, FieldListIsARingBehindASentinel) {
  const std::vector<std::string> fields{"7", "B", "A", "KOMENDA-Z-DLUGA-NAZWA", ""};
  RuntimeTextList list(fields);
  const RuntimeList* l = list.list();
  ASSERT_EQ(l->count, fields.size());
  EXPECT_EQ(l->head->prev->next, l->head);
  EXPECT_EQ(l->head->next->prev, l->head);
  EXPECT_EQ(ReadRuntimeString(l->head->next->value), "7");
  EXPECT_EQ(ReadRuntimeString(l->head->prev->value), "");
  EXPECT_EQ(ReadRuntimeList(*l), fields);
}

}  // namespace
}  // namespace vask::test
