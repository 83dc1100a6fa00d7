#include "host/core/host_answers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "host/core/host_core.h"

namespace vask::host {

namespace {

intptr_t Log(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  if (parts.verbose) std::fprintf(stderr, "log: %s\n", TextOf(m->p1).c_str());
  return 0;
}

// A message for the user goes into the history, with the sender's row.
intptr_t ShowMessage(AnswerContext& parts, HostMessage* m, RecordedCall& call) {
  const auto* record = reinterpret_cast<const MessageRecord*>(m->p1);
  if (!record) return 0;
  HistoryEntry e;
  e.from = TextOf(reinterpret_cast<intptr_t>(record->from));
  e.to = TextOf(reinterpret_cast<intptr_t>(record->to));
  e.body = TextOf(reinterpret_cast<intptr_t>(record->body));
  e.ext = TextOf(reinterpret_cast<intptr_t>(record->ext));
  // The plug-in's notices carry no time: they are stamped on arrival, so
  // that the history keeps them after what came before.
  e.time = record->time > 0 ? record->time : static_cast<int64_t>(std::time(nullptr));
  e.type = record->type;
  e.net = record->net;
  e.flags = record->flags;
  e.contact = parts.core.FindContact(record->net ? record->net : NET_LAN, e.from);
  e.number = parts.tables.AddHistory(e);
  AddInt(call, "contactRow", e.contact);
  AddInt(call, "historyNumber", e.number);
  return 0;
}

intptr_t SendResult(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  parts.reports.SetSendResult(static_cast<int>(m->p1), static_cast<int>(m->p2));
  return 0;
}

intptr_t FindContact(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  return parts.core.FindContact(static_cast<int>(m->p1), TextOf(m->p2));
}

intptr_t ContactCount(AnswerContext& parts, HostMessage*, RecordedCall&) {
  return parts.tables.ContactLimit();
}

// The status number goes into the status column's low byte; its flags stay.
intptr_t ContactStatus(AnswerContext& parts, HostMessage* m, RecordedCall& call) {
  HostTables& t = parts.tables;
  const int contact = static_cast<int>(m->p1);
  if (!t.RowExists(kTableContacts, contact)) return 0;
  const int64_t old = t.GetInt(kTableContacts, contact, kColumnStatus);
  t.SetInt(kTableContacts, contact, kColumnStatus,
           (old & ~int64_t{kStatusNumberMask}) | (m->p2 & kStatusNumberMask));
  t.SetText(kTableContacts, contact, kColumnStatusInfo, ParamCount(m) >= 3 ? TextOf(m->p3) : "");
  AddText(call, "address", t.GetText(kTableContacts, contact, kColumnId).c_str());
  return 0;
}

// The settings columns the plug-in named ".../Status" and ".../StatusInfo":
// the host keeps the last status announced there (kUndeclared when not
// declared).
struct KeptStatusColumns {
  static constexpr int kUndeclared = 0;
  int status = kUndeclared;
  int text = kUndeclared;
};

KeptStatusColumns FindKeptStatusColumns(const PluginDeclarations& declared) {
  KeptStatusColumns kept;
  for (const ColumnDefinition& c : declared.columns()) {
    if (c.table != kTableSettings) continue;
    const size_t slash = c.name.rfind('/');
    if (slash == std::string::npos) continue;
    if (c.name.compare(slash, std::string::npos, "/Status") == 0) kept.status = c.column;
    if (c.name.compare(slash, std::string::npos, "/StatusInfo") == 0) kept.text = c.column;
  }
  return kept;
}

intptr_t AnnounceStatus(AnswerContext& parts, HostMessage* m, RecordedCall& call) {
  // The host keeps the last status a plug-in announced, with its
  // description, so that kSettingRestoreStatus brings it back at the next
  // start. Offline is not kept: every start announces it first, and a
  // restored status is the last one the user was reachable with.
  const KeptStatusColumns kept = FindKeptStatusColumns(parts.declared);
  const bool hasText = ParamCount(m) >= 3;
  // Going online with no description while the host knows none for the
  // plug-in (a start, or after one without): the answer carries the last
  // description kept, which the plug-in reads back as its own. A
  // description given, or one the plug-in holds, stays as it is.
  if (hasText && m->p3 == 0 && kept.text != 0) {
    const OwnStatus before = parts.reports.ownStatus();
    const int target = m->p2 != -1 ? static_cast<int>(m->p2) : before.status;
    if (target != kStatusOffline && before.text.empty()) {
      const std::string last = parts.tables.GetText(kTableSettings, 0, kept.text);
      if (!last.empty()) m->p3 = reinterpret_cast<intptr_t>(parts.core.KeepText(last));
    }
  }
  // A hook may have rewritten p2 and p3 too: record what the plug-in will
  // read back. p2 -1 keeps the status, a missing p3 the text.
  const std::optional<int> status =
      m->p2 != -1 ? std::optional<int>(static_cast<int>(m->p2)) : std::nullopt;
  const std::string text = hasText && m->p3 ? TextOf(m->p3) : "";
  const OwnStatus own =
      parts.reports.AnnounceStatus(status, hasText && m->p3 ? text.c_str() : nullptr);
  AddInt(call, "ownStatus", own.status);
  AddText(call, "ownText", own.text.c_str());
  if (own.status != kStatusOffline && kept.status != KeptStatusColumns::kUndeclared) {
    parts.tables.SetInt(kTableSettings, 0, kept.status, own.status);
    if (kept.text != KeptStatusColumns::kUndeclared) {
      parts.tables.SetText(kTableSettings, 0, kept.text, own.text);
    }
  }
  return 0;
}

intptr_t IsIgnored(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  return parts.core.IsIgnored(TextOf(m->p2)) ? 1 : 0;
}

intptr_t DefineColumn(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* def = reinterpret_cast<const ColumnDef*>(m);
  ColumnDefinition c;
  c.table = def->table;
  c.column = def->column;
  c.type = def->columnType;
  if (def->columnType == kColumnText) {
    c.defaultText = TextOf(def->defaultValue);
  } else {
    c.defaultInt = def->defaultValue;
  }
  c.name = def->name ? def->name : "";
  parts.tables.DefineColumn(c.table, c.column, c.type, c.defaultInt, c.defaultText, c.name);
  parts.declared.AddColumn(c);
  return 0;
}

intptr_t AddItem(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
  if (!info) return 0;
  InterfaceItem item;
  item.id = info->ref.id;
  item.parent = info->ref.parent;
  item.contact = info->ref.contact;
  item.position = info->position;
  item.style = item.status = info->status;
  item.text = info->text ? info->text : "";
  item.param = info->param;
  item.width = info->width;
  item.height = info->height;
  item.size = info->size;
  parts.declared.AddItem(item);
  return 0;
}

// The text of a declared item or of a contact window's field: into the
// caller's buffer when it gave one, else as a text the host keeps.
intptr_t ReadItemText(AnswerContext& parts, HostMessage* m, RecordedCall& call) {
  auto* info = reinterpret_cast<ActionInfo*>(m->p1);
  if (!info) return 0;
  std::string text;
  if (IsContactWindowItem(info->ref.id)) {
    text = parts.details.Text(info->ref.contact, ContactWindowColumn(info->ref.id));
  } else if (auto item = parts.declared.Item(info->ref.id, info->ref.parent)) {
    text = item->text;
  }
  const char* kept = parts.core.KeepText(text);
  if (info->text && info->textSize > 0) {
    size_t n = std::min(text.size(), static_cast<size_t>(info->textSize) - 1);
    char* buffer = const_cast<char*>(info->text);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  } else {
    info->text = kept;
  }
  AddText(call, "answerText", kept);
  return reinterpret_cast<intptr_t>(kept);
}

intptr_t SetItemStatus(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
  if (!info) return 0;
  parts.declared.SetItemStatus(info->ref.id, info->ref.parent, info->status, info->statusMask);
  return 0;
}

intptr_t SetItemText(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
  if (!info) return 0;
  std::string text = info->text ? info->text : "";
  if (IsContactWindowItem(info->ref.id)) {
    parts.details.SetText(info->ref.contact, ContactWindowColumn(info->ref.id), text);
  } else {
    parts.declared.SetItemText(info->ref.id, info->ref.parent, text);
  }
  return 0;
}

// A contact window's items exist while its details window is open.
intptr_t ItemExists(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* ref = reinterpret_cast<const ActionRef*>(m->p1);
  return ref && parts.details.IsOpen(ref->contact) ? 1 : 0;
}

intptr_t ItemParent(AnswerContext&, HostMessage*, RecordedCall&) { return kContactWindowParent; }

intptr_t RegisterIcon(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* icon = reinterpret_cast<const IconRecord*>(m->p1);
  if (!icon) return 0;
  parts.declared.AddIcon({icon->iconId, icon->kind, icon->module, icon->resourceId});
  return icon->iconId;
}

intptr_t ShowMessageBox(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  MessageBox box;
  box.error = m->id == kMsgErrorBox;
  box.text = TextOf(m->p1);
  if (ParamCount(m) >= 3) box.title = TextOf(m->p3);
  parts.reports.AddMessageBox(box);
  return 0;
}

intptr_t OpenNotice(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  auto* record = reinterpret_cast<SearchStatusRecord*>(m->p1);
  if (!record) return 0;
  Notice n;
  n.record = record;
  n.title = TextOf(reinterpret_cast<intptr_t>(record->title));
  n.text = TextOf(reinterpret_cast<intptr_t>(record->text));
  n.style = record->style;
  n.thread = GetCurrentThreadId();
  parts.notices.Open(n);
  return 0;
}

intptr_t CloseNotice(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  parts.notices.Close(reinterpret_cast<const SearchStatusRecord*>(m->p1));
  return 0;
}

intptr_t AddFound(AnswerContext& parts, HostMessage* m, RecordedCall&) {
  const auto* found = reinterpret_cast<const FoundContact*>(m->p1);
  if (!found) return 0;
  parts.reports.AddFound(*found);
  return 0;
}

// clang-format off
constexpr HostAnswer kAnswers[] = {
    // id                     decode               answer          event
    {kMsgLog,                 DecodeLog,           Log,            nullptr},
    {kMsgShowMessage,         DecodeShownMessage,  ShowMessage,    "message"},
    {kMsgQueryMessages,       DecodeMessageQuery,  nullptr,        nullptr},
    {kMsgSendResult,          DecodeSendResult,    SendResult,     "send-result"},
    {kMsgFindContact,         DecodeAddress,       FindContact,    nullptr},
    {kMsgContactCount,        nullptr,             ContactCount,   nullptr},
    {kMsgDetailsWritten,      DecodeContactRow,    nullptr,        nullptr},
    {kMsgContactStatus,       DecodeContactStatus, ContactStatus,  "contact-status"},
    {kMsgAnnounceStatus,      DecodeOwnStatus,     AnnounceStatus, "own-status"},
    {kMsgIsIgnored,           DecodeAddress,       IsIgnored,      nullptr},
    {kMsgDefineColumn,        DecodeColumn,        DefineColumn,   nullptr},
    {kMsgAddItem,             DecodeItem,          AddItem,        nullptr},
    {kMsgReadItemText,        DecodeItem,          ReadItemText,   nullptr},
    {kMsgSetItemStatus,       DecodeItem,          SetItemStatus,  nullptr},
    {kMsgSetItemText,         DecodeItem,          SetItemText,    nullptr},
    {kMsgItemExists,          DecodeItemRef,       ItemExists,     nullptr},
    {kMsgItemParent,          DecodeItemRef,       ItemParent,     nullptr},
    {kMsgRegisterIcon,        DecodeIcon,          RegisterIcon,   nullptr},
    {kMsgErrorBox,            DecodeMessageBox,    ShowMessageBox, "message-box"},
    {kMsgInfoBox,             DecodeMessageBox,    ShowMessageBox, "message-box"},
    {kMsgSearchNoticeShow,    DecodeNotice,        OpenNotice,     "notice-opened"},
    {kMsgSearchNoticeHide,    DecodeNotice,        CloseNotice,    "notice-closed"},
    {kMsgContactChanged,      DecodeContactRow,    nullptr,        nullptr},
    {kMsgContactWentOffline,  DecodeContactRow,    nullptr,        nullptr},
    {kMsgDetailsAsked,        DecodeContactRow,    nullptr,        nullptr},
    {kMsgStatusChanged,       DecodeContactRow,    nullptr,        nullptr},
    {kMsgAllWentOffline,      nullptr,             nullptr,        nullptr},
    {kMsgFoundContact,        DecodeFound,         AddFound,       "found-contact"},
};
// clang-format on

}  // namespace

const HostAnswer* FindHostAnswer(int32_t id) {
  for (const HostAnswer& row : kAnswers) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

}  // namespace vask::host
