// The string and list objects of the host's runtime, in which the
// extension bus hands texts between plug-ins (host messages 55001 to 55003).
// Every module reads and builds them by this layout, whatever C++ library
// it was built with; none of them frees, grows or keeps another's objects.
//
// String object, 28 bytes on 32-bit builds:
//   a word its owner may use (we neither read nor write it);
//   16 bytes: the text itself, NUL-terminated, while the capacity is below
//   16, else a pointer to the text;
//   the length (the text may hold NULs: the length decides, not a NUL);
//   the capacity.
// List object (the field list of 55003), 12 bytes on 32-bit builds:
//   a word its owner may use; a pointer to the head node; the count. The
//   head node is a sentinel: its next is the first element, its prev the
//   last, and the last element's next is the head again. Each node: next,
//   prev, then the element (a string object).
// The word, the pointers, the length, the capacity and the count are
// pointer-sized: 64-bit builds widen them and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vask {

inline constexpr size_t kRuntimeInlineBytes = 16;

struct RuntimeString {
  uintptr_t owner;
  union {
    char text[kRuntimeInlineBytes];
    const char* pointer;
  } storage;
  uintptr_t length;
  uintptr_t capacity;
};

struct RuntimeListNode {
  RuntimeListNode* next;
  RuntimeListNode* prev;
  RuntimeString value;
};

struct RuntimeList {
  uintptr_t owner;
  RuntimeListNode* head;
  uintptr_t count;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(RuntimeString) == 28 && offsetof(RuntimeString, storage) == 4 &&
              offsetof(RuntimeString, length) == 20 && offsetof(RuntimeString, capacity) == 24);
static_assert(sizeof(RuntimeList) == 12 && offsetof(RuntimeListNode, value) == 8);
#endif

// The text of a string object: `length` bytes, NULs included.
inline std::string ReadRuntimeString(const RuntimeString& s) {
  const char* text = s.capacity < kRuntimeInlineBytes ? s.storage.text : s.storage.pointer;
  if (text == nullptr) return std::string();
  return std::string(text, s.length);
}

// A string object for `text`, valid while `text` lives unchanged: a short
// text is copied in, a longer one pointed to.
inline RuntimeString RuntimeStringOver(const std::string& text) {
  RuntimeString s{};
  s.length = text.size();
  if (text.size() < kRuntimeInlineBytes) {
    s.capacity = kRuntimeInlineBytes - 1;
    std::memcpy(s.storage.text, text.data(), text.size());
  } else {
    s.capacity = text.size();
    s.storage.pointer = text.c_str();
  }
  return s;
}

// The texts of a list object, first to last; stops at the count, or where
// the ring comes back to the head, whichever is first.
inline std::vector<std::string> ReadRuntimeList(const RuntimeList& list) {
  std::vector<std::string> texts;
  if (list.head == nullptr) return texts;
  const RuntimeListNode* node = list.head->next;
  for (uintptr_t i = 0; i < list.count && node != nullptr && node != list.head; ++i) {
    texts.push_back(ReadRuntimeString(node->value));
    node = node->next;
  }
  return texts;
}

// A list object over `texts`, valid while this object and `texts` live
// unchanged.
class RuntimeTextList {
 public:
  explicit RuntimeTextList(const std::vector<std::string>& texts) : nodes_(texts.size()) {
    head_ = RuntimeListNode{};
    RuntimeListNode* prev = &head_;
    for (size_t i = 0; i < texts.size(); ++i) {
      nodes_[i].value = RuntimeStringOver(texts[i]);
      nodes_[i].prev = prev;
      prev->next = &nodes_[i];
      prev = &nodes_[i];
    }
    prev->next = &head_;
    head_.prev = prev;
    list_.owner = 0;
    list_.head = &head_;
    list_.count = texts.size();
  }
  RuntimeTextList(const RuntimeTextList&) = delete;
  RuntimeTextList& operator=(const RuntimeTextList&) = delete;

  const RuntimeList* list() const { return &list_; }

 private:
  std::vector<RuntimeListNode> nodes_;
  RuntimeListNode head_;
  RuntimeList list_;
};

}  // namespace vask
