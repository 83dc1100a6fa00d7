// A fresh emulated LAN for each test: a private temporary LAN directory and
// this process's computer and workgroup names, restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_lan.h"
#include "win32.h"

namespace vask::testing {

class LanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The LAN directory itself does not exist yet: the platform makes it.
    temp_ = std::make_unique<test::TempLan>("PC1", "", "vask-lan-test");
    ASSERT_TRUE(temp_->ok());
    root_ = temp_->dir();
    lan_ = root_ + "/lan";
    temp_->Set("VASK_LAN_DIR", lan_.c_str());
  }

  void TearDown() override {
    for (HANDLE handle : handles_) CloseHandle(handle);
    temp_.reset();
  }

  // Server slot on this computer, closed at the end of the test.
  HANDLE Server(const char* name, DWORD maxSize = 100100, DWORD timeout = 0) {
    HANDLE handle = CreateMailslotA((std::string("\\\\.\\mailslot\\") + name).c_str(), maxSize,
                                    timeout, nullptr);
    if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
    return handle;
  }
  // Server slot on another computer of this workgroup.
  HANDLE ServerOn(const char* computer, const char* name, DWORD maxSize = 100100) {
    HANDLE handle = VaskCreateMailslotOn(computer, name, maxSize);
    if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
    return handle;
  }
  HANDLE Client(const std::string& computer, const std::string& name) {
    HANDLE handle =
        CreateFileA(("\\\\" + computer + "\\mailslot\\" + name).c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) handles_.push_back(handle);
    return handle;
  }
  // Forgets a handle the test closed itself.
  void Forget(HANDLE handle) { std::erase(handles_, handle); }

  static bool Write(HANDLE client, const std::string& text) {
    DWORD written = 0;
    return WriteFile(client, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }
  // The next message, or "<none>" when the slot is empty.
  static std::string Read(HANDLE server) {
    std::vector<char> buffer(200000);
    DWORD read = 0;
    if (!ReadFile(server, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return "<none>";
    return std::string(buffer.data(), read);
  }
  static DWORD Count(HANDLE server) {
    DWORD count = 0xDEAD;
    EXPECT_TRUE(GetMailslotInfo(server, nullptr, nullptr, &count, nullptr));
    return count;
  }

  void SetWorkgroup(const char* name) { temp_->Set("VASK_WORKGROUP", name); }
  void SetComputer(const char* name) { temp_->Set("COMPUTERNAME", name); }
  void SetRemoteMailslots(const char* value) { temp_->Set("VASK_REMOTE_MAILSLOTS", value); }
  void SetLanDirectory(const std::string& path) { temp_->Set("VASK_LAN_DIR", path.c_str()); }

  std::string root_;
  std::string lan_;

 private:
  std::unique_ptr<test::TempLan> temp_;
  std::vector<HANDLE> handles_;
};

}  // namespace vask::testing
