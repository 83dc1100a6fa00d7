// The computers a broadcast writes to (workgroup_listing.h).
#include "workgroup_listing.h"

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <utility>

#include "lan.h"
#include "mutex.h"

namespace vask::platform {
namespace {

// A folder as it was when listed. Its modification and change times move
// with every entry made or removed in it; the identity and link count catch
// a folder replaced by another.
struct Stamp {
  dev_t device = 0;
  ino_t inode = 0;
  nlink_t links = 0;
  timespec modified{};
  timespec changed{};

  static Stamp Of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_nlink, info.st_mtim, info.st_ctim};
  }
  bool operator==(const Stamp& other) const {
    return device == other.device && inode == other.inode && links == other.links &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// File times come from a clock that may advance only once a tick: a folder
// changed within this long before its listing may change again unseen with
// the same time, so such a listing is not reused.
constexpr long kTimeGrainNs = 50'000'000;

bool OlderThan(const timespec& time, const timespec& limit) {
  return time.tv_sec < limit.tv_sec ||
         (time.tv_sec == limit.tv_sec && time.tv_nsec < limit.tv_nsec);
}

// The LAN directory's state when it is ours alone and no link; false else.
bool StampOfLan(const std::string& lan, Stamp* stamp) {
  static const uid_t owner = ::geteuid();
  struct stat info {};
  if (::lstat(lan.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != owner ||
      (info.st_mode & 077) != 0) {
    return false;
  }
  *stamp = Stamp::Of(info);
  return true;
}

class Listing {
 public:
  static Listing& Get() {
    static Listing* const listing = new Listing;  // outlives every writer
    return *listing;
  }

  std::shared_ptr<const std::vector<std::string>> Computers() {
    std::string lan = LanPath();
    const std::string workgroup = OwnWorkgroup();
    Stamp lanStamp;
    if (!StampOfLan(lan, &lanStamp)) {
      // Missing (made now), or refused with the reason set.
      if (!LanDirectory(&lan) || !StampOfLan(lan, &lanStamp)) return nullptr;
    }
    MutexLock guard(lock_);
    if (reusable_ && lan == lan_ && workgroup == workgroup_ && lanStamp == lanStamp_ &&
        GroupsUnchangedLocked()) {
      return computers_;
    }
    ListLocked(lan, workgroup, lanStamp);
    return computers_;
  }

 private:
  Listing() = default;

  bool GroupsUnchangedLocked() REQUIRES(lock_) {
    for (const auto& [folder, stamp] : groups_) {
      struct stat info {};
      if (::stat(folder.c_str(), &info) != 0 || !(Stamp::Of(info) == stamp)) return false;
    }
    return true;
  }

  // Each folder's state is taken before it is listed: a change after that
  // shows at the next write.
  void ListLocked(const std::string& lan, const std::string& workgroup, const Stamp& lanStamp)
      REQUIRES(lock_) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    timespec settled = now;
    settled.tv_nsec -= kTimeGrainNs;
    if (settled.tv_nsec < 0) {
      settled.tv_nsec += 1'000'000'000;
      --settled.tv_sec;
    }
    bool reusable = OlderThan(lanStamp.modified, settled) && OlderThan(lanStamp.changed, settled);
    auto computers = std::make_shared<std::vector<std::string>>();
    groups_.clear();
    for (const std::string& groupName : FoldersNamed(lan, workgroup)) {
      const std::string group = lan + "/" + groupName;
      struct stat info {};
      if (::stat(group.c_str(), &info) != 0) continue;
      const Stamp stamp = Stamp::Of(info);
      reusable =
          reusable && OlderThan(stamp.modified, settled) && OlderThan(stamp.changed, settled);
      groups_.emplace_back(group, stamp);
      for (const std::string& computer : ListDirectory(group)) {
        computers->push_back(group + "/" + computer);
      }
    }
    lan_ = lan;
    workgroup_ = workgroup;
    lanStamp_ = lanStamp;
    computers_ = std::move(computers);
    reusable_ = reusable;
  }

  Mutex lock_;
  std::string lan_ GUARDED_BY(lock_);
  std::string workgroup_ GUARDED_BY(lock_);
  Stamp lanStamp_ GUARDED_BY(lock_);
  std::vector<std::pair<std::string, Stamp>> groups_ GUARDED_BY(lock_);
  std::shared_ptr<const std::vector<std::string>> computers_ GUARDED_BY(lock_);
  bool reusable_ GUARDED_BY(lock_) = false;
};

}  // namespace

std::shared_ptr<const std::vector<std::string>> WorkgroupComputers() {
  return Listing::Get().Computers();
}

}  // namespace vask::platform
