#include "host/core/record_decoder.h"

#include <algorithm>
#include <cstring>

namespace vask::host {

namespace {

const char* TextAt(intptr_t p) { return reinterpret_cast<const char*>(p); }

}  // namespace

void AddInt(RecordedCall& call, const char* name, long long value) {
  call.fields.push_back({name, std::to_string(value), Field::kInt});
}

void AddText(RecordedCall& call, const char* name, const char* text) {
  if (!text) {
    call.fields.push_back({name, "", Field::kNull});
  } else {
    call.fields.push_back({name, text, Field::kText});
  }
}

void AddBytes(RecordedCall& call, const char* name, const char* text, size_t limit) {
  call.fields.push_back({name, std::string(text, strnlen(text, limit)), Field::kText});
}

int ParamCount(const HostMessage* message) {
  if (message->size <= kHostMessageHead) return 0;
  return std::min<int>(4, (message->size - kHostMessageHead) / static_cast<int>(sizeof(intptr_t)));
}

std::string TextOf(intptr_t p) { return p ? TextAt(p) : ""; }

void CopyHead(const HostMessage* message, RecordedCall& call) {
  call.message = HostMessage{};
  if (!message) return;
  // The head is always there; parameters only as far as the size says,
  // since records like ColumnDef are shorter than a full HostMessage.
  std::memcpy(&call.message, message, kHostMessageHead);
  // The record is packed: its parameters sit at offset 2, so they are
  // copied as bytes, never read through an aligned pointer.
  const size_t params = static_cast<size_t>(ParamCount(message));
  std::memcpy(reinterpret_cast<char*>(&call.message) + kHostMessageHead,
              reinterpret_cast<const char*>(message) + kHostMessageHead, params * sizeof(intptr_t));
  call.id = message->id;
}

void DecodeLog(const HostMessage* m, RecordedCall& call) {
  AddText(call, "text", TextAt(m->p1));
  AddInt(call, "level", m->p2);
}

void DecodeShownMessage(const HostMessage* m, RecordedCall& call) {
  const auto* record = reinterpret_cast<const MessageRecord*>(m->p1);
  if (!record) return;
  AddInt(call, "messageId", record->id);
  AddInt(call, "net", record->net);
  AddInt(call, "type", record->type);
  AddText(call, "from", record->from);
  AddText(call, "to", record->to);
  AddText(call, "body", record->body);
  AddText(call, "ext", record->ext);
  AddInt(call, "flags", record->flags);
  AddInt(call, "field42", record->field42);
  AddInt(call, "icon", record->icon);
  AddInt(call, "time", record->time);
}

void DecodeMessageQuery(const HostMessage* m, RecordedCall& call) {
  const auto* q = reinterpret_cast<const MessageQuery*>(m->p1);
  if (!q) return;
  AddInt(call, "f2", q->f2);
  AddInt(call, "f6", q->f6);
  AddInt(call, "f10", q->f10);
  AddInt(call, "f14", q->f14);
  AddInt(call, "f18", q->f18);
  AddInt(call, "f22", q->f22);
  AddInt(call, "f26", q->f26);
}

void DecodeSendResult(const HostMessage* m, RecordedCall& call) {
  AddInt(call, "messageId", m->p1);
  AddInt(call, "sent", m->p2);
}

void DecodeAddress(const HostMessage* m, RecordedCall& call) {
  AddInt(call, "net", m->p1);
  AddText(call, "address", TextAt(m->p2));
}

void DecodeContactStatus(const HostMessage* m, RecordedCall& call) {
  AddInt(call, "contact", m->p1);
  AddInt(call, "status", m->p2);
  if (ParamCount(m) >= 3) AddText(call, "text", TextAt(m->p3));
}

void DecodeOwnStatus(const HostMessage* m, RecordedCall& call) {
  AddInt(call, "status", m->p2);
  if (ParamCount(m) >= 3) AddText(call, "text", TextAt(m->p3));
}

void DecodeColumn(const HostMessage* m, RecordedCall& call) {
  const auto* def = reinterpret_cast<const ColumnDef*>(m);
  AddInt(call, "table", def->table);
  AddInt(call, "column", def->column);
  AddInt(call, "columnType", def->columnType);
  if (def->columnType == kColumnText) {
    AddText(call, "default", reinterpret_cast<const char*>(def->defaultValue));
  } else {
    AddInt(call, "default", def->defaultValue);
  }
  AddText(call, "name", def->name);
}

void DecodeItem(const HostMessage* m, RecordedCall& call) {
  const auto* info = reinterpret_cast<const ActionInfo*>(m->p1);
  if (!info) return;
  AddInt(call, "size", info->size);
  AddInt(call, "action", info->ref.id);
  AddInt(call, "parent", info->ref.parent);
  AddInt(call, "contact", info->ref.contact);
  AddInt(call, "position", info->position);
  AddInt(call, "mask", info->mask);
  AddInt(call, "status", info->status);
  AddInt(call, "statusMask", info->statusMask);
  AddText(call, "text", info->text);
  AddInt(call, "textSize", info->textSize);
  AddInt(call, "param", info->param);
  AddInt(call, "width", info->width);
  AddInt(call, "height", info->height);
  if (info->size >= kActionInfoLong) {
    AddInt(call, "extra1", info->extra1);
    AddInt(call, "extra2", info->extra2);
  }
}

void DecodeItemRef(const HostMessage* m, RecordedCall& call) {
  const auto* ref = reinterpret_cast<const ActionRef*>(m->p1);
  if (!ref) return;
  AddInt(call, "action", ref->id);
  AddInt(call, "parent", ref->parent);
  AddInt(call, "contact", ref->contact);
}

void DecodeIcon(const HostMessage* m, RecordedCall& call) {
  const auto* icon = reinterpret_cast<const IconRecord*>(m->p1);
  if (!icon) return;
  AddInt(call, "iconId", icon->iconId);
  AddInt(call, "kind", icon->kind);
  AddInt(call, "module", reinterpret_cast<intptr_t>(icon->module));
  AddInt(call, "resourceId", icon->resourceId);
}

void DecodeMessageBox(const HostMessage* m, RecordedCall& call) {
  AddText(call, "text", TextAt(m->p1));
  if (ParamCount(m) >= 3) AddText(call, "title", TextAt(m->p3));
}

void DecodeNotice(const HostMessage* m, RecordedCall& call) {
  const auto* notice = reinterpret_cast<const SearchStatusRecord*>(m->p1);
  if (!notice) return;
  AddText(call, "title", notice->title);
  AddText(call, "text", notice->text);
  AddInt(call, "style", notice->style);
  AddInt(call, "owner", notice->owner);
  AddInt(call, "cancelled", notice->cancelled);
  AddInt(call, "threadId", notice->threadId);
}

void DecodeContactRow(const HostMessage* m, RecordedCall& call) { AddInt(call, "contact", m->p1); }

void DecodeFound(const HostMessage* m, RecordedCall& call) {
  const auto* found = reinterpret_cast<const FoundContact*>(m->p1);
  if (!found) return;
  AddInt(call, "status", found->status);
  AddBytes(call, "uid", found->uid, sizeof found->uid);
  AddBytes(call, "column6", found->column6, sizeof found->column6);
  AddBytes(call, "column7", found->column7, sizeof found->column7);
  AddBytes(call, "column17", found->column17, sizeof found->column17);
  AddBytes(call, "column11", found->column11, sizeof found->column11);
  AddBytes(call, "column9", found->column9, sizeof found->column9);
  AddBytes(call, "provider", found->provider, sizeof found->provider);
  AddInt(call, "gender", found->gender);
  AddInt(call, "lowerBound", found->lowerBound);
  AddInt(call, "upperBound", found->upperBound);
  AddInt(call, "net", found->net);
}

}  // namespace vask::host
