#include "protocol/incoming_messages.h"

#include "base/clock.h"
#include "base/host_api.h"
#include "base/log.h"
#include "base/sender_table.h"
#include "base/text.h"
#include "protocol/repeat_window.h"
#include "transport/lan_engine.h"

namespace vask {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HostIgnores(const std::string& sender) {
  return SendHost(kMsgIsIgnored, NET_LAN, sender.c_str()) != 0;
}

// The library's one window, the worker's alone (the receive loop is its
// only caller); emptied with the library.
RepeatWindow& ShownMessages() {
  static RepeatWindow window;
  return window;
}

// The last WinPopup datagram of each sender. The format has no number, so
// a copy the network made (a lossy LAN doubles datagrams, and a computer
// with two transports hears each twice) looks like a new message; only one
// that comes again within kPopupRepeatSeconds is taken for a copy, so a
// person who sends the same words again later is still heard.
struct LastPopup {
  uint64_t digest = 0;
  size_t size = 0;
  int64_t at = 0;
  bool seen = false;
};
constexpr size_t kPopupSenders = 256;  // not a host number: a bound
// At 10 % loss, one answer in a hundred is lost twice over, one in a
// thousand three times.
constexpr int kAnswerCopies = 3;

SenderTable<LastPopup>& LastPopups() {
  static SenderTable<LastPopup> table{kPopupSenders};
  return table;
}

}  // namespace

void HandleWinPopup(const DatagramFields& fields, const std::string& bytes, int64_t now) {
  LastPopup& last = LastPopups().Heard(fields[0]);
  const uint64_t digest = BytesDigest(bytes);
  const bool copy = last.seen && last.digest == digest && last.size == bytes.size() &&
                    now >= last.at && now - last.at <= kPopupRepeatSeconds;
  last = LastPopup{digest, bytes.size(), now, true};
  if (copy) {
    Log("V.ask: powtorzona wiadomosc WinPopup od %s pominieta", fields[0].c_str());
    return;
  }
  DeliverIncoming(fields[0], fields[2], now);
}

int64_t ParseHexTime(const std::string& text) {
  // Unsigned arithmetic: an absurdly long run of digits wraps instead of
  // overflowing; any sane clock fits well within 64 bits.
  uint64_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      break;
    }
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return static_cast<int64_t>(value);
}

Rejection HandleMessage(const DatagramFields& fields, int row, bool& messageDelivered) {
  if (fields.size() < 6) {
    return kTooShort;
  }
  const std::string& sender = fields[1];
  if (row < 0) {
    if (HostIgnores(sender)) {
      return kIgnored;
    }
  } else if ((GetContactInt(row, kColumnStatus) & kStatusIgnoredFlag) != 0) {
    return kIgnored;
  }
  // A message the sender sent again, or the network repeated, after other
  // datagrams of that sender is still answered (our first answer may be
  // what was lost) but shown once. Without its time field a message cannot
  // be told from a restarted sender's new one of the same number, so only
  // the last-number rule applies to it.
  const bool timed = fields.size() > 6;
  const bool repeated = timed && ShownMessages().Repeats(sender, fields[4], fields[6], UnixNow());
  if (!repeated) {
    // A message without its time field is dated when it arrives rather than
    // at the start of the epoch.
    const int64_t time = timed ? ParseHexTime(fields[6]) : UnixNow();
    DeliverIncoming(sender, fields[5], time);
  }
  // The number goes back exactly as it came: the sender parses it itself.
  // A lost answer leaves the sender telling its user that a message shown
  // here was likely lost, so the answer goes kAnswerCopies times, the same
  // datagram right behind itself while nothing else went to the sender:
  // the sender's last-number rule drops the copies when the first arrived,
  // and one lost on the way is stood in for by the next.
  LanEngine& engine = Engine();
  MessageCopy answer;
  if (engine.SendPacket(sender, "MESSAGEACK", fields[4], &answer) &&
      GetIntSetting(kSettingResend) != 0) {
    for (int copy = 1; copy < kAnswerCopies; ++copy) {
      if (!engine.WriteAgain(answer)) break;  // something else went to the sender
    }
  }
  if (!repeated) messageDelivered = true;
  return kAccepted;
}

void DeliverIncoming(const std::string& sender, const std::string& text, int64_t time) {
  if (HostIgnores(sender)) {
    return;
  }
  MessageRecord message = LanMessageRecord(kMessageTypeChat, sender, text, kIconMessage, time);
  const int row = static_cast<int>(SendHost(kMsgFindContact, NET_LAN, sender.c_str()));
  if (row != -1) {
    SendHost(kMsgContactChanged, row, 0);
  }
  if (!text.empty()) {
    SendHost(kMsgShowMessage, &message);
  }
}

void ForgetShownMessages() {
  ShownMessages().Clear();
  LastPopups().Clear();
}

}  // namespace vask
