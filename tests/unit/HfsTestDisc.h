// Real HFS volumes made by hfsutils and packed by mkdisc, in memory, for
// the tests that run whole recovery jobs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DiscBuilder.h"
#include "TempDir.h"
#include "MemoryTransport.h"
#include "volume/PackedFormat.h"

namespace kestrow::test {

// File contents: half text, half noise (alternate 4 KiB runs), so that the
// blocks compress to different sizes; `seed` makes each file its own.
inline std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = (i / 4096) % 2 == 0 ? static_cast<char>('a' + (i + seed) % 23) : static_cast<char>(x >> 24);
  }
  return s;
}

struct MacFile {
  std::string path;  // "Folder:Sub:name" under the volume's root ("name" for the root)
  std::string contents;
};

struct HfsDisc {
  std::vector<std::uint8_t> raw;  // 2,352-byte sectors
  mkdisc::DiscLayout layout;
};

// The disc's user data (2,048 bytes per sector), for a MemoryTransport.
inline std::vector<std::uint8_t> UserData(const std::vector<std::uint8_t>& raw) {
  const std::size_t sectors = raw.size() / format::kRawSectorSize;
  std::vector<std::uint8_t> user(sectors * format::kUserDataSize);
  for (std::size_t s = 0; s < sectors; ++s) {
    std::copy_n(raw.begin() + static_cast<std::ptrdiff_t>(s * format::kRawSectorSize + format::kUserDataOffset),
                format::kUserDataSize, user.begin() + static_cast<std::ptrdiff_t>(s * format::kUserDataSize));
  }
  return user;
}

// A disc in memory made of raw sectors.
inline std::unique_ptr<MemoryTransport> MakeDiscFromRaw(const std::vector<std::uint8_t>& raw) {
  return std::make_unique<MemoryTransport>(UserData(raw));
}

// Formats a 32 MiB volume "Disc", creates the folders of `files` and copies
// each file in (raw, type TEXT/ttxt), then packs it. False (with a reason in
// `error`) when hfsutils or mkdisc fail.
inline bool MakeHfsDisc(const std::vector<MacFile>& files, const mkdisc::DiscOptions& options, HfsDisc& disc,
                        std::string& error) {
  TempDir work;
  const std::string dir = work.path().string();
  // hfsutils keeps its current volume in $HOME/.hcwd.
  ::setenv("HOME", dir.c_str(), 1);
  const std::string volume = dir + "/volume.hfs";
  const auto run = [&error](const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) == 0) return true;
    error = "failed: " + command;
    return false;
  };
  const auto quoted = [](const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  };
  if (!run("dd if=/dev/zero of=" + quoted(volume) + " bs=1M count=32") ||
      !run("hformat -l Disc " + quoted(volume)) || !run("hmount " + quoted(volume))) {
    return false;
  }
  std::set<std::string> folders;
  bool ok = true;
  for (std::size_t i = 0; ok && i < files.size(); ++i) {
    const std::string& path = files[i].path;
    for (std::size_t colon = path.find(':'); ok && colon != std::string::npos; colon = path.find(':', colon + 1)) {
      const std::string folder = path.substr(0, colon);
      if (folders.insert(folder).second) ok = run("hmkdir " + quoted(":" + folder));
    }
    const std::string local = dir + "/file" + std::to_string(i);
    std::ofstream(local, std::ios::binary) << files[i].contents;
    ok = ok && run("hcopy -r " + quoted(local) + " " + quoted(":" + path)) &&
         run("hattrib -t TEXT -c ttxt " + quoted(":" + path));
  }
  run("humount");
  if (!ok) return false;
  std::ifstream in(volume, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  return mkdisc::BuildDisc(bytes, options, disc.raw, disc.layout, error);
}

}  // namespace kestrow::test
