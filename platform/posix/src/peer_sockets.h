// The sockets this process writes to servers on (peer_sockets.cpp): one
// connected socket per server, kept for later writes, so that a write is
// one send.
//
// A socket is connected once, after the LAN directory has been checked (ours
// alone) and the slot's file found to be a socket and no link; from then on
// it leads to the server that was bound there at the connect, whatever
// happens to the folders above, and a write on it looks up no path. A server
// that has gone shows in the send's error (ECONNREFUSED, then ENOTCONN); the
// writer then drops the entry and resolves the name again.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "descriptors.h"

namespace vask::platform {

// A socket connected to the server bound at `path` when it was made.
struct Peer {
  Peer(std::string socketPath, Fd connected)
      : path(std::move(socketPath)), socket(std::move(connected)) {}
  const std::string path;
  const Fd socket;
  // The generation of this process's servers (LocalServersGeneration) at
  // which path was last found to be none of them; 0 before the first look.
  std::atomic<uint64_t> notLocalAt{0};
};

// The peer kept under key (a client's name, or a socket path), or null.
std::shared_ptr<Peer> FindPeer(const std::string& key);
// Keeps peer under key; when the cache is full, the entry used longest ago
// goes (its socket closes once no write uses it).
void KeepPeer(const std::string& key, std::shared_ptr<Peer> peer);
// Forgets the entry under key when it still holds `peer`.
void DropPeer(const std::string& key, const Peer* peer);

// Whether a send's errno says the peer is not, or no longer, a live server
// (gone, or gone and bound anew): ECONNREFUSED on the first send after,
// ENOTCONN on any later one.
bool PeerGone(int error);

// The entries the cache keeps at most: 1024, or a quarter of the process's
// descriptor limit when that is less (at least 16).
size_t PeerLimit();

}  // namespace vask::platform
