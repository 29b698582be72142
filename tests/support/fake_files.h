#pragma once

// An in-memory file system behind the file primitives: one tree of folders with volumes
// mounted into it, each volume with its own way of comparing names, its own identities, room
// and file size limit; links, mount points, FIFOs, read-only marks; and a hook at every step
// where a test can play another program.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_primitives.h"

namespace salvatrix::testing {

struct FakeVolume {
  /// Two names with one key are one entry (empty: every spelling is its own).
  std::function<std::string(std::string_view)> fold;
  /// What the volume tells the copy about itself.
  FolderTraits traits;
  std::uint64_t room = std::uint64_t{1} << 40;
  /// FAT as Windows treats it: a rename onto a read-only file is refused.
  bool rename_refuses_read_only = false;
};

class FakeFiles final : public FilePrimitives {
 public:
  struct Node;

  /// Starts with "/" on a volume that keeps every spelling apart.
  FakeFiles();
  ~FakeFiles() override;

  /// Adds a volume and mounts it at path (a folder made for it); the drive letter's root is
  /// its root.
  void Mount(const std::string& path, FakeVolume volume, char letter = 0);
  /// Files ("content"), folders (a path ending in "/"), links ("@target"), FIFOs ("|").
  void Make(const std::string& path, const std::string& what);
  void SetReadOnly(const std::string& path, bool read_only);
  /// Rewrites a file's content; its modification time moves on unless keep_time.
  void Rewrite(const std::string& path, const std::string& content, bool keep_time = false);
  void Remove(const std::string& path);
  /// Marks the file at path as held by a live copy (its temporaries are not stale).
  void Hold(const std::string& path);

  /// Everything below path: files with their content, folders with "/", links "@target",
  /// FIFOs "|", read-only files with a trailing " (read-only)".
  std::map<std::string, std::string> Tree(const std::string& path) const;

  /// Called with "fill <source path>" before the first byte of a source moves, "create <path>",
  /// "rename <path>" before a file takes a name, and "flush <root>".
  std::function<void(const std::string&)> hook;
  std::vector<std::string> reports;

  std::unique_ptr<FileSession> StartSession() override;

  // The parts of the model the sessions use.
  struct Resolved;
  Node* Find(const std::string& path, bool follow_last) const;
  std::string PathOf(const Node* node) const;
  const FakeVolume& VolumeOf(const Node* node) const;
  Node* RootOf(char letter) const;
  void Hook(const std::string& event) {
    if (hook) {
      hook(event);
    }
  }

  std::vector<std::unique_ptr<FakeVolume>> volumes_;
  std::unique_ptr<Node> root_;
  std::map<char, Node*> drives_;
  std::int64_t clock_ = 1000;
  std::uint64_t next_number_ = 1;
};

}  // namespace salvatrix::testing
