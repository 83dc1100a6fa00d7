// The presence watch: finds contacts whose computer vanished without a
// leaving "STATUS" 0 (killed, unplugged, hung) and shows them offline.
//
// A contact is asked "GETSTATUS" (which every copy answers with "STATUS")
// when a send to it fails, when a message to it expires unacknowledged, and,
// rate-bounded, when it has been quiet for a long time. Any datagram from it
// settles the question; one that brings none within kAnswerSeconds is shown
// offline as its leaving announcement would show it. Nothing new goes on the
// wire: only datagrams that old copies already answer.
//
// The numbers, and the bounds they give:
// - A question is asked up to kAsks times, kAskSpacingSeconds apart; the
//   contact is shown offline kAnswerSeconds after the first ask when nothing
//   came from it. After a failed send: at most a poll (0.25 s) plus
//   kAnswerSeconds plus a clock tick, about 7 s. After an expiry: the
//   message's 11 s plus the same, about 18 s.
// - Without any send, the worker asks at most one contact per
//   kRoundSeconds, taking the contacts in turn from a point set by the own
//   computer's name, and only contacts not heard from and not asked for
//   kQuietSeconds. A killed contact is shown offline at the latest
//   kQuietSeconds + E * kRoundSeconds + kAnswerSeconds (+ 2 s of ticks)
//   after the last datagram heard from it, E being the number of contacts
//   eligible at the time (at most the present ones): 5 min 13 s with one,
//   5 min 58 s with ten, about 1 h 28 min with a thousand.
// - Load: each copy sends at most kAsks "GETSTATUS" per kRoundSeconds on its
//   own account (0.6 a second), and asks one contact at most kAsks times
//   per kQuietSeconds, so a copy listed by N others gets at most
//   N * kAsks / kQuietSeconds questions a second from the rounds (10 a
//   second for N = 1000), each answered with one "STATUS". Any datagram
//   counts as heard both ways: the question itself tells the asked copy
//   that the asker lives, so two copies watching each other ask once.
// - A contact this watch showed offline stays in the rounds (at the same
//   rate), so one shown offline by mistake on a lossy network comes back.
// - A contact shown absent whose datagrams arrive (its "STATUS" was lost)
//   is asked as above, at most once per kAbsentAskSeconds; the senders of
//   one pass are looked at once each, at most kHeardPerPass of them.
// - kCatchUpSeconds after the start, every contact not heard from since is
//   asked once (no answer changes nothing), kCatchUpPerPass a pass, so a
//   start whose own "GETSTATUS" to everybody, or its answers, were lost
//   still finds who is there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vask {

inline constexpr int64_t kAskSpacingSeconds = 2;
inline constexpr int kAsks = 3;
inline constexpr int64_t kAnswerSeconds = 6;
inline constexpr int64_t kRoundSeconds = 5;
inline constexpr int64_t kQuietSeconds = 300;
inline constexpr int64_t kAbsentAskSeconds = 30;
inline constexpr size_t kHeardPerPass = 256;  // not a host number: a bound
inline constexpr int64_t kCatchUpSeconds = 3;
inline constexpr int kCatchUpPerPass = 16;

// Asks `contact` (a computer name) whether it is still there: the worker
// sends the question at its next pass. A contact with a question already
// open is not asked twice. Any thread.
void AskWhetherPresent(const std::string& contact);
// A datagram from the contact `sender` was accepted at `now` (Unix
// seconds): it lives. Any thread (the worker in practice).
void NoteHeardFrom(const std::string& sender, int64_t now);
// The worker's step once per pass, after the slots were read: sends the
// questions due, shows offline the contacts that did not answer in time and
// starts the next round's question. `now` in Unix seconds.
void TendPresence(int64_t now);
// Forgets everything watched so far; the quiet time of every contact starts
// at `now`. The worker calls it when it starts.
void ResetPresenceWatch(int64_t now);

}  // namespace vask
