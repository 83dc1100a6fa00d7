// A profile that lasts: quitting and starting again brings back the
// contacts, the message history and the last status with its description
// (the host hands it to the plug-in in its answer to the announcement).
// A write the profile refuses is told to the user, and a file that cannot
// be a profile is refused at start with a Polish text.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "multi_fixture.h"

namespace vask::multi {
namespace {

// Runs SQL on the profile as another program would, beside a running host.
bool ExecOn(const std::string& profile, const std::string& sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(profile.c_str(), &db) == SQLITE_OK;
  if (ok) {
    sqlite3_busy_timeout(db, 5000);
    ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  sqlite3_close(db);
  return ok;
}

// An "error" event about the profile whose message holds `text`.
LinePredicate IsProfileError(const std::string& text) {
  return [text](const std::string& line) {
    return JsonField(line, "event") == "error" && JsonField(line, "command") == "profile" &&
           JsonField(line, "message").value_or("").find(text) != std::string::npos;
  };
}

// vask-host run once with no input, through `prefix` (a command that runs
// it as another user, or ""): its exit status and everything it printed.
struct Refusal {
  int exit = -1;
  std::string output;
};
Refusal RunOnce(const std::string& profile, const std::string& lanDir,
                const std::string& prefix = "") {
  const std::string command = prefix + " timeout 20 '" + test::BuildDir() +
                              "/vask-host' --computer A --script --lan-dir '" + lanDir +
                              "' --profile '" + profile + "' </dev/null 2>&1";
  Refusal run;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) run.output += buffer;
  const int status = pclose(pipe);
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class ProfileAcrossRestarts : public MultiFixture {};

TEST_F(ProfileAcrossRestarts, ContactsHistoryAndLastStatusComeBack) {
  const std::string profile = lanDir_ + "/A.db";
  {
    HostProcess& a = StartHost("A", profile);
    HostProcess& b = StartHost("B");
    a.Send("add B");
    b.Send("add A");
    a.Send(StatusCommand(kStatusBrb, "na obiedzie"));
    ASSERT_TRUE(a.WaitForContacts([](const std::string& list) {
      auto entry = ContactEntry(list, "B");
      return entry && JsonInt(*entry, "status") != kStatusOffline;
    }));
    b.Send("send A dzień dobry");
    ASSERT_TRUE(a.WaitFor(IsEvent("message")));
    a.Stop();
  }

  HostProcess& again = StartHost("A", profile);
  auto list = again.WaitForContacts([](const std::string& list) {
    return ContactEntry(list, "B").has_value() && JsonInt(list, "ownStatus") == kStatusBrb;
  });
  ASSERT_TRUE(list) << "no contact list after the restart";
  EXPECT_TRUE(ContactEntry(*list, "B").has_value()) << *list;
  EXPECT_EQ(JsonInt(*list, "ownStatus"), std::optional<int64_t>(kStatusBrb)) << *list;

  const size_t mark = again.Mark();
  again.Send("history");
  auto history = again.WaitFor(
      [](const std::string& line) { return line.find("dzień dobry") != std::string::npos; }, mark);
  EXPECT_TRUE(history) << "the message from B is not in the restored history";
}

// What became of each sent message is kept with it: after a restart the
// history still tells the one that went out from the one that did not. A
// profile made before the history kept this opens as it was, its old rows
// without a mark.
TEST_F(ProfileAcrossRestarts, EachSentMessagesMarkComesBackAfterARestart) {
  const std::string profile = lanDir_ + "/A.db";
  auto sendResult = [](const std::string& sent) {
    return [sent](const std::string& line) {
      return JsonField(line, "event") == "send-result" && JsonField(line, "sent") == sent;
    };
  };
  {
    HostProcess& a = StartHost("A", profile);
    a.Send(StatusCommand(kStatusAvailable));
    a.Send("send NIKT przed zmianą");
    ASSERT_TRUE(a.WaitFor(sendResult("0")));
    a.Stop();
  }
  // The profile as a host that kept no marks left it.
  ASSERT_TRUE(ExecOn(profile, "ALTER TABLE history DROP COLUMN delivery"));
  {
    HostProcess& a = StartHost("A", profile);
    HostProcess& b = StartHost("B");
    a.Send("add B");
    b.Send("add A");
    a.Send(StatusCommand(kStatusAvailable));
    b.Send(StatusCommand(kStatusAvailable));
    ASSERT_TRUE(a.WaitForContacts([](const std::string& list) {
      auto entry = ContactEntry(list, "B");
      return entry && JsonInt(*entry, "status") == kStatusAvailable;
    }));
    size_t mark = a.Mark();
    a.Send("send B doszło");
    ASSERT_TRUE(a.WaitFor(sendResult("1"), mark));
    mark = a.Mark();
    a.Send("send NIKT nie doszło");
    ASSERT_TRUE(a.WaitFor(sendResult("0"), mark));
    a.Stop();
  }
  HostProcess& again = StartHost("A", profile);
  const size_t mark = again.Mark();
  again.Send("history");
  auto history = again.WaitFor(IsEvent("history"), mark);
  ASSERT_TRUE(history.has_value());
  auto deliveryOf = [&](const std::string& body) -> std::string {
    const size_t at = history->find("\"body\":\"" + body + "\"");
    if (at == std::string::npos) return "missing";
    const size_t next = history->find("{\"number\"", at);
    const std::string entry = history->substr(at, next == std::string::npos ? next : next - at);
    return JsonField(entry, "delivery").value_or("none");
  };
  EXPECT_EQ(deliveryOf("przed zmianą"), "none") << *history;
  EXPECT_EQ(deliveryOf("doszło"), "sent") << *history;
  EXPECT_EQ(deliveryOf("nie doszło"), "failed") << *history;
}

}  // namespace
}  // namespace vask::multi

namespace vask::multi {
namespace {

// The description set before quitting comes back with the status: the
// peer sees it again once the restarted host is online.
TEST_F(ProfileAcrossRestarts, TheStatusDescriptionComesBackAfterARestart) {
  const std::string profile = lanDir_ + "/A.db";
  HostProcess& b = StartHost("B");
  b.Send("add A");
  b.Send(StatusCommand(kStatusAvailable));
  auto seenOnB = [&b](int status, const std::string& text) {
    return b.WaitForContacts([status, text](const std::string& list) {
      auto entry = ContactEntry(list, "A");
      return entry && JsonInt(*entry, "status") == status && JsonField(*entry, "text") == text;
    });
  };
  auto described = [](int status, const std::string& text) {
    return [status, text](const std::string& list) {
      auto entry = ContactEntry(list, "A");
      return entry && JsonInt(*entry, "status") == status && JsonField(*entry, "text") == text;
    };
  };
  {
    HostProcess& a = StartHost("A", profile);
    a.Send("add B");
    a.Send(StatusCommand(kStatusAvailable, "przy biurku"));
    auto list = seenOnB(kStatusAvailable, "przy biurku");
    ASSERT_TRUE(list && described(kStatusAvailable, "przy biurku")(*list))
        << list.value_or("no contact list from B");
    ASSERT_EQ(a.Stop(), "");
  }
  auto gone = b.WaitForContacts([](const std::string& list) {
    auto entry = ContactEntry(list, "A");
    return entry && JsonInt(*entry, "status") == kStatusOffline;
  });
  ASSERT_TRUE(gone && JsonInt(*ContactEntry(*gone, "A"), "status") == kStatusOffline)
      << gone.value_or("no contact list from B");

  HostProcess& again = StartHost("A", profile);
  auto back = seenOnB(kStatusAvailable, "przy biurku");
  EXPECT_TRUE(back && described(kStatusAvailable, "przy biurku")(*back))
      << back.value_or("no contact list from B");
  auto own = again.WaitForContacts(
      [](const std::string& list) { return JsonField(list, "ownText") == "przy biurku"; });
  ASSERT_TRUE(own);
  EXPECT_EQ(JsonInt(*own, "ownStatus"), std::optional<int64_t>(kStatusAvailable)) << *own;
  EXPECT_EQ(JsonField(*own, "ownText"), "przy biurku") << *own;
}

// Another program locks the history and the ignore list away beside the
// running host: the message still shows, and each failed write is told
// with SQLite's reason; the ignore command claims nothing.
TEST_F(ProfileAcrossRestarts, AWriteTheProfileRefusesIsReportedNotSilent) {
  const std::string profile = lanDir_ + "/A.db";
  HostProcess& a = StartHost("A", profile);
  HostProcess& b = StartHost("B");
  a.Send(StatusCommand(kStatusAvailable));
  b.Send(StatusCommand(kStatusAvailable));
  ASSERT_TRUE(ExecOn(profile,
                     "CREATE TRIGGER no_history BEFORE INSERT ON history "
                     "BEGIN SELECT RAISE(ABORT, 'history locked by test'); END;"
                     "CREATE TRIGGER no_ignoring BEFORE INSERT ON ignored "
                     "BEGIN SELECT RAISE(ABORT, 'ignore list locked by test'); END;"));

  size_t mark = a.Mark();
  b.Send("send A dzień dobry");
  EXPECT_TRUE(a.WaitFor(
      [](const std::string& line) {
        return JsonField(line, "event") == "message" && JsonField(line, "body") == "dzień dobry";
      },
      mark));
  auto lost = a.WaitFor(IsProfileError("history locked by test"), mark);
  ASSERT_TRUE(lost);
  EXPECT_EQ(JsonField(*lost, "message"), "Nie udało się zapisać profilu: history locked by test");

  mark = a.Mark();
  a.Send("ignore NATRET");
  a.Send("wait 0");
  ASSERT_TRUE(a.WaitFor(IsProfileError("ignore list locked by test"), mark));
  ASSERT_TRUE(a.WaitFor(IsEvent("waited"), mark));
  EXPECT_FALSE(a.WaitFor(IsEvent("ignored"), mark, 0ms)) << "the failed ignore claimed success";
}

// One host per profile: a second one on a profile a running host holds is
// refused in Polish, naming the holder, and the first keeps working and
// keeping. A lock left by a process that has gone is taken over.
TEST_F(ProfileAcrossRestarts, ASecondHostOnAHeldProfileIsRefusedAndTheFirstLosesNothing) {
  const std::string profile = lanDir_ + "/A.db";
  {
    HostProcess& a = StartHost("A", profile);
    size_t mark = a.Mark();
    a.Send("add B");
    ASSERT_TRUE(a.WaitFor(IsEvent("contact-added"), mark));

    Refusal second = RunOnce(profile, lanDir_);
    EXPECT_EQ(second.exit, 3) << second.output;
    EXPECT_NE(second.output.find(profile + ": z tego profilu korzysta już inny vask-host (proces " +
                                 std::to_string(a.pid()) + ")"),
              std::string::npos)
        << second.output;

    mark = a.Mark();
    a.Send("add C");
    ASSERT_TRUE(a.WaitFor(IsEvent("contact-added"), mark)) << "the first host stopped working";
    a.Stop();
  }
  // The lock file stays behind its host, naming a process that is gone:
  // the next host takes it over, and finds what the first one kept.
  HostProcess& again = StartHost("A", profile);
  auto list = again.WaitForContacts([](const std::string& list) {
    return ContactEntry(list, "B").has_value() && ContactEntry(list, "C").has_value();
  });
  EXPECT_TRUE(list) << "a contact of the first host was lost";
  std::ifstream lock(profile + ".lock");
  std::string holder;
  lock >> holder;
  EXPECT_EQ(holder, std::to_string(again.pid()));
}

class RefusedProfiles : public MultiFixture {};

// Files that cannot be a profile are refused before anything starts, with
// exit code 3 and a Polish text naming the file, and stay as they were.
TEST_F(RefusedProfiles, AFileThatIsNoProfileIsRefusedInPolishAndLeftAlone) {
  const std::string notes = lanDir_ + "/notatki.txt";
  { std::ofstream(notes) << "to są czyjeś notatki, nie baza danych\n"; }
  Refusal run = RunOnce(notes, lanDir_);
  EXPECT_EQ(run.exit, 3) << run.output;
  EXPECT_NE(run.output.find(notes + ": to nie jest profil vask-host"), std::string::npos)
      << run.output;

  const std::string other = lanDir_ + "/inny.db";
  ASSERT_TRUE(ExecOn(other, "CREATE TABLE notes (x); INSERT INTO notes VALUES (1);"));
  run = RunOnce(other, lanDir_);
  EXPECT_EQ(run.exit, 3) << run.output;
  EXPECT_NE(run.output.find(other + ": to nie jest profil vask-host"), std::string::npos)
      << run.output;

  run = RunOnce(lanDir_, lanDir_);  // a folder
  EXPECT_EQ(run.exit, 3) << run.output;
  EXPECT_NE(run.output.find("nie można otworzyć profilu"), std::string::npos) << run.output;
}

// A profile the user may only read: refused with what to do about it, not
// with SQLite's English. The superuser may write any file, so as root the
// host runs as nobody, for whom a profile root owns is read-only.
TEST_F(RefusedProfiles, AReadOnlyProfileIsRefusedInPolish) {
  const std::string folder = lanDir_ + "/profile";
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  const std::string profile = folder + "/A.db";
  Refusal made = RunOnce(profile, lanDir_);
  ASSERT_EQ(made.exit, 0) << made.output;
  std::string prefix;
  std::string lan = lanDir_;
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to run as nobody";
    ASSERT_EQ(chmod(lanDir_.c_str(), 0755), 0);
    // nobody's own LAN directory: the host refuses one that is not its own.
    lan = lanDir_ + "/nobody-lan";
    ASSERT_EQ(mkdir(lan.c_str(), 0700), 0);
    ASSERT_EQ(chown(lan.c_str(), 65534, 65534), 0);
    prefix = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups";
  } else {
    ASSERT_EQ(chmod(profile.c_str(), 0444), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0555), 0);
  }
  Refusal run = RunOnce(profile, lan, prefix);
  chmod(folder.c_str(), 0755);
  EXPECT_EQ(run.exit, 3) << run.output;
  EXPECT_NE(run.output.find(profile + ": profil jest tylko do odczytu"), std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("readonly"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace vask::multi
